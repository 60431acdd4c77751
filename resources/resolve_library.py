# Tessivo's shared library inside Resolve.
#
# The shared bin is "Tessivo" among Resolve's Power Bins (shared by every
# project). Each shared effect lives there as a timeline named after the
# effect that holds one real Text+ title carrying the effect's composition:
# scripting offers no way to put a bare Fusion title into a bin, but a
# timeline made while the bin is current lands in it.
#
# Modes (argument 1), with the request as JSON (argument 2):
#   scan     reads the bin back into the library: every title there becomes
#            an effect "shared-..." of the library root; effects whose title
#            left the bin leave the shared set.
#   create   mirrors every library effect into the bin (one title each, made
#            only when missing), then scans.
#   preview  samples the title of the shared effect `id` frame by frame in
#            Resolve into the effect's "preview" folder.
# The shared set is written to "shared-library.json" ({"ids": [...]}) in the
# library root. Every answer of Resolve is checked: failures come back as
# None, False or empty values, never as exceptions.
import json
import os
import re
import sys
import time
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"
BIN_NAME = "Tessivo"
SHARED_PREFIX = "shared-"
# Frames of a shared preview: the editor's list inlines every frame of every
# shared effect, so a preview stays as short as the included effects' ones.
PREVIEW_FRAMES = 12
NO_POWER_BIN = ("Dans Resolve, sélectionne Chutiers partagés (ou Chutiers partagés > Tessivo) dans le Media Pool, "
                "puis relance.")


class Failure(Exception):
    pass


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def write_json(path, value):
    temporary = os.path.join(os.path.dirname(path), ".%s.tmp" % os.path.basename(path))
    with open(temporary, "w", encoding="utf-8") as handle:
        json.dump(value, handle, ensure_ascii=False, indent=2, sort_keys=True)
        handle.write("\n")
    os.replace(temporary, path)


def read_json(path):
    try:
        with open(path, encoding="utf-8") as handle:
            value = json.load(handle)
        return value if isinstance(value, dict) else None
    except (OSError, ValueError):
        return None


def connect():
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except Exception:
        resolve = None
    if not resolve:
        raise Failure("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé.")
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    if not project:
        raise Failure("Aucun projet DaVinci Resolve ouvert.")
    pool = project.GetMediaPool()
    if not pool:
        raise Failure("Le Media Pool de Resolve est inaccessible.")
    return resolve, project, pool


def folder_ids(folder, seen):
    unique = folder.GetUniqueId()
    if not unique or unique in seen:
        return seen
    seen.add(unique)
    for child in folder.GetSubFolderList() or []:
        folder_ids(child, seen)
    return seen


def shared_bin(pool):
    """The "Tessivo" Power Bin: the current folder when it is that bin, else
    its sub-folder of that name, made when missing. Power Bins are reached
    only through the current folder, so a project bin current is refused."""
    current = pool.GetCurrentFolder()
    root = pool.GetRootFolder()
    if not current or not root:
        raise Failure(NO_POWER_BIN)
    if current.GetUniqueId() in folder_ids(root, set()):
        raise Failure(NO_POWER_BIN)
    if str(current.GetName() or "").strip().lower() == BIN_NAME.lower():
        return current
    for child in current.GetSubFolderList() or []:
        if str(child.GetName() or "").strip().lower() == BIN_NAME.lower():
            return child
    made = pool.AddSubFolder(current, BIN_NAME)
    if not made:
        raise Failure("Resolve n'a pas pu créer le chutier partagé Tessivo.")
    return made


def bin_titles(folder):
    """{name: clip} of the timelines the bin holds."""
    titles = {}
    for clip in folder.GetClipList() or []:
        if str(clip.GetClipProperty("Type") or "") == "Timeline":
            name = str(clip.GetName() or "")
            if name and name not in titles:
                titles[name] = clip
    return titles


def timeline_named(project, name):
    count = project.GetTimelineCount() or 0
    for index in range(1, int(count) + 1):
        timeline = project.GetTimelineByIndex(index)
        if timeline and timeline.GetName() == name:
            return timeline
    return None


def title_item(timeline):
    for index in range(1, int(timeline.GetTrackCount("video") or 0) + 1):
        for item in timeline.GetItemListInTrack("video", index) or []:
            if (item.GetFusionCompCount() or 0) >= 1:
                return item
    return None


def library_effects(root):
    """{id: metadata} of the library's effect folders."""
    effects = {}
    for name in sorted(os.listdir(root)):
        if name.startswith("."):
            continue
        metadata = read_json(os.path.join(root, name, "metadata.json"))
        if metadata is not None:
            effects[name] = metadata
    return effects


