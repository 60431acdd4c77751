# Registers the Text+ title selected in a Media Pool bin as Tessivo's native
# template: moved into the Power Bin "Tessivo". From a project bin the first
# run only remembers the title (pending); the second, with the Power Bin
# current, finds it again and moves it. Argument 1: the pending source as JSON.
import json
import os
import sys
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"


class Failure(Exception):
    pass


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def clip_type(clip):
    try:
        return str(clip.GetClipProperty("Type") or "")
    except Exception:
        return ""


def is_fusion_title(clip):
    kind = clip_type(clip).lower()
    return "fusion" in kind and ("titre" in kind or "title" in kind)


def is_shareable(clip):
    if is_fusion_title(clip):
        return True
    kind = clip_type(clip).lower()
    if "générateur" not in kind and "generator" not in kind:
        return False
    name = str(clip.GetName() or "").strip().lower()
    return name in ("text", "texte") or "text " in name or "texte " in name


def source_of(clip, project, folder_name):
    return {
        "projectName": str(project.GetName() or ""),
        "folderName": folder_name,
        "storageScope": "power-bin",
        "nativeCompatible": "1" if is_fusion_title(clip) else "0",
        "name": str(clip.GetName() or "") or "Text+",
        "uniqueId": str(clip.GetUniqueId() or ""),
        "mediaId": str(clip.GetMediaId() or ""),
        "type": clip_type(clip) or "Titre Fusion",
    }


def folder_ids(folder, found):
    found.add(folder.GetUniqueId())
    for sub in folder.GetSubFolderList() or []:
        folder_ids(sub, found)
    return found


def all_clips(folder):
    for clip in folder.GetClipList() or []:
        yield clip
    for sub in folder.GetSubFolderList() or []:
        for clip in all_clips(sub):
            yield clip


def matches(clip, pending):
    for key, read in (("uniqueId", clip.GetUniqueId), ("mediaId", clip.GetMediaId), ("name", clip.GetName)):
        wanted = str(pending.get(key) or "")
        if wanted and str(read() or "") == wanted:
            return True
    return False


def main():
    try:
        pending = json.loads(sys.argv[1]) if len(sys.argv) > 1 else {}
    except ValueError:
        pending = {}
    if not isinstance(pending, dict):
        pending = {}
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except Exception:
        resolve = None
    if not resolve:
        raise Failure("DaVinci Resolve n'est pas ouvert ou le scripting local n'est pas activé.")
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    if not project:
        raise Failure("Aucun projet DaVinci Resolve ouvert.")
    pool = project.GetMediaPool()
    root = pool.GetRootFolder()
    candidates = [clip for clip in (pool.GetSelectedClips() or []) if clip and is_shareable(clip)]
    current = pool.GetCurrentFolder()

    if current is not None and current.GetUniqueId() in folder_ids(root, set()):
        if len(candidates) != 1:
            raise Failure("Dans le Media Pool Resolve, sélectionne un seul Text ou Text+ à enregistrer.")
        emit({"success": False, "requiresPowerBinSelection": True,
              "pendingSource": source_of(candidates[0], project, str(current.GetName() or "")),
              "message": "Titre prêt. Dans Resolve, sélectionne Chutiers partagés > Tessivo (ou son Master), "
                         "puis reclique sur Mémoriser."})
        return

    if current is None:
        raise Failure("Sélectionne le Master des Chutiers partagés dans Resolve.")
    if str(current.GetName() or "").strip().lower() == "tessivo":
        target = current
    else:
        target = next((sub for sub in current.GetSubFolderList() or []
                       if str(sub.GetName() or "").strip().lower() == "tessivo"), None)
        if target is None:
            target = pool.AddSubFolder(current, "Tessivo")
        if target is None:
            raise Failure("Resolve n'a pas pu créer le chutier partagé Tessivo.")

    title = candidates[0] if len(candidates) == 1 else None
    if title is None and any(pending.get(k) for k in ("uniqueId", "mediaId", "name")):
        title = next((clip for clip in all_clips(root) if is_shareable(clip) and matches(clip, pending)), None)
    if title is None:
        title = next((clip for clip in target.GetClipList() or []
                      if is_shareable(clip) and (not pending or matches(clip, pending))), None)
    if title is None:
        raise Failure("Le Text+ préparé est introuvable. Resélectionne-le dans son chutier local et recommence.")

    unique = title.GetUniqueId()
    if not any(clip.GetUniqueId() == unique for clip in target.GetClipList() or []):
        if not pool.MoveClips([title], target):
            raise Failure("Resolve n'a pas pu transférer ce Text+ dans le chutier partagé Tessivo.")
    pool.SetCurrentFolder(target)
    emit({"success": True, "source": source_of(title, project, "Tessivo"), "storedInTessivo": True,
          "sharedPowerBin": True, "nativeCompatible": is_fusion_title(title)})


try:
    main()
except Failure as failure:
    emit({"success": False, "message": str(failure)})
except Exception:
    emit({"success": False, "message": "Impossible de mémoriser ce Text+ depuis le chutier Resolve.",
          "details": traceback.format_exc()})
