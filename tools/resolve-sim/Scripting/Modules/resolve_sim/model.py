"""Layout of the simulated Resolve state and the operations on it.

Everything here works on the plain dict loaded from the state file; the
proxy objects of the `api` modules and the `resolve-sim` command both build on it.
Frames are absolute timeline frames and item ends are exclusive.
"""

import copy
import uuid

from . import timecode

FORMAT_VERSION = 1

PROFILES = {
    "19.0.2": {"version": [19, 0, 2, 7, ""], "frameRateAsString": True},
    "20.2": {"version": [20, 2, 0, 25, ""], "frameRateAsString": False},
    "21.1": {"version": [21, 1, 0, 12, ""], "frameRateAsString": False},
}

PAGES = ["media", "cut", "edit", "fusion", "color", "fairlight", "deliver"]

TRACK_TYPES = ("video", "audio", "subtitle")

CLIP_COLORS = ["Orange", "Apricot", "Yellow", "Lime", "Olive", "Green", "Teal", "Navy", "Blue",
               "Purple", "Violet", "Pink", "Tan", "Beige", "Brown", "Chocolate"]

AUDIO_SUBTYPES_19 = {"mono", "stereo", "5.1", "5.1film", "7.1", "7.1film"} | {
    "adaptive%d" % i for i in range(1, 25)}
AUDIO_SUBTYPES_20 = AUDIO_SUBTYPES_19 | {"lrc", "lcr", "lrcs", "lcrs", "quad", "5.0", "5.0film",
                                         "7.0", "7.0film"} | {"adaptive%d" % i for i in range(1, 37)}

# inferred: the default duration of inserted titles and compositions comes
# from user preferences; 5 seconds is Resolve's factory value.
DEFAULT_TITLE_SECONDS = 5.0
# inferred: stills are imported with the factory still duration of 5 seconds.
DEFAULT_STILL_SECONDS = 5.0


def new_id():
    return str(uuid.uuid4())


def version_tuple(profile):
    parts = []
    for piece in str(profile).split("."):
        try:
            parts.append(int(piece))
        except ValueError:
            break
    while len(parts) < 3:
        parts.append(0)
    return tuple(parts[:3])


def default_app():
    return {
        "running": True,
        "scriptingEnabled": True,
        "profile": "21.1",
        "studio": True,
        "page": "edit",
        # None: as the profile says; True/False force the type of timelineFrameRate.
        "frameRateAsString": None,
        # When set, GetSetting("timelineFrameRate") returns exactly this value
        # (models locales and builds that answer "29,97" or "23.976 DF").
        "frameRateOverride": None,
        # inferred: GetEndFrame is taken as exclusive; some scripts add +1, so
        # an inclusive end can be chosen here.
        "endFrameInclusive": False,
        # inferred: an occupied record span makes AppendToTimeline drop the
        # item from its result; set to return an item with an empty unique id.
        "overlapReturnsPhantom": False,
        # ImportFusionComp adds a new composition to the item and makes it the
        # active one; set to replace composition 1 instead.
        "importFusionCompReplaces": False,
    }


def default_project_settings(fps="24", width=1920, height=1080, drop_frame=False):
    return {
        "timelineFrameRate": str(fps),
        "timelineDropFrameTimecode": "1" if drop_frame else "0",
        "timelineResolutionWidth": str(width),
        "timelineResolutionHeight": str(height),
        "timelinePlaybackFrameRate": str(fps),
        "videoMonitorFormat": "HD 1080p %s" % fps,
        "superScale": 0,
        "colorScienceMode": "davinciYRGB",
        "timelineOutputResolutionWidth": str(width),
        "timelineOutputResolutionHeight": str(height),
    }


def new_folder(state, name, parent_id):
    folder = {"id": new_id(), "name": name, "parent": parent_id, "children": [], "clips": []}
    state["folders"][folder["id"]] = folder
    if parent_id:
        state["folders"][parent_id]["children"].append(folder["id"])
    return folder


def new_project(state, name, fps="24", width=1920, height=1080, drop_frame=False):
    project = {
        "id": new_id(),
        "name": name,
        "saved": False,
        "settings": default_project_settings(fps, width, height, drop_frame),
        "timelines": [],
        "currentTimeline": None,
        "rootFolder": None,
        "currentFolder": None,
        "selectedClips": [],
    }
    root = new_folder(state, "Master", None)  # inferred: the root folder is named "Master"
    project["rootFolder"] = root["id"]
    project["currentFolder"] = root["id"]
    state["projects"].append(project)
    return project