def shared_id(text):
    return SHARED_PREFIX + (re.sub(r"[^A-Za-z0-9_-]", "-", text).strip("-") or "titre")


class Restore:
    """Puts Resolve's current timeline and bin back as they were."""

    def __init__(self, project, pool):
        self.project, self.pool = project, pool

    def __enter__(self):
        self.timeline = self.project.GetCurrentTimeline()
        self.folder = self.pool.GetCurrentFolder()
        return self

    def __exit__(self, *exc):
        if self.timeline:
            self.project.SetCurrentTimeline(self.timeline)
        if self.folder:
            self.pool.SetCurrentFolder(self.folder)
        return False


def make_title(resolve, project, pool, folder, name, template):
    """A timeline `name` in the bin holding one Text+ title with `template`."""
    if not pool.SetCurrentFolder(folder):
        raise Failure("Resolve n'a pas pu ouvrir le chutier partagé Tessivo.")
    timeline = pool.CreateEmptyTimeline(name)
    if not timeline:
        raise Failure("Resolve n'a pas pu créer « %s » dans le chutier partagé." % name)
    try:
        if not project.SetCurrentTimeline(timeline) or not resolve.OpenPage("edit"):
            raise Failure("Resolve n'a pas pu ouvrir « %s » dans la page Montage." % name)
        item = timeline.InsertFusionTitleIntoTimeline("Text+")
        if not item:
            raise Failure("Resolve n'a pas pu créer le titre Text+ de « %s »." % name)
        if not item.ImportFusionComp(template):
            raise Failure("Resolve n'a pas pu charger la composition de « %s »." % name)
    except Failure:
        # A timeline left without its title would stand in the bin for the
        # effect, and the next run would never make the title again.
        pool.DeleteTimelines([timeline])
        raise


def shared_metadata(root, effect_id, base, title_name, template):
    folder = os.path.join(root, effect_id)
    old = read_json(os.path.join(folder, "metadata.json")) or {}
    metadata = dict(base)
    now = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    metadata.update({
        "id": effect_id,
        "schemaVersion": 1,
        "source": "shared",
        "sharedTitle": title_name,
        "templatePath": template,
        "createdAt": old.get("createdAt") or now,
        "updatedAt": now,
    })
    for key in ("previewFramePaths", "previewFps", "previewWidth", "previewHeight", "previewAspectRatio"):
        if key in old:
            metadata[key] = old[key]
        else:
            metadata.pop(key, None)
    metadata.setdefault("name", title_name)
    metadata.setdefault("category", "Chutier partagé")
    return metadata


def scan(request, resolve, project, pool, folder):
    root = request["libraryRoot"]
    titles = bin_titles(folder)
    effects = library_effects(root)
    by_title = {m.get("sharedTitle"): i for i, m in effects.items() if i.startswith(SHARED_PREFIX)}
    ids, preview_ids, found = [], [], 0
    for name, clip in sorted(titles.items()):
        effect_id = by_title.get(name)
        if effect_id is None:
            # A title someone put into the bin: its composition becomes an effect.
            timeline = timeline_named(project, name)
            item = title_item(timeline) if timeline else None
            if not item:
                continue
            effect_id = shared_id(str(clip.GetUniqueId() or name))
            os.makedirs(os.path.join(root, effect_id), exist_ok=True)
            template = os.path.join(root, effect_id, "template.setting")
            if not item.ExportFusionComp(template, 1) or not os.path.isfile(template):
                continue
            metadata = shared_metadata(root, effect_id, {"name": name, "textTargets": [], "primaryTextTarget": ""},
                                       name, template)
            write_json(os.path.join(root, effect_id, "metadata.json"), metadata)
            effects[effect_id] = metadata
            found += 1
        ids.append(effect_id)
        if not effects[effect_id].get("previewFramePaths"):
            preview_ids.append(effect_id)
    write_json(os.path.join(root, "shared-library.json"), {"ids": sorted(ids)})
    return {"success": True, "sharedIds": sorted(ids), "previewIds": preview_ids, "found": found,
            "message": "%d effet(s) dans le chutier partagé Tessivo." % len(ids)}


def create(request, resolve, project, pool, folder):
    root = request["libraryRoot"]
    titles = bin_titles(folder)
    made = 0
    with Restore(project, pool):
        for effect_id, metadata in library_effects(root).items():
            if effect_id.startswith(SHARED_PREFIX):
                continue
            template = os.path.join(root, effect_id, "template.setting")
            name = str(metadata.get("name") or effect_id)
            target = shared_id(effect_id)
            if not os.path.isfile(template):
                continue
            if name not in titles:
                make_title(resolve, project, pool, folder, name, template)
                made += 1
            os.makedirs(os.path.join(root, target), exist_ok=True)
            copy = os.path.join(root, target, "template.setting")
            with open(template, encoding="utf-8") as source, open(copy, "w", encoding="utf-8") as out:
                out.write(source.read())
            write_json(os.path.join(root, target, "metadata.json"), shared_metadata(root, target, metadata, name, copy))
    result = scan(request, resolve, project, pool, folder)
    result["created"] = made
    return result


