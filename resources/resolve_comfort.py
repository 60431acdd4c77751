# Tessivo's comfort module for DaVinci Resolve. Run as a script with two
# arguments: the command ("preview", "native", "nativeDelete", "snapshot") and
# the request as JSON text. Prints one result object after the marker.
#
# native: creates a real Text+ title (InsertFusionTitleIntoTimeline("Text+"),
# placed and sized through the timeline In and Out marks, which are restored
# afterwards), loads the effect's composition into it, applies the style and
# text, and checks the item it made (track, start, length) before it reports.
import json
import os
import re
import sys
import tempfile
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"
# Compositions that Tessivo loads into a title carry this name prefix, so the
# snapshot can tell Tessivo's items from the user's.
COMP_PREFIX = "Tessivo "
NOT_OPEN = "DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé."
NO_TIMELINE = "Aucune timeline active dans DaVinci Resolve."


class Failure(Exception):
    def __init__(self, message, **extra):
        Exception.__init__(self, message)
        self.message = message
        self.extra = extra


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def number(value, default):
    if isinstance(value, bool):
        return float(value)
    if isinstance(value, (int, float)):
        return float(value) if value == value and abs(value) != float("inf") else default
    try:
        parsed = float(str(value).split()[0].replace(",", "."))
        return parsed if parsed == parsed and abs(parsed) != float("inf") else default
    except (ValueError, IndexError, TypeError):
        return default


def connect():
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except Exception:
        resolve = None
    if not resolve:
        raise Failure(NOT_OPEN)
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    return resolve, project


def current_timeline():
    resolve, project = connect()
    timeline = project.GetCurrentTimeline() if project else None
    if not timeline:
        raise Failure(NO_TIMELINE)
    return resolve, project, timeline


def timeline_rate(timeline, project):
    for source in (timeline, project):
        try:
            value = source.GetSetting("timelineFrameRate")
        except Exception:
            value = None
        rate = number(value, 0)
        if rate > 0:
            return rate
    return 24.0


def drop_frame(timeline):
    try:
        return str(timeline.GetSetting("timelineDropFrameTimecode")) == "1"
    except Exception:
        return False


def nominal(rate):
    return int(round(rate))