def default_state():
    state = {
        "format": FORMAT_VERSION,
        "app": default_app(),
        "faults": {},
        "projects": [],
        "currentProject": None,
        "folders": {},
        "clips": {},
        "powerBinRoot": None,
        "stillCounter": 0,
    }
    # Power bins are shared by every project of the database.
    state["powerBinRoot"] = new_folder(state, "Power Bins", None)["id"]
    project = new_project(state, "Untitled Project")
    state["currentProject"] = project["id"]
    return state


def upgrade(state):
    app = state.setdefault("app", {})
    for key, value in default_app().items():
        app.setdefault(key, value)
    state.setdefault("faults", {})
    state.setdefault("folders", {})
    state.setdefault("clips", {})
    state.setdefault("projects", [])


# ---------------------------------------------------------------- lookups

def profile(state):
    return state["app"].get("profile") or "21.1"


def at_least(state, version):
    return version_tuple(profile(state)) >= version_tuple(version)


def project_by_id(state, pid):
    for project in state["projects"]:
        if project["id"] == pid:
            return project
    return None


def current_project(state):
    return project_by_id(state, state.get("currentProject"))


def timeline_by_id(state, tid):
    for project in state["projects"]:
        for timeline in project["timelines"]:
            if timeline["id"] == tid:
                return project, timeline
    return None, None


def current_timeline(state):
    project = current_project(state)
    if not project:
        return None
    for timeline in project["timelines"]:
        if timeline["id"] == project.get("currentTimeline"):
            return timeline
    return None


def find_item(state, item_id):
    """(project, timeline, track type, track index (1-based), item)."""
    for project in state["projects"]:
        for timeline in project["timelines"]:
            for ttype in TRACK_TYPES:
                for index, track in enumerate(timeline["tracks"][ttype], 1):
                    for item in track["items"]:
                        if item["id"] == item_id:
                            return project, timeline, ttype, index, item
    return None, None, None, None, None


# ---------------------------------------------------------------- settings

def timeline_settings(state, timeline):
    """The settings a timeline answers with: its own when custom, else the project's."""
    project, _ = timeline_by_id(state, timeline["id"])
    if timeline["settings"].get("useCustomSettings") == "1":
        merged = dict(project["settings"])
        merged.update(timeline["settings"])
        return merged
    merged = dict(project["settings"])
    merged["useCustomSettings"] = "0"
    return merged


def rate_of(settings):
    rate, df = timecode.parse_rate(settings.get("timelineFrameRate"))
    if rate is None:
        rate = 24.0
    drop = df or settings.get("timelineDropFrameTimecode") == "1"
    return rate, timecode.drop_frame_applies(rate, drop)


def timeline_rate(state, timeline):
    return rate_of(timeline_settings(state, timeline))


def present_setting(state, settings, key):
    """A setting value as the API hands it out: frame rate as a number (or a
    string on older builds), everything else as stored."""
    value = settings.get(key)
    if key == "timelineFrameRate" and value is not None:
        override = state["app"].get("frameRateOverride")
        if override is not None:
            return override
        as_string = state["app"].get("frameRateAsString")
        if as_string is None:
            as_string = PROFILES.get(profile(state), {}).get("frameRateAsString", False)
        rate, df = timecode.parse_rate(value)
        drop = df or settings.get("timelineDropFrameTimecode") == "1"
        if as_string:
            # inferred: older builds answer with the text they were set with,
            # " DF" appended for drop-frame timelines.
            return timecode.format_rate(rate) + (" DF" if drop and timecode.drop_frame_applies(rate, True) else "")
        return float(rate) if rate else 0.0
    return value


# ---------------------------------------------------------------- timelines

def new_timeline(state, project, name, start_timecode="01:00:00:00", video=1, audio=1, subtitle=0):
    rate, df = rate_of(project["settings"])
    start = timecode.timecode_to_frames(start_timecode, rate, df)
    timeline = {
        "id": new_id(),
        "name": name,
        "startFrame": start if start is not None else 0,
        "settings": {"useCustomSettings": "0"},
        # inferred: a new empty timeline has one video and one audio track and
        # no subtitle track.
        "tracks": {"video": [], "audio": [], "subtitle": []},
        "playhead": start if start is not None else 0,
        "marks": {},
        "markers": {},
        "selectedItems": [],
        "targetVideoTrack": 1,
        "clipId": None,
    }
    for _ in range(video):
        add_track(timeline, "video")
    for _ in range(audio):
        add_track(timeline, "audio", "stereo")
    for _ in range(subtitle):
        add_track(timeline, "subtitle")
    project["timelines"].append(timeline)
    clip = new_clip(state, project["currentFolder"] or project["rootFolder"], name, "Timeline")
    clip["timeline"] = timeline["id"]
    timeline["clipId"] = clip["id"]
    return timeline