def setting_number(timeline, key, default):
    match = re.search(r"[0-9]+(?:[.,][0-9]+)?", str(timeline.GetSetting(key) or ""))
    return float(match.group(0).replace(",", ".")) if match else default


def to_timecode(frame, nominal):
    frame = max(0, int(round(frame)))
    ss, ff = divmod(frame, nominal)
    mm, ss = divmod(ss, 60)
    hh, mm = divmod(mm, 60)
    return "%02d:%02d:%02d:%02d" % (hh, mm, ss, ff)


def preview(request, resolve, project, pool, folder):
    root, effect_id = request["libraryRoot"], str(request.get("id") or "")
    if not re.match(r"^[A-Za-z0-9_-]+$", effect_id):
        raise Failure("Identifiant d'effet Fusion invalide.")
    metadata = read_json(os.path.join(root, effect_id, "metadata.json"))
    if metadata is None:
        raise Failure("Les métadonnées de cet effet sont illisibles.")
    name = str(metadata.get("sharedTitle") or "")
    if name not in bin_titles(folder):
        raise Failure("« %s » n'est plus dans le chutier partagé Tessivo." % (name or effect_id))
    timeline = timeline_named(project, name)
    if not timeline:
        raise Failure("La timeline de « %s » est introuvable dans ce projet." % name)
    out = os.path.join(root, effect_id, "preview")
    os.makedirs(out, exist_ok=True)
    for entry in os.listdir(out):
        if entry.startswith("frame_"):
            os.remove(os.path.join(out, entry))
    kept = []
    with Restore(project, pool):
        if not project.SetCurrentTimeline(timeline) or not resolve.OpenPage("edit"):
            raise Failure("Resolve n'a pas pu ouvrir « %s »." % name)
        item = title_item(timeline)
        if not item:
            raise Failure("« %s » ne contient plus de titre Fusion." % name)
        rate = setting_number(timeline, "timelineFrameRate", 24.0)
        nominal = max(1, int(round(rate)))
        remembered = timeline.GetCurrentTimecode()
        start, end = item.GetStart(), item.GetEnd()
        if start is None or end is None or end <= start:
            raise Failure("La durée du titre « %s » est illisible." % name)
        count = PREVIEW_FRAMES
        try:
            for index in range(count):
                frame = start + int(round((end - start - 1) * index / max(1, count - 1)))
                if not timeline.SetCurrentTimecode(to_timecode(frame, nominal)):
                    continue
                path = os.path.join(out, "frame_%03d.jpg" % index)
                if project.ExportCurrentFrameAsStill(path) and os.path.isfile(path) and os.path.getsize(path) > 0:
                    kept.append(path)
        finally:
            if remembered:
                timeline.SetCurrentTimecode(remembered)
    if not kept:
        raise Failure("Resolve n'a pu exporter aucune image de « %s »." % name)
    width = int(setting_number(timeline, "timelineResolutionWidth", 1920))
    height = int(setting_number(timeline, "timelineResolutionHeight", 1080))
    fps = round(PREVIEW_FRAMES * rate / max(1, end - start), 3)
    metadata.update({"previewFramePaths": kept, "previewFps": fps, "previewWidth": width, "previewHeight": height,
                     "previewAspectRatio": width / max(1, height),
                     "updatedAt": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())})
    write_json(os.path.join(root, effect_id, "metadata.json"), metadata)
    return {"success": True, "id": effect_id, "previewFramePaths": kept}


def main(argv):
    modes = {"scan": scan, "create": create, "preview": preview}
    try:
        mode = argv[1] if len(argv) > 1 else ""
        request = json.loads(argv[2]) if len(argv) > 2 else {}
        if mode not in modes or not isinstance(request, dict) or not request.get("libraryRoot"):
            raise Failure("Demande de bibliothèque partagée invalide.")
        resolve, project, pool = connect()
        folder = shared_bin(pool)
        emit(modes[mode](request, resolve, project, pool, folder))
    except Failure as failure:
        emit({"success": False, "message": str(failure)})
    except Exception:
        emit({"success": False, "message": "Erreur pendant l'accès au chutier partagé Tessivo.",
              "details": traceback.format_exc()})


if __name__ == "__main__":
    main(sys.argv)