def frame_to_timecode(frame, rate, drop=False):
    fps = nominal(rate)
    frame = max(0, int(frame))
    if drop and fps in (30, 60):
        dropped = 2 if fps == 30 else 4
        per_ten = fps * 600 - dropped * 9
        per_minute = fps * 60 - dropped
        tens, rest = divmod(frame, per_ten)
        frame += dropped * 9 * tens
        if rest > dropped:
            frame += dropped * ((rest - dropped) // per_minute)
    hours = frame // (fps * 3600)
    minutes = frame // (fps * 60) % 60
    seconds = frame // fps % 60
    frames = frame % fps
    return "%02d:%02d:%02d%s%02d" % (hours, minutes, seconds, ";" if drop else ":", frames)


def timecode_to_frame(text, rate, drop=False):
    parts = re.split(r"[:;.]", str(text or ""))
    if len(parts) != 4 or not all(p.isdigit() for p in parts):
        return None
    h, m, s, f = [int(p) for p in parts]
    fps = nominal(rate)
    frame = ((h * 60 + m) * 60 + s) * fps + f
    if drop and fps in (30, 60):
        dropped = 2 if fps == 30 else 4
        minutes = h * 60 + m
        frame -= dropped * (minutes - minutes // 10)
    return frame


def playhead_frame(timeline, rate, drop):
    try:
        return timecode_to_frame(timeline.GetCurrentTimecode(), rate, drop)
    except Exception:
        return None


def video_items(timeline, index):
    items = timeline.GetItemListInTrack("video", index) or []
    return [item for item in items if item]


def span_free(timeline, index, start, end):
    for item in video_items(timeline, index):
        if item.GetStart() < end and start < item.GetEnd():
            return False
    return True


def hex_channels(text):
    match = re.match(r"^#([0-9a-fA-F]{6})$", str(text or ""))
    if not match:
        return None
    value = match.group(1)
    return [int(value[i:i + 2], 16) / 255.0 for i in (0, 2, 4)]


def tools_of(comp):
    try:
        tools = comp.GetToolList(False) or {}
    except Exception:
        return []
    values = list(tools.values()) if isinstance(tools, dict) else list(tools)
    return [tool for tool in values if tool]


def is_text_plus(tool):
    try:
        reg = str(tool.GetAttrs("TOOLS_RegID") or "")
    except Exception:
        return False
    return reg == "TextPlus" or "textplus" in reg.lower()


def text_tool(comp, name):
    tools = [tool for tool in tools_of(comp) if is_text_plus(tool)]
    if name:
        for tool in tools:
            try:
                if tool.GetAttrs("TOOLS_Name") == name:
                    return tool
            except Exception:
                pass
    return tools[0] if tools else None


def apply_instance(tool, instance, defaults):
    """Sets text, font, size, fill and position; returns (applied, warnings)."""
    applied, warnings = [], []
    text = instance.get("text")
    if not text:
        text = str(defaults.get("text") or "")
    channels = hex_channels(instance.get("color")) or hex_channels(defaults.get("color")) or [1.0, 1.0, 1.0]
    values = [
        ("StyledText", text),
        ("Font", instance.get("font") or defaults.get("font") or "Inter"),
        ("Size", number(instance.get("size"), number(defaults.get("size"), 0.08))),
        ("Red1", channels[0]), ("Green1", channels[1]), ("Blue1", channels[2]),
        ("Center", [number(instance.get("x"), 0.5), number(instance.get("y"), 0.5)]),
    ]
    for name, value in values:
        try:
            tool.SetInput(name, value)
            current = tool.GetInput(name)
            ok = current is not None
        except Exception:
            ok = False
        if ok:
            applied.append(name)
        else:
            warnings.append("Le réglage %s n'a pas pu être appliqué automatiquement." % name)
    return applied, warnings


def find_item(timeline, unique_id):
    if not unique_id:
        return None
    count = int(timeline.GetTrackCount("video") or 0)
    for index in range(1, count + 1):
        for item in video_items(timeline, index):
            if item.GetUniqueId() == unique_id:
                return item
    return None


GRADIENT = re.compile(r"(ShadingGradient1\s*=\s*Input\s*\{\s*Value\s*=\s*Gradient\s*\{\s*Colors\s*=\s*\{)(.*?)"
                      r"(\n\s*\}\s*\n\s*\}\s*,\s*\n\s*\}\s*,)", re.S)
STOP = re.compile(r"(\[[^\]]+\]\s*=\s*\{)\s*([^}]+)(\})")


def stop_hex(values):
    parts = [number(v, 0.0) for v in values.split(",")[:3]]
    return "#" + "".join("%02x" % max(0, min(255, int(round(v * 255)))) for v in parts) if len(parts) == 3 else ""


def recoloured_template(text, instance):
    """The template with its first gradient spread from the instance's color to
    color2, or None when it has no gradient or the colours are its own."""
    block = GRADIENT.search(text)
    first, last = hex_channels(instance.get("color")), hex_channels(instance.get("color2"))
    if not block or not first:
        return None
    last = last or first
    stops = STOP.findall(block.group(2))
    own = [stop_hex(values) for _, values, _ in stops]
    if own and own[0] == str(instance.get("color")).lower() and own[-1] == str(instance.get("color2") or instance.get("color")).lower():
        return None
    count = max(1, len(stops))
    index = [0]

    def colour(match):
        t = index[0] / max(1, count - 1)
        index[0] += 1
        values = [a + (b - a) * t for a, b in zip(first, last)]
        return "%s %.9f, %.9f, %.9f, %.1f %s" % (match.group(1), values[0], values[1], values[2], 1.0, match.group(3))

    body = STOP.sub(colour, block.group(2))
    return text[:block.start(2)] + body + text[block.end(2):]


def comp_name(effect_id, owner):
    return "%s%s | %s" % (COMP_PREFIX, effect_id or "effet", owner)


def ownership(item):
    """(effect ID, owner ID) of an item Tessivo made, else None."""
    for name in reversed(item.GetFusionCompNameList() or []):
        name = str(name)
        if name.startswith(COMP_PREFIX):
            effect, _, owner = name[len(COMP_PREFIX):].partition(" | ")
            return effect, owner
    return None


def owned_items(timeline, owner):
    found = []
    for index in range(1, int(timeline.GetTrackCount("video") or 0) + 1):
        for item in video_items(timeline, index):
            mark = ownership(item)
            if mark and mark[1] == owner:
                found.append(item)
    return found


def insert_title(timeline, start, end, rate, drop):
    """InsertFusionTitleIntoTimeline at [start, end) through the In and Out
    marks; where marks are refused, at the playhead moved to `start` (the
    length is then Resolve's own, and the check after the insert sees it)."""
    origin = int(timeline.GetStartFrame())
    previous = timeline.GetMarkInOut() or {}
    if not timeline.SetMarkInOut(start - origin, end - 1 - origin, "video"):
        timeline.SetCurrentTimecode(frame_to_timecode(start, rate, drop))
    try:
        return timeline.InsertFusionTitleIntoTimeline("Text+")
    finally:
        timeline.ClearMarkInOut("video")
        video = previous.get("video") or {}
        if "in" in video and "out" in video:
            timeline.SetMarkInOut(video["in"], video["out"], "video")


def command_native(job):
    resolve, project, timeline = current_timeline()
    playhead = timeline.GetCurrentTimecode()
    try:
        return insert_native(resolve, project, timeline, job)
    finally:
        # Inserting moves the playhead to the new title's end; the user's stays.
        if playhead:
            timeline.SetCurrentTimecode(playhead)


def insert_native(resolve, project, timeline, job):
    template = str(job.get("templatePath") or "")
    if not template or not os.path.isfile(template):
        raise Failure("Le modèle Fusion est introuvable.")
    instance = job.get("instance") if isinstance(job.get("instance"), dict) else {}
    defaults = job.get("sourceDefaults") if isinstance(job.get("sourceDefaults"), dict) else {}
    rate = timeline_rate(timeline, project)
    drop = drop_frame(timeline)
    if resolve.GetCurrentPage() not in ("edit", "cut"):
        resolve.OpenPage("edit")

    # A live upsert replaces the items its owner made before.
    owner = str(job.get("ownerId") or "")
    if job.get("liveSequence") is not None and owner:
        previous = owned_items(timeline, owner)
        if previous and not timeline.DeleteClips(previous, False):
            raise Failure("Resolve n'a pas pu remplacer l'élément en direct.")

    start = job.get("recordFrame")
    if not isinstance(start, int) or isinstance(start, bool):
        start = playhead_frame(timeline, rate, drop)
        if start is None:
            start = int(timeline.GetStartFrame())
    start = max(int(timeline.GetStartFrame()), int(start))
    length = job.get("durationFrames")
    if not isinstance(length, int) or isinstance(length, bool) or length < 1:
        length = max(1, int(round(number(instance.get("duration"), 2.5) * rate)))
    end = start + length

    count = int(timeline.GetTrackCount("video") or 0)
    target = str(job.get("targetTrack") or "auto")
    if target.startswith("track:"):
        wanted = int(target[6:])
        if wanted > count:
            raise Failure("La piste V%d n'existe pas dans la timeline." % wanted)
        if not span_free(timeline, wanted, start, end):
            raise Failure("La piste V%d est occupée à cet endroit." % wanted)
    elif target == "auto":
        wanted = next((i for i in range(1, count + 1) if span_free(timeline, i, start, end)), None)
    else:
        wanted = None

    item = insert_title(timeline, start, end, rate, drop) if wanted is not None else None
    if item is None or item.GetTrackTypeAndIndex()[1] != wanted:
        if item is not None:
            timeline.DeleteClips([item], False)
            item = None
        if target.startswith("track:"):
            raise Failure("Resolve insère les titres sur sa piste de destination : choisis cette piste ou une nouvelle piste.")
        # "new", or no free track: a new video track, which becomes the destination.
        if not timeline.AddTrack("video"):
            raise Failure("Resolve n'a pas pu ajouter de piste vidéo.")
        wanted = int(timeline.GetTrackCount("video") or 0)
        item = insert_title(timeline, start, end, rate, drop)
        if item is None or item.GetTrackTypeAndIndex()[1] != wanted:
            if item is not None:
                timeline.DeleteClips([item], False)
            # The track added for nothing goes again: a failure leaves the timeline as it was.
            timeline.DeleteTrack("video", wanted)
            raise Failure("Resolve n'a pas pu créer le titre Text+.")

    def undo(message):
        timeline.DeleteClips([item], False)
        raise Failure(message)

    # A gradient effect takes the user's colours through its gradient stops.
    source, gradient = template, None
    try:
        with open(template, "r", encoding="utf-8") as handle:
            changed = recoloured_template(handle.read(), instance)
        if changed is not None:
            handle, gradient = tempfile.mkstemp(prefix="tessivo-native-gradient-", suffix=".setting")
            with os.fdopen(handle, "w", encoding="utf-8") as out:
                out.write(changed)
            source = gradient
    except (OSError, ValueError):
        source = template
    comp = item.ImportFusionComp(source)
    if gradient:
        try:
            os.remove(gradient)
        except OSError:
            pass
    if not comp:
        undo("Resolve n'a pas pu charger la composition de cet effet.")
    names = item.GetFusionCompNameList() or []
    if names:
        item.RenameFusionCompByName(names[-1], comp_name(str(job.get("id") or ""), owner))
    tool = text_tool(comp, str(job.get("primaryTextTarget") or ""))
    if tool is None:
        applied, warnings = [], ["Le graphe appliqué ne contient aucun Text+ modifiable automatiquement."]
    else:
        applied, warnings = apply_instance(tool, instance, defaults)

    track_type, track_index = item.GetTrackTypeAndIndex()
    actual_start, actual_end = item.GetStart(), item.GetEnd()
    if track_type != "video" or track_index != wanted or actual_start != start or actual_end - actual_start != length:
        undo("Resolve n'a pas placé le titre à l'endroit prévu ; il a été retiré.")
    try:
        manager = resolve.GetProjectManager()
        manager.SaveProject()
    except Exception:
        pass
    return {
        "success": True,
        "operation": "native",
        "requestId": job.get("requestId"),
        "ownerId": job.get("ownerId"),
        "timelineId": timeline.GetUniqueId(),
        "timelineName": timeline.GetName(),
        "itemId": item.GetUniqueId(),
        "trackIndex": track_index,
        "recordFrame": actual_start,
        "durationFrames": actual_end - actual_start,
        "timecode": frame_to_timecode(actual_start, rate, drop),
        "appliedFields": applied,
        "warnings": warnings,
        "message": "Effet inséré comme vrai titre Text+.",
    }


def command_native_delete(request):
    _, _, timeline = current_timeline()
    unique_id = str(request.get("itemId") or "")
    owner = str(request.get("ownerId") or "")
    base = {"operation": "nativeDelete", "requestId": request.get("requestId"), "itemId": unique_id, "ownerId": owner}
    if unique_id:
        item = find_item(timeline, unique_id)
        items = [item] if item is not None else []
    else:
        items = owned_items(timeline, owner) if owner else []
    if not items:
        # Already gone: the editor's aim is met.
        return dict(base, success=True, deleted=0)
    if not timeline.DeleteClips(items, False):
        raise Failure("Resolve n'a pas pu retirer l'élément en direct.", **base)
    return dict(base, success=True, deleted=len(items))


def command_preview(request):
    _, project, timeline = current_timeline()
    output = str(request.get("outputPath") or "")
    if not output.lower().endswith((".jpg", ".jpeg")):
        raise Failure("Chemin de capture invalide.")
    if timeline.GetCurrentVideoItem() is None:
        return {"success": True, "emptyFrame": True}
    if not project.ExportCurrentFrameAsStill(output) or not os.path.isfile(output):
        raise Failure("Resolve n'a pas pu exporter l'image courante.")
    return {"success": True, "emptyFrame": False}


def command_snapshot(request):
    _, project, timeline = current_timeline()
    rate = timeline_rate(timeline, project)
    drop = drop_frame(timeline)
    playhead = playhead_frame(timeline, rate, drop)
    tracks = []
    for index in range(1, int(timeline.GetTrackCount("video") or 0) + 1):
        items = []
        for item in video_items(timeline, index):
            mark = ownership(item)
            if not mark:
                continue
            items.append({"itemId": item.GetUniqueId(), "name": item.GetName(), "effectId": mark[0],
                          "ownerId": mark[1], "start": item.GetStart(), "end": item.GetEnd()})
        tracks.append({"index": index, "name": timeline.GetTrackName("video", index), "items": items})
    return {
        "success": True,
        "timelineName": timeline.GetName(),
        "timelineId": timeline.GetUniqueId(),
        "frameRate": rate,
        "startFrame": int(timeline.GetStartFrame()),
        "playheadFrame": playhead,
        "playheadTimecode": frame_to_timecode(playhead, rate, drop) if playhead is not None else "",
        "videoTracks": tracks,
    }


COMMANDS = {
    "native": command_native,
    "nativeDelete": command_native_delete,
    "preview": command_preview,
    "snapshot": command_snapshot,
}


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    try:
        request = json.loads(argv[2]) if len(argv) > 2 else {}
    except ValueError:
        request = {}
    if not isinstance(request, dict):
        request = {}
    handler = COMMANDS.get(command)
    if handler is None:
        emit({"success": False, "message": "Commande du module Resolve inconnue."})
        return
    try:
        emit(handler(request))
    except Failure as failure:
        emit(dict(failure.extra, success=False, message=failure.message))
    except Exception:
        emit({"success": False, "message": "Erreur du module Resolve de Tessivo.", "details": traceback.format_exc()})


main(sys.argv)
