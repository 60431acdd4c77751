# Reports the name, frame rate and resolution of the active Resolve timeline
# as one JSON result after the marker.
import json
import math
import os
import re
import sys
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def fail(message, details=None):
    emit({"success": False, "message": message, "details": details})
    sys.exit(0)


def number(value, fallback):
    """The first number in the value's text ("," read as "."), else the fallback."""
    text = "" if value is None else str(value)
    match = re.search(r"\d+(?:[.,]\d+)?", text)
    if not match:
        return fallback
    found = float(match.group(0).replace(",", "."))
    # A run of digits too long for a float reads as infinity, which has no JSON form.
    return found if math.isfinite(found) else fallback


def setting(timeline, project, key, default):
    for source in (timeline, project):
        try:
            value = source.GetSetting(key)
        except Exception:
            value = None
        if value is not None and value != "":
            return value
    return default


def main():
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except ImportError:
        resolve = None
    if not resolve:
        fail("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé.")

    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    timeline = project.GetCurrentTimeline() if project else None
    if not timeline:
        fail("Aucune timeline active dans DaVinci Resolve.")

    fps = number(setting(timeline, project, "timelineFrameRate", 30), 30.0)
    width = int(number(setting(timeline, project, "timelineResolutionWidth", 0), 0))
    height = int(number(setting(timeline, project, "timelineResolutionHeight", 0), 0))
    emit({
        "success": True,
        "timelineName": str(timeline.GetName() or ""),
        "fps": fps,
        "width": width,
        "height": height,
    })


try:
    main()
except Exception:
    fail("Erreur pendant la lecture de la timeline DaVinci.", traceback.format_exc())