def add_track(timeline, ttype, sub_type=None, index=None):
    track = {"name": None, "enabled": True, "locked": False, "items": []}
    if ttype == "audio":
        track["subType"] = sub_type or "mono"
    tracks = timeline["tracks"][ttype]
    if index is not None and 1 <= index <= len(tracks):
        tracks.insert(index - 1, track)
    else:
        tracks.append(track)
    return track


def track_name(ttype, index, track):
    if track.get("name"):
        return track["name"]
    return "%s %d" % (ttype.capitalize(), index)


def track_of(timeline, ttype, index):
    if ttype not in TRACK_TYPES or isinstance(index, bool):
        return None
    try:
        if float(index) != int(index):
            return None
        index = int(index)
    except (TypeError, ValueError):
        return None
    tracks = timeline["tracks"][ttype]
    if 1 <= index <= len(tracks):
        return tracks[index - 1]
    return None


def timeline_end(state, timeline):
    end = timeline["startFrame"]
    for ttype in TRACK_TYPES:
        for track in timeline["tracks"][ttype]:
            for item in track["items"]:
                end = max(end, item["end"])
    return end


def span_free(track, start, end, ignore=None):
    for item in track["items"]:
        if item["id"] != ignore and item["start"] < end and start < item["end"]:
            return False
    return True


def place_item(track, item):
    track["items"].append(item)
    track["items"].sort(key=lambda it: (it["start"], it["end"]))


def new_item(kind, name, start, end, **extra):
    item = {
        "id": new_id(),
        "kind": kind,  # video, audio, subtitle, title, fusion, generator
        "name": name,
        "start": int(start),
        "end": int(end),
        "leftOffset": 0,
        "clip": None,
        "enabled": True,
        "clipColor": "",
        "properties": {},
        "comps": [],
        "activeComp": 0,
        "markers": {},
        "linked": [],
    }
    item.update(extra)
    return item


def shift_timeline(timeline, delta):
    timeline["startFrame"] += delta
    timeline["playhead"] += delta
    for ttype in TRACK_TYPES:
        for track in timeline["tracks"][ttype]:
            for item in track["items"]:
                item["start"] += delta
                item["end"] += delta


# ---------------------------------------------------------------- media pool

def new_clip(state, folder_id, name, ctype, **extra):
    clip = {
        "id": new_id(),
        "mediaId": new_id(),
        "name": name,
        "type": ctype,
        "folder": folder_id,
        "path": "",
        "fps": 0.0,
        "frames": 0,
        "width": 0,
        "height": 0,
        "hasVideo": ctype in ("Video", "Video + Audio", "Still", "Fusion Title", "Generator", "Timeline"),
        "hasAudio": ctype in ("Audio", "Video + Audio"),
        "color": "",
        "properties": {},
        "metadata": {},
        "comp": None,
        "timeline": None,
        "subtitles": None,
    }
    clip.update(extra)
    state["clips"][clip["id"]] = clip
    if folder_id and folder_id in state["folders"]:
        state["folders"][folder_id]["clips"].append(clip["id"])
    return clip


def folder_is_in_pool(state, project, folder_id):
    """True when the folder belongs to the project's Master tree or to the power bins."""
    roots = {project["rootFolder"], state.get("powerBinRoot")}
    seen = set()
    while folder_id and folder_id not in seen:
        if folder_id in roots:
            return True
        seen.add(folder_id)
        folder = state["folders"].get(folder_id)
        folder_id = folder["parent"] if folder else None
    return False


def delete_folder(state, folder_id):
    folder = state["folders"].pop(folder_id, None)
    if not folder:
        return
    for child in list(folder["children"]):
        delete_folder(state, child)
    for clip_id in folder["clips"]:
        state["clips"].pop(clip_id, None)
    parent = state["folders"].get(folder["parent"])
    if parent and folder_id in parent["children"]:
        parent["children"].remove(folder_id)


def clone(value):
    return copy.deepcopy(value)
