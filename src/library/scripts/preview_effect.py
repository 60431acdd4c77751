# Samples the clip under Resolve's playhead as a real animated preview: the
# playhead steps through the clip and each frame the viewer shows is exported
# as "frame_%03d.jpg" into the folder given as argument 1. The playhead is
# always put back where it was. Prints one result object.
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
NO_TIMELINE = "Aucune timeline active dans DaVinci Resolve."


class Failure(Exception):
    pass


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def setting_number(timeline, project, key, default):
    for owner in (timeline, project):
        match = re.search(r"[0-9]+(?:[.,][0-9]+)?", str(owner.GetSetting(key) or ""))
        if match:
            return float(match.group(0).replace(",", "."))
    return default


def to_frame(text, nominal):
    parts = re.split(r"[:;]", str(text or ""))
    try:
        hh, mm, ss, ff = (int(p) for p in parts)
    except ValueError:
        return 0
    return (hh * 3600 + mm * 60 + ss) * nominal + ff


def to_timecode(frame, nominal):
    frame = max(0, int(round(frame)))
    ss, ff = divmod(frame, nominal)
    mm, ss = divmod(ss, 60)
    hh, mm = divmod(mm, 60)
    return "%02d:%02d:%02d:%02d" % (hh, mm, ss, ff)


def sample_frames(start, duration, rate):
    """The frames to export: 12 to 120, at 12 to 24 a second of the clip."""
    per_second = min(24.0, max(12.0, rate))
    count = max(12, min(120, int(round(duration / max(1.0, rate) * per_second))))
    if count == 1:
        return per_second, [start]
    return per_second, [start + int(round((duration - 1) * i / (count - 1))) for i in range(count)]


def preview(folder):
    os.makedirs(folder, exist_ok=True)
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except Exception:
        resolve = None
    if not resolve:
        raise Failure("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé.")
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    timeline = project.GetCurrentTimeline() if project else None
    if not timeline:
        raise Failure(NO_TIMELINE)
    item = timeline.GetCurrentVideoItem()
    if not item:
        raise Failure("Place la tête de lecture sur le clip Fusion dont tu veux prélever le véritable aperçu.")

    rate = setting_number(timeline, project, "timelineFrameRate", 30.0)
    width = int(setting_number(timeline, project, "timelineResolutionWidth", 1920))
    height = int(setting_number(timeline, project, "timelineResolutionHeight", 1080))
    nominal = max(1, int(round(rate)))
    origin = timeline.GetStartFrame() or 0
    remembered = timeline.GetCurrentTimecode() or "00:00:00:00"
    offset = origin if to_frame(remembered, nominal) < origin else 0

    start = item.GetStart()
    start = origin if start is None else start
    end = item.GetEnd()
    end = start + max(1, int(round(2.5 * rate))) if end is None else end
    per_second, frames = sample_frames(start, max(1, end - start), rate)

    kept = []
    resolve.OpenPage("edit")
    try:
        for index, frame in enumerate(frames):
            if not timeline.SetCurrentTimecode(to_timecode(frame - offset, nominal)):
                continue
            time.sleep(0.012)
            path = os.path.join(folder, "frame_%03d.jpg" % index)
            if project.ExportCurrentFrameAsStill(path) and os.path.isfile(path) and os.path.getsize(path) > 0:
                kept.append(path)
    finally:
        timeline.SetCurrentTimecode(remembered)
    if not kept:
        raise Failure("Resolve n'a pu exporter aucune image réelle de ce clip. Vérifie que le viewer affiche bien le clip.")
    emit({
        "success": True,
        "previewFramePaths": kept,
        "previewFps": per_second,
        "previewWidth": width,
        "previewHeight": height,
        "previewAspectRatio": width / max(1, height),
        "sourceStartFrame": start,
        "sourceEndFrame": end,
    })


def main(argv):
    if len(argv) < 2 or not argv[1]:
        emit({"success": False, "message": "Le dossier de l'aperçu réel est manquant."})
        return
    try:
        preview(argv[1])
    except Failure as failure:
        emit({"success": False, "message": str(failure)})
    except Exception:
        emit({"success": False, "message": "Erreur pendant le prélèvement de l'animation réelle Resolve.",
              "details": traceback.format_exc()})


if __name__ == "__main__":
    main(sys.argv)
