# Reads the subtitle items of the active Resolve timeline and prints them as
# one JSON result after the marker. Argument 1: the JSON request
# {"timelineId": optional text, "trackIndices": optional list of track numbers}.
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
TEXT_KEYS = ("Text", "StyledText", "Subtitle", "Caption", "Title", "Name", "Clip Name")
TEXT_WORDS = ("text", "subtitle", "caption", "title")
# Resolve 20.2 names every subtitle item "Subtitle" instead of giving its text
# (fixed in 20.2.1): the timings are right, the texts are not.
NAMELESS_SUBTITLES_VERSION = (20, 2, 0)
NAMELESS_SUBTITLES_WARNING = (
    "DaVinci Resolve 20.2 renvoie « Subtitle » à la place du texte de chaque sous-titre : "
    "les minutages sont importés, mais les textes sont à ressaisir. "
    "Mets DaVinci Resolve à jour (la version 20.2.1 corrige ce défaut), puis relance l’import.")


def emit(payload):
    # allow_nan=False: a non-finite number must never reach the JSON text.
    print(MARKER + json.dumps(payload, ensure_ascii=False, allow_nan=False), flush=True)


def fail(message, details=None):
    emit({"success": False, "message": message, "details": details})
    sys.exit(0)


def finite(value):
    """The value as a finite float, or None."""
    try:
        number = float(value)
    except (TypeError, ValueError, OverflowError):
        return None
    return number if math.isfinite(number) else None


def call_frames(item, name):
    """A frame value of the item: the integer form first, then the sub-frame
    form (Resolve can answer NaN there for subtitle items); 0 when neither
    gives a finite number."""
    method = getattr(item, name, None)
    if not callable(method):
        return 0.0
    for args in ((), (True,)):
        try:
            number = finite(method(*args))
        except Exception:
            continue
        if number is not None:
            return number
    return 0.0


def normalize_fps(value):
    text = "24" if value is None else str(value)
    match = re.search(r"\d+(?:\.\d+)?", text.replace(",", "."))
    if not match:
        return 24.0
    fps = finite(match.group(0))
    if fps is None or fps <= 0:
        return 24.0
    return fps


def clean_text(value):
    return str(value).replace("\r\n", "\n").replace("\r", "\n").strip()


def get_subtitle_text(item):
    candidates = []
    try:
        properties = item.GetProperty()
    except Exception:
        properties = None
    if isinstance(properties, dict):
        for key in TEXT_KEYS:
            if key in properties:
                candidates.append(properties[key])
        for key, value in properties.items():
            lowered = str(key).lower()
            if any(word in lowered for word in TEXT_WORDS):
                candidates.append(value)
    try:
        candidates.append(item.GetName())
    except Exception:
        pass
    for candidate in candidates:
        if candidate is None:
            continue
        text = clean_text(candidate)
        if text:
            return text
    return ""


def resolve_version(resolve):
    """(major, minor, patch) of the connected Resolve, or None when it does not say."""
    try:
        version = resolve.GetVersion()
    except Exception:
        return None
    if not isinstance(version, (list, tuple)) or len(version) < 3:
        return None
    numbers = []
    for part in version[:3]:
        if isinstance(part, bool) or not isinstance(part, (int, float)):
            return None
        numbers.append(int(part))
    return tuple(numbers)


def as_track_number(value, count):
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        number = value
    elif isinstance(value, float) and math.isfinite(value) and value.is_integer():
        number = int(value)
    else:
        return None
    return number if 1 <= number <= count else None


def items_of(timeline, track):
    items = timeline.GetItemListInTrack("subtitle", track)
    if isinstance(items, dict):
        items = [items[key] for key in sorted(items)]
    return list(items or [])


def main():
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except ImportError:
        resolve = None
    if not resolve:
        fail("Pont DaVinci indisponible. Dans Resolve : Préférences > Système > Général > "
             "Écriture de scripts externe = Local, puis redémarre Resolve une fois.")

    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    if not project:
        fail("Aucun projet DaVinci Resolve ouvert.")
    timeline = project.GetCurrentTimeline()
    if not timeline:
        fail("Aucune timeline active dans DaVinci Resolve.")

    request = json.loads(sys.argv[1]) if len(sys.argv) > 1 else {}
    if not isinstance(request, dict):
        request = {}

    timeline_id = str(timeline.GetUniqueId() or "")
    wanted_id = request.get("timelineId")
    if wanted_id and str(wanted_id) != timeline_id:
        fail("La timeline a changé. Relance l’import depuis le montage actuel.")

    count = finite(timeline.GetTrackCount("subtitle"))
    count = int(count) if count is not None else 0
    if count < 1:
        fail("Aucune piste sous-titre trouvee. Il faut une piste ST1 dans la timeline active.")

    setting = timeline.GetSetting("timelineFrameRate")
    if setting is None or setting == "":
        setting = project.GetSetting("timelineFrameRate")
    fps = normalize_fps(setting)
    try:
        timeline_start = finite(timeline.GetStartFrame())
    except Exception:
        timeline_start = None
    if timeline_start is None:
        timeline_start = 0.0

    enabled = []
    for track in range(1, count + 1):
        try:
            state = timeline.GetIsTrackEnabled("subtitle", track)
        except Exception:
            state = None
        if state is None or bool(state):
            enabled.append(track)

    listed = request.get("trackIndices")
    if isinstance(listed, list) and listed:
        tracks = set()
        for value in listed:
            number = as_track_number(value, count)
            if number is None:
                fail("Une piste de sous-titres importée a été supprimée. Relance l’import depuis la piste source.")
            tracks.add(number)
        tracks = sorted(tracks)
    else:
        tracks = enabled or list(range(1, count + 1))

    subtitles = []
    for track in tracks:
        for position, item in enumerate(items_of(timeline, track), 1):
            start = call_frames(item, "GetStart")
            end = call_frames(item, "GetEnd")
            duration = call_frames(item, "GetDuration")
            if end <= start and duration > 0:
                end = start + duration
            text = get_subtitle_text(item)
            if not text:
                continue
            try:
                source_id = str(item.GetUniqueId() or "")
            except Exception:
                source_id = ""
            subtitles.append({
                "id": "resolve_st%d_%03d" % (track, position),
                "text": text,
                "start": max(0.0, (start - timeline_start) / fps),
                "duration": max(0.05, (end - start) / fps),
                "startFrame": start,
                "endFrame": end,
                "subtitleTrack": track,
                "sourceItemId": source_id,
            })

    subtitles.sort(key=lambda entry: (entry["startFrame"], entry["subtitleTrack"], entry["endFrame"]))
    if not subtitles:
        fail("Des pistes de sous-titres existent, mais aucun texte lisible n'a été trouvé via l'API Resolve.")

    result = {
        "success": True,
        "timelineName": str(timeline.GetName() or ""),
        "timelineId": timeline_id,
        "fps": fps,
        "subtitleTracks": tracks,
        "count": len(subtitles),
        "subtitles": subtitles,
    }
    if resolve_version(resolve) == NAMELESS_SUBTITLES_VERSION:
        result["warning"] = NAMELESS_SUBTITLES_WARNING
    emit(result)


try:
    main()
except Exception:
    fail("Erreur pendant l'import des sous-titres depuis DaVinci Resolve.", traceback.format_exc())
