"""The scripting objects of the simulated Resolve.

Each object is a light handle (an id); every call locks the shared state
file, reads it afresh, acts and writes it back, so several processes see one
Resolve. Calls report failure through their return value (None, False, [],
{}, '') and never raise, unless a fault was injected to make them.
"""

import functools
import json
import math
import os
import re

from . import edit_target, faults, fusion, media, model, setting, store, timecode

_FAIL_FACTORIES = {list: list, dict: dict}


def _fail_value(fail):
    factory = _FAIL_FACTORIES.get(fail) if isinstance(fail, type) else None
    return factory() if factory else fail


def api(fail=None, since=None):
    """Marks a scripting method: `fail` is what it returns on any failure,
    `since` the first Resolve version that has it (earlier profiles see no
    such method, as with any unknown name)."""

    def deco(fn):
        name = fn.__name__

        @functools.wraps(fn)
        def wrapper(self, *args, **kwargs):
            # inferred: keyword arguments across the bridge are undocumented;
            # they are accepted here like positional ones.
            return _invoke(name, fn, fail, self, args, kwargs)

        wrapper._since = since
        return wrapper

    return deco


def _invoke(name, fn, fail, self, args, kwargs):
    try:
        with store.transaction() as st:
            fault = faults.take(st, name, args)
            if fault is None:
                return fn(self, st, *args, **kwargs)
    except faults.InjectedFault:
        raise
    except Exception:
        return _fail_value(fail)
    handled, value = faults.apply(fault, name)
    if handled:
        return value
    try:
        with store.transaction() as st:
            return fn(self, st, *args, **kwargs)
    except Exception:
        return _fail_value(fail)


def _profile_allows(since):
    try:
        with store.transaction() as st:
            return model.at_least(st, since)
    except Exception:
        return False


class _Proxy:
    """Unknown names resolve to None, as on a direct connection, so hasattr()
    is always True and calling an unknown method raises TypeError."""

    _since_map = {}

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        since = {}
        for klass in reversed(cls.__mro__):
            for key, value in vars(klass).items():
                if callable(value) and getattr(value, "_since", None):
                    since[key] = value._since
        cls._since_map = since

    def __getattribute__(self, name):
        since = type(self)._since_map.get(name)
        if since is not None and not _profile_allows(since):
            return None
        return object.__getattribute__(self, name)

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        return None

    def __repr__(self):
        return "<%s %s>" % (type(self).__name__, getattr(self, "_id", ""))


def _is_int(value):
    if isinstance(value, bool):
        return False
    if isinstance(value, int):
        return True
    return isinstance(value, float) and math.isfinite(value) and value.is_integer()


def _require(value):
    if value is None:
        raise LookupError("object no longer exists")
    return value


def _project(st, pid):
    return _require(model.project_by_id(st, pid))


def _timeline(st, tid):
    return _require(model.timeline_by_id(st, tid)[1])


def _page_has_playhead(st):
    return st["app"].get("page") in ("cut", "edit", "color", "fairlight", "deliver")


# ---------------------------------------------------------------- connection

def scriptapp(app="Resolve", host=None, *rest):
    """Connects to the simulated Resolve; None when it is not running, when
    external scripting is off, or on the free edition of 21.1."""
    try:
        with store.transaction() as st:
            fault = faults.take(st, "scriptapp", (app,))
            if fault is None:
                return _connect(st, app, host)
    except faults.InjectedFault:
        raise
    except Exception:
        return None
    handled, value = faults.apply(fault, "scriptapp")
    if handled:
        return value
    try:
        with store.transaction() as st:
            return _connect(st, app, host)
    except Exception:
        return None


def _connect(st, app, host):
    a = st["app"]
    if not a.get("running") or not a.get("scriptingEnabled"):
        return None
    if host not in (None, "", "127.0.0.1", "localhost", "::1"):
        return None  # inferred: only the local machine runs a simulated Resolve
    if model.at_least(st, "21.1") and not a.get("studio"):
        return None
    # inferred: before 21.1 the free edition still answers external scripts.
    if app == "Resolve":
        return Resolve()
    if app == "Fusion":
        return FusionApp()
    return None


# ---------------------------------------------------------------- Resolve

class Resolve(_Proxy):
    @api()
    def GetProjectManager(self, st):
        return ProjectManager()

    @api(fail=False)
    def OpenPage(self, st, name):
        pages = list(model.PAGES) + (["photo"] if model.at_least(st, "21.1") else [])
        if name not in pages:
            return False  # inferred: an unknown page name is refused
        st["app"]["page"] = name
        return True

    @api()
    def GetCurrentPage(self, st):
        return st["app"].get("page")

    @api()
    def Fusion(self, st):
        return FusionApp()

    @api(fail=list)
    def GetVersion(self, st):
        return list(model.PROFILES.get(model.profile(st), model.PROFILES["21.1"])["version"])

    @api(fail="")
    def GetVersionString(self, st):
        major, minor, patch, build, suffix = model.PROFILES.get(model.profile(st), model.PROFILES["21.1"])["version"]
        return "%d.%d.%d%s.%d" % (major, minor, patch, suffix, build)

    @api(fail="")
    def GetProductName(self, st):
        return "DaVinci Resolve Studio" if st["app"].get("studio") else "DaVinci Resolve"

    @api(since="21.1")
    def GetCurrentProject(self, st):
        return ProjectManager.GetCurrentProject.__wrapped__(None, st)

    @api(since="21.1")
    def GetCurrentTimeline(self, st):
        timeline = model.current_timeline(st)
        return Timeline(timeline["id"]) if timeline else None

    @api(since="21.1")
    def GetMediaPool(self, st):
        project = model.current_project(st)
        return MediaPool(project["id"]) if project else None

    @api(fail=False, since="21.1")
    def IsStudio(self, st):
        return bool(st["app"].get("studio"))


class FusionApp(_Proxy):
    """The Fusion application object: enough to reach the current composition."""

    @api()
    def GetCurrentComp(self, st):
        timeline = model.current_timeline(st)
        item = _video_item_at(timeline, timeline["playhead"]) if timeline else None
        if not item or not item["comps"]:
            return None
        comp = item["comps"][min(item.get("activeComp", 0), len(item["comps"]) - 1)]
        return FusionComp(item["id"], comp["id"])

    @api(fail=list)
    def GetVersion(self, st):
        return list(model.PROFILES.get(model.profile(st), model.PROFILES["21.1"])["version"][:3])


# ---------------------------------------------------------------- projects

class ProjectManager(_Proxy):
    @api()
    def GetCurrentProject(self, st):
        project = model.current_project(st)
        if project is None:
            # Resolve always has a current project: an unsaved "Untitled Project".
            project = model.new_project(st, "Untitled Project")
            st["currentProject"] = project["id"]
        return Project(project["id"])

    @api()
    def CreateProject(self, st, name, media_location=None):
        if not isinstance(name, str) or not name.strip():
            return None
        if any(p["name"] == name for p in st["projects"]):
            return None
        current = model.current_project(st)
        if current and not current.get("saved") and current["name"] == "Untitled Project":
            # Creating a project silently discards the unsaved current one.
            st["projects"].remove(current)
            model.delete_folder(st, current["rootFolder"])
        project = model.new_project(st, name)
        project["saved"] = True
        st["currentProject"] = project["id"]
        return Project(project["id"])

    @api()
    def LoadProject(self, st, name):
        for project in st["projects"]:
            if project["name"] == name:
                st["currentProject"] = project["id"]
                return Project(project["id"])
        return None

    @api(fail=False)
    def SaveProject(self, st):
        project = model.current_project(st)
        if project is None or (project["name"] == "Untitled Project" and not project.get("saved")):
            return False  # a never-saved Untitled Project cannot be saved by a script
        project["saved"] = True
        return True

    @api(fail=False)
    def CloseProject(self, st, project):
        if not isinstance(project, Project) or model.project_by_id(st, project._id) is None:
            return False
        if st.get("currentProject") == project._id:
            st["currentProject"] = None
        return True

    @api(fail=False)
    def DeleteProject(self, st, name):
        for project in st["projects"]:
            if project["name"] == name and project["id"] != st.get("currentProject"):
                st["projects"].remove(project)
                model.delete_folder(st, project["rootFolder"])
                return True
        return False

    @api(fail=list)
    def GetProjectListInCurrentFolder(self, st):
        return [p["name"] for p in st["projects"]]

    @api(fail=dict)
    def GetCurrentDatabase(self, st):
        return {"DbType": "Disk", "DbName": "Local Database"}


class Project(_Proxy):
    def __init__(self, pid):
        self._id = pid

    @api(fail="")
    def GetName(self, st):
        return _project(st, self._id)["name"]

    @api(fail=False)
    def SetName(self, st, name):
        project = _project(st, self._id)
        if not isinstance(name, str) or not name or any(p["name"] == name for p in st["projects"] if p is not project):
            return False
        project["name"] = name
        return True

    @api(fail="")
    def GetUniqueId(self, st):
        return _project(st, self._id)["id"]

    @api()
    def GetCurrentTimeline(self, st):
        project = _project(st, self._id)
        for timeline in project["timelines"]:
            if timeline["id"] == project.get("currentTimeline"):
                return Timeline(timeline["id"])
        return None  # inferred: a project without timelines has no current timeline

    @api(fail=False)
    def SetCurrentTimeline(self, st, timeline):
        project = _project(st, self._id)
        if not isinstance(timeline, Timeline) or not any(t["id"] == timeline._id for t in project["timelines"]):
            return False
        project["currentTimeline"] = timeline._id
        return True

    @api(fail=0)
    def GetTimelineCount(self, st):
        return len(_project(st, self._id)["timelines"])

    @api()
    def GetTimelineByIndex(self, st, index):
        timelines = _project(st, self._id)["timelines"]
        if not _is_int(index) or not 1 <= int(index) <= len(timelines):
            return None
        return Timeline(timelines[int(index) - 1]["id"])

    @api()
    def GetMediaPool(self, st):
        return MediaPool(_project(st, self._id)["id"])

    @api(fail="")
    def GetSetting(self, st, name=None):
        settings = _project(st, self._id)["settings"]
        if not name:
            return {k: model.present_setting(st, settings, k) for k in settings}
        if name not in settings:
            return ""  # an invalid key gives a trivial (empty) result
        return model.present_setting(st, settings, name)

    @api(fail=dict, since="21.1")
    def GetSettings(self, st):
        settings = _project(st, self._id)["settings"]
        return {k: model.present_setting(st, settings, k) for k in settings}

    @api(fail=False)
    def SetSetting(self, st, name, value, *extra):
        project = _project(st, self._id)
        return _set_setting(st, project["settings"], name, value, bool(project["timelines"]))

    @api(fail=False, since="21.1")
    def SetSettings(self, st, values):
        project = _project(st, self._id)
        if not isinstance(values, dict):
            return False
        keys = sorted(values, key=lambda k: k != "useCustomSettings")
        ok = True
        for key in keys:
            # Keys are applied one by one; a failure keeps the earlier writes.
            if not _set_setting(st, project["settings"], key, values[key], bool(project["timelines"])):
                ok = False
        return ok

    @api(fail=False)
    def ExportCurrentFrameAsStill(self, st, path):
        return _export_still(st, _project(st, self._id), path)


def _set_setting(st, settings, name, value, has_timelines):
    if not isinstance(name, str) or name not in settings and name != "useCustomSettings":
        return False  # inferred: unknown keys are refused
    if name == "timelinePlaybackFrameRate":
        return False
    if name == "timelineFrameRate":
        if has_timelines:
            return False
        rate, df = timecode.parse_rate(value)
        if rate is None:
            return False
        settings["timelineFrameRate"] = timecode.format_rate(rate)
        settings["timelineDropFrameTimecode"] = "1" if df and timecode.drop_frame_applies(rate, True) else "0"
        return True
    if name in ("timelineResolutionWidth", "timelineResolutionHeight"):
        text = str(value).strip()
        if not text.isdigit() or int(text) <= 0:
            return False
        settings[name] = str(int(text))
        return True
    if name == "timelineDropFrameTimecode":
        if str(value) not in ("0", "1"):
            return False
        settings[name] = str(value)
        return True
    if name == "superScale":
        if not _is_int(value):
            return False
        settings[name] = int(value)
        return True
    settings[name] = value if isinstance(value, str) else str(value)
    return True


def _video_item_at(timeline, frame):
    """The item the viewer shows at `frame`: topmost enabled video track first."""
    # inferred: the topmost enabled video track with an enabled item wins.
    tracks = timeline["tracks"]["video"]
    for track in reversed(tracks):
        if not track["enabled"]:
            continue
        for item in track["items"]:
            if item["enabled"] and item["start"] <= frame < item["end"]:
                return item
    return None


def _export_still(st, project, path):
    if not isinstance(path, str) or os.path.splitext(path)[1].lower() not in media.STILL_EXPORT_EXT:
        return False
    timeline = None
    for candidate in project["timelines"]:
        if candidate["id"] == project.get("currentTimeline"):
            timeline = candidate
    if timeline is None:
        return False  # inferred: nothing in the viewer without a timeline
    settings = model.timeline_settings(st, timeline)
    width = int(settings.get("timelineResolutionWidth") or 1920)
    height = int(settings.get("timelineResolutionHeight") or 1080)
    item = _video_item_at(timeline, timeline["playhead"])
    source, seconds = None, 0.0
    if item and item.get("clip"):
        clip = st["clips"].get(item["clip"])
        if clip and clip.get("path") and clip["type"] in ("Video", "Video + Audio", "Still") and os.path.isfile(clip["path"]):
            rate, _ = model.timeline_rate(st, timeline)
            source = clip["path"]
            if clip["type"] != "Still":
                seconds = (timeline["playhead"] - item["start"]) / rate + item.get("sourceStart", 0) / (clip["fps"] or rate)
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        return False
    return media.write_frame(source, seconds, width, height, path)


# ---------------------------------------------------------------- media pool

class MediaPool(_Proxy):
    def __init__(self, pid):
        self._id = pid

    def _project(self, st):
        return _project(st, self._id)

    @api(fail="")
    def GetUniqueId(self, st):
        return "mp-" + self._project(st)["id"]

    @api()
    def GetRootFolder(self, st):
        return Folder(self._project(st)["rootFolder"])

    @api()
    def GetCurrentFolder(self, st):
        project = self._project(st)
        folder = project.get("currentFolder")
        return Folder(folder) if folder in st["folders"] else None

    @api(fail=False)
    def SetCurrentFolder(self, st, folder):
        project = self._project(st)
        if not isinstance(folder, Folder) or not model.folder_is_in_pool(st, project, folder._id):
            return False
        project["currentFolder"] = folder._id
        return True

    @api()
    def AddSubFolder(self, st, folder, name):
        project = self._project(st)
        if not isinstance(folder, Folder) or not model.folder_is_in_pool(st, project, folder._id):
            return None
        if not isinstance(name, str) or not name.strip():
            return None  # inferred: an empty name is refused
        # inferred: duplicate bin names are allowed, as in the user interface.
        return Folder(model.new_folder(st, name, folder._id)["id"])

    @api(fail=list)
    def ImportMedia(self, st, items, *rest):
        project = self._project(st)
        if isinstance(items, (str, dict)):
            items = [items]
        if not isinstance(items, (list, tuple)):
            return []
        folder = project.get("currentFolder") or project["rootFolder"]
        imported = []
        for entry in items:
            clip = _import_one(st, project, folder, entry)
            if clip:
                imported.append(MediaPoolItem(clip["id"]))
        # inferred: nothing imported gives [] rather than None.
        return imported

    @api(fail=list)
    def AppendToTimeline(self, st, *args):
        project = self._project(st)
        timeline = None
        for candidate in project["timelines"]:
            if candidate["id"] == project.get("currentTimeline"):
                timeline = candidate
        if timeline is None:
            return []  # inferred: no current timeline, nothing appended
        entries = list(args[0]) if len(args) == 1 and isinstance(args[0], (list, tuple)) else list(args)
        return _append(st, timeline, entries)

    @api()
    def CreateEmptyTimeline(self, st, name):
        project = self._project(st)
        if not isinstance(name, str) or not name or any(t["name"] == name for t in project["timelines"]):
            return None  # inferred: a taken name is refused
        timeline = model.new_timeline(st, project, name)
        # inferred: the new timeline becomes the current one.
        project["currentTimeline"] = timeline["id"]
        return Timeline(timeline["id"])

    @api()
    def CreateTimelineFromClips(self, st, name, *clips):
        project = self._project(st)
        if not isinstance(name, str) or not name or any(t["name"] == name for t in project["timelines"]):
            return None
        entries = list(clips[0]) if len(clips) == 1 and isinstance(clips[0], (list, tuple)) else list(clips)
        entries = [{k: v for k, v in e.items() if k != "trackIndex"} if isinstance(e, dict) else e for e in entries]
        if not entries:
            return None
        timeline = model.new_timeline(st, project, name)
        project["currentTimeline"] = timeline["id"]
        _append(st, timeline, entries)
        return Timeline(timeline["id"])

    @api(fail=False)
    def MoveClips(self, st, clips, folder):
        project = self._project(st)
        if not isinstance(folder, Folder) or not model.folder_is_in_pool(st, project, folder._id):
            return False
        if not isinstance(clips, (list, tuple)) or not clips:
            return False
        for clip in clips:
            if not isinstance(clip, MediaPoolItem) or clip._id not in st["clips"]:
                return False
        for clip in clips:
            record = st["clips"][clip._id]
            old = st["folders"].get(record["folder"])
            if old and clip._id in old["clips"]:
                old["clips"].remove(clip._id)
            record["folder"] = folder._id
            st["folders"][folder._id]["clips"].append(clip._id)
        return True

    @api(fail=list)
    def GetSelectedClips(self, st):
        return [MediaPoolItem(c) for c in self._project(st).get("selectedClips", []) if c in st["clips"]]

    @api(fail=False)
    def SetSelectedClip(self, st, clip):
        if not isinstance(clip, MediaPoolItem) or clip._id not in st["clips"]:
            return False
        self._project(st)["selectedClips"] = [clip._id]
        return True

    @api(fail=False)
    def DeleteClips(self, st, clips):
        if not isinstance(clips, (list, tuple)) or not clips:
            return False
        for clip in clips:
            if not isinstance(clip, MediaPoolItem) or clip._id not in st["clips"]:
                return False
        for clip in clips:
            record = st["clips"].pop(clip._id)
            folder = st["folders"].get(record["folder"])
            if folder and clip._id in folder["clips"]:
                folder["clips"].remove(clip._id)
        return True

    @api(fail=False)
    def DeleteFolders(self, st, folders):
        project = self._project(st)
        if not isinstance(folders, (list, tuple)) or not folders:
            return False
        for folder in folders:
            if (not isinstance(folder, Folder) or folder._id in (project["rootFolder"], st.get("powerBinRoot"))
                    or not model.folder_is_in_pool(st, project, folder._id)):
                return False
        for folder in folders:
            model.delete_folder(st, folder._id)
        if project.get("currentFolder") not in st["folders"]:
            project["currentFolder"] = project["rootFolder"]
        return True

    @api(fail=False)
    def DeleteTimelines(self, st, timelines):
        project = self._project(st)
        if not isinstance(timelines, (list, tuple)) or not timelines:
            return False
        ids = set()
        for timeline in timelines:
            if not isinstance(timeline, Timeline) or not any(t["id"] == timeline._id for t in project["timelines"]):
                return False
            ids.add(timeline._id)
        for timeline in [t for t in project["timelines"] if t["id"] in ids]:
            project["timelines"].remove(timeline)
            clip = st["clips"].pop(timeline.get("clipId"), None)
            if clip and clip["folder"] in st["folders"]:
                st["folders"][clip["folder"]]["clips"].remove(clip["id"])
        if project.get("currentTimeline") in ids:
            project["currentTimeline"] = project["timelines"][0]["id"] if project["timelines"] else None
        return True

    @api(fail=False)
    def ImportFolderFromFile(self, st, path, source_clips_path=""):
        project = self._project(st)
        if not isinstance(path, str) or not path.lower().endswith(".drb") or not os.path.isfile(path):
            return False
        parent = project.get("currentFolder") or project["rootFolder"]
        try:
            with open(path, "r", encoding="utf-8") as handle:
                doc = json.load(handle)
        except (ValueError, UnicodeDecodeError):
            # inferred: a bin file in Resolve's own format cannot be read here;
            # it is imported as an empty bin named after the file.
            model.new_folder(st, os.path.splitext(os.path.basename(path))[0], parent)
            return True
        if not isinstance(doc, dict) or doc.get("format") != "resolve-sim-bin":
            return False
        _restore_folder(st, doc, parent)
        return True


def _restore_folder(st, doc, parent):
    folder = model.new_folder(st, str(doc.get("name") or "Bin"), parent)
    for clip in doc.get("clips", []):
        extra = {k: v for k, v in clip.items() if k not in ("id", "mediaId", "name", "type", "folder")}
        model.new_clip(st, folder["id"], clip.get("name", ""), clip.get("type", "Video"), **extra)
    for child in doc.get("folders", []):
        _restore_folder(st, child, folder["id"])
    return folder


def _export_folder(st, folder_id):
    folder = st["folders"][folder_id]
    clips = []
    for clip_id in folder["clips"]:
        clip = dict(st["clips"][clip_id])
        if clip["type"] == "Timeline":
            continue
        for key in ("id", "mediaId", "folder"):
            clip.pop(key, None)
        clips.append(clip)
    return {"format": "resolve-sim-bin", "name": folder["name"], "clips": clips,
            "folders": [_export_folder(st, child) for child in folder["children"]]}


def _import_one(st, project, folder, entry):
    rate, _ = model.rate_of(project["settings"])
    if isinstance(entry, dict):
        pattern = entry.get("FilePath")
        first, last = entry.get("StartIndex"), entry.get("EndIndex")
        if not isinstance(pattern, str):
            return None
        if _is_int(first) and _is_int(last) and "%" in pattern:
            try:
                paths = [pattern % i for i in range(int(first), int(last) + 1)]
            except (TypeError, ValueError):
                return None
            if not paths or not all(os.path.isfile(p) for p in paths):
                return None
            if media.classify(paths[0], False) != "Still":
                return None
            token = re.search(r"%0?\d*d", pattern)
            if not token:
                return None
            head, digits, tail = pattern[:token.start()], token.group(0), pattern[token.end():]
            name = os.path.basename(head) + "[" + (digits % int(first)) + "-" + (digits % int(last)) + "]" + tail
            info = media.probe(paths[0]) or {}
            return model.new_clip(st, folder, name, "Video", path=pattern, fps=float(rate), frames=len(paths),
                                  width=info.get("width", 0), height=info.get("height", 0))
        entry = pattern
    if not isinstance(entry, str) or not os.path.isfile(entry):
        return None
    path = os.path.abspath(entry)
    ctype = media.classify(path, model.at_least(st, "21.1"))
    name = os.path.basename(path)
    if ctype in ("Video", "Audio"):
        info = media.probe(path)
        if info is None:
            return None  # inferred: media ffprobe cannot read is refused
        if info["hasVideo"] and info["hasAudio"]:
            ctype = "Video + Audio"
        elif info["hasAudio"]:
            ctype = "Audio"
        else:
            ctype = "Video"
        fps = info["fps"] if info["hasVideo"] else float(rate)
        frames = info["frames"] if info["hasVideo"] else int(math.floor(info["duration"] * fps))
        return model.new_clip(st, folder, name, ctype, path=path, fps=float(fps), frames=int(frames),
                              width=info["width"], height=info["height"], hasVideo=info["hasVideo"],
                              hasAudio=info["hasAudio"])
    if ctype == "Still":
        info = media.probe(path) or {}
        return model.new_clip(st, folder, name, "Still", path=path, fps=float(rate),
                              frames=int(round(model.DEFAULT_STILL_SECONDS * rate)),
                              width=info.get("width", 0), height=info.get("height", 0))
    if ctype == "Subtitle":
        try:
            cues = media.read_srt(path)
        except OSError:
            return None
        if not cues:
            return None  # inferred: an SRT without cues is refused
        frames = int(math.ceil(max(c[1] for c in cues) * rate))
        return model.new_clip(st, folder, name, "Subtitle", path=path, fps=float(rate), frames=frames,
                              subtitles=[list(c) for c in cues], hasVideo=False)
    if ctype == "Lottie":
        info = media.lottie_info(path)
        if info is None:
            return None  # inferred: a .lottie archive without a readable animation is refused
        # inferred: a Lottie clip is a video clip at its own frame rate.
        return model.new_clip(st, folder, name, "Video", path=path, fps=info["fps"] or float(rate),
                              frames=info["frames"], width=info["width"], height=info["height"], hasVideo=True)
    return None


def _append(st, timeline, entries):
    rate, _ = model.timeline_rate(st, timeline)
    placed = []
    for entry in entries:
        info = {"mediaPoolItem": entry} if isinstance(entry, MediaPoolItem) else entry
        if not isinstance(info, dict) or not isinstance(info.get("mediaPoolItem"), MediaPoolItem):
            continue
        clip = st["clips"].get(info["mediaPoolItem"]._id)
        if clip is None or clip["type"] in ("Timeline", "Compound", "Multicam"):
            continue  # compound and timeline clips are not modelled
        media_type = info.get("mediaType")
        track_index = info.get("trackIndex")
        record = info.get("recordFrame")
        if record is not None and not (isinstance(record, (int, float)) and not isinstance(record, bool)
                                       and math.isfinite(record)):
            continue
        if track_index is not None and not _is_int(track_index):
            continue
        if clip["type"] == "Subtitle":
            placed.extend(_append_subtitles(st, timeline, clip, track_index, record, rate))
            continue
        parts = []
        if clip.get("hasVideo") and media_type in (None, 1):
            parts.append("video")
        if clip.get("hasAudio") and media_type in (None, 2):
            parts.append("audio")
        new_items = []
        for ttype in parts:
            item = _append_part(st, timeline, clip, ttype, info, track_index, record, rate)
            if item is not None:
                new_items.append(item)
        if len(new_items) == 2 and all(it.get("id") for it in new_items):
            new_items[0]["linked"] = [new_items[1]["id"]]
            new_items[1]["linked"] = [new_items[0]["id"]]
        placed.extend(TimelineItem(it["id"]) if it.get("id") else TimelineItem(None) for it in new_items)
    # The result is [] when nothing was appended.
    return placed


def _append_part(st, timeline, clip, ttype, info, track_index, record, rate):
    # inferred: without trackIndex the clip goes to track 1 of its type.
    track = model.track_of(timeline, ttype, track_index if track_index is not None else 1)
    if track is None or track["locked"]:
        return None  # inferred: a missing or locked track takes nothing
    clip_rate = clip.get("fps") or rate
    src_start = info.get("startFrame", 0) or 0
    src_end = info.get("endFrame")
    if src_end is None:
        src_end = clip.get("frames") or 0
    try:
        src_start, src_end = float(src_start), float(src_end)
    except (TypeError, ValueError):
        return None
    if src_start < 0 or src_end <= src_start:
        return None
    if clip["type"] not in ("Still", "Fusion Title", "Generator") and clip.get("frames") and src_end > clip["frames"]:
        src_end = float(clip["frames"])
    # endFrame is exclusive; mixed rates convert the source range by flooring.
    # A timeline at 29.97 or 23.976 runs at exactly 30000/1001 or 24000/1001,
    # the rate a movie file stores: such rates are the same rate.
    if abs(clip_rate - rate) > 1e-4 * rate and clip["type"] not in ("Still", "Fusion Title", "Generator"):
        duration = int(math.floor((src_end - src_start) * rate / clip_rate))
    else:
        duration = int(math.floor(src_end - src_start))
    if duration <= 0:
        return None
    if record is None:
        # inferred: appending without recordFrame places the clip after the
        # last item of the target track (at the timeline start when empty).
        start = max([timeline["startFrame"]] + [it["end"] for it in track["items"]])
    else:
        start = int(math.floor(record))
    end = start + duration
    if not model.span_free(track, start, end):
        # The earlier item wins: the later append is silently dropped.
        if st["app"].get("overlapReturnsPhantom"):
            return {"id": ""}
        return None
    kind = ttype
    extra = {"clip": clip["id"], "sourceStart": int(src_start), "sourceEnd": int(src_end)}
    if clip["type"] == "Fusion Title":
        kind = "title"
        extra["comps"] = [{"id": model.new_id(), "name": "Composition 1",
                           "setting": clip.get("comp") or fusion.text_title_setting()}]
    elif clip["type"] == "Generator":
        kind = "generator"
    item = model.new_item(kind, clip["name"], start, end, **extra)
    item["leftOffset"] = int(src_start)
    model.place_item(track, item)
    return item


def _append_subtitles(st, timeline, clip, track_index, record, rate):
    tracks = timeline["tracks"]["subtitle"]
    if not tracks and track_index in (None, 1):
        model.add_track(timeline, "subtitle")  # inferred: the first subtitle track is created on demand
    track = model.track_of(timeline, "subtitle", track_index if track_index is not None else 1)
    if track is None or track["locked"]:
        return []
    # inferred: cue times count from the record frame, else from the timeline start.
    origin = int(math.floor(record)) if record is not None else timeline["startFrame"]
    placed = []
    for start_s, end_s, text in clip.get("subtitles") or []:
        start = origin + int(round(start_s * rate))
        end = origin + int(round(end_s * rate))
        if end <= start or not model.span_free(track, start, end):
            continue
        item = model.new_item("subtitle", text, start, end, text=text)
        model.place_item(track, item)
        placed.append(TimelineItem(item["id"]))
    return placed


class Folder(_Proxy):
    def __init__(self, fid):
        self._id = fid

    def _folder(self, st):
        return _require(st["folders"].get(self._id))

    @api(fail="")
    def GetName(self, st):
        return self._folder(st)["name"]

    @api(fail="")
    def GetUniqueId(self, st):
        return self._folder(st)["id"]

    @api(fail=list)
    def GetClipList(self, st):
        return [MediaPoolItem(c) for c in self._folder(st)["clips"] if c in st["clips"]]

    @api(fail=list)
    def GetSubFolderList(self, st):
        return [Folder(f) for f in self._folder(st)["children"] if f in st["folders"]]

    @api(fail=dict)
    def GetClips(self, st):
        return {float(i): MediaPoolItem(c) for i, c in enumerate(self._folder(st)["clips"], 1)}

    @api(fail=dict)
    def GetSubFolders(self, st):
        return {float(i): Folder(f) for i, f in enumerate(self._folder(st)["children"], 1)}

    @api(fail=False)
    def GetIsFolderStale(self, st):
        self._folder(st)
        return False

    @api(fail=False)
    def Export(self, st, path):
        self._folder(st)
        if not isinstance(path, str) or not path.lower().endswith(".drb"):
            return False
        store.write_atomic(os.path.abspath(path), json.dumps(_export_folder(st, self._id), ensure_ascii=False, indent=1))
        return True


class MediaPoolItem(_Proxy):
    def __init__(self, cid):
        self._id = cid

    def _clip(self, st):
        return _require(st["clips"].get(self._id))

    @api(fail="")
    def GetName(self, st):
        return self._clip(st)["name"]

    @api(fail=False, since="20.2")
    def SetName(self, st, name):
        if not isinstance(name, str) or not name:
            return False
        self._clip(st)["name"] = name
        return True

    @api(fail="")
    def GetUniqueId(self, st):
        return self._clip(st)["id"]

    @api(fail="")
    def GetMediaId(self, st):
        return self._clip(st)["mediaId"]

    @api(fail="")
    def GetClipProperty(self, st, name=None):
        props = _clip_properties(st, self._clip(st))
        if not name:
            return props
        return props.get(name, "")  # inferred: an unknown key reads as ''

    @api(fail=False)
    def SetClipProperty(self, st, name, value):
        clip = self._clip(st)
        if name == "Clip Name":
            clip["name"] = str(value)
            return True
        if name in ("Comments", "Description", "Keywords", "Scene", "Shot", "Take"):
            clip["properties"][name] = str(value)
            return True
        return False  # inferred: other keys are read-only here

    @api(fail="")
    def GetMetadata(self, st, name=None):
        metadata = self._clip(st)["metadata"]
        return dict(metadata) if not name else metadata.get(name, "")

    @api(fail=False)
    def SetMetadata(self, st, name, value=None):
        clip = self._clip(st)
        if isinstance(name, dict):
            clip["metadata"].update({str(k): str(v) for k, v in name.items()})
            return True
        if not isinstance(name, str) or value is None:
            return False
        clip["metadata"][name] = str(value)
        return True

    @api(fail="")
    def GetClipColor(self, st):
        return self._clip(st)["color"]

    @api(fail=False)
    def SetClipColor(self, st, color):
        if color not in model.CLIP_COLORS:
            return False
        self._clip(st)["color"] = color
        return True

    @api(fail=False)
    def ClearClipColor(self, st):
        self._clip(st)["color"] = ""
        return True

    @api(fail=dict)
    def GetMarkers(self, st):
        return {}

    @api(since="21.0.4")
    def GetTimeline(self, st):
        clip = self._clip(st)
        if clip["type"] != "Timeline" or not model.timeline_by_id(st, clip.get("timeline"))[1]:
            return None
        return Timeline(clip["timeline"])


def _clip_properties(st, clip):
    fps = float(clip.get("fps") or 0.0)
    frames = int(clip.get("frames") or 0)
    duration = timecode.frames_to_timecode(frames, fps) if fps else "00:00:00:00"
    end_tc = timecode.frames_to_timecode(max(frames - 1, 0), fps) if fps else "00:00:00:00"
    path = clip.get("path") or ""
    props = {
        "Clip Name": clip["name"],
        "Type": clip["type"],
        "File Path": path,
        "File Name": os.path.basename(path) if path else "",
        "FPS": fps,
        "Frames": str(frames),
        "Duration": duration,
        "Start TC": "00:00:00:00",
        "End TC": end_tc,
        "Resolution": "%dx%d" % (clip.get("width") or 0, clip.get("height") or 0) if clip.get("width") else "",
        "Clip Color": clip.get("color", ""),
        "Super Scale": 0,
        "Format": os.path.splitext(path)[1].lstrip(".").upper() if path else "",
    }
    props.update(clip.get("properties") or {})
    return props


# ---------------------------------------------------------------- timeline

class Timeline(_Proxy):
    def __init__(self, tid):
        self._id = tid

    def _tl(self, st):
        return _timeline(st, self._id)

    def _is_current(self, st):
        project, timeline = model.timeline_by_id(st, self._id)
        return project is not None and project["id"] == st.get("currentProject") and project.get("currentTimeline") == self._id

    @api(fail="")
    def GetName(self, st):
        return self._tl(st)["name"]

    @api(fail=False)
    def SetName(self, st, name):
        project, timeline = model.timeline_by_id(st, self._id)
        _require(timeline)
        if not isinstance(name, str) or not name or any(t["name"] == name for t in project["timelines"] if t is not timeline):
            return False
        timeline["name"] = name
        clip = st["clips"].get(timeline.get("clipId"))
        if clip:
            clip["name"] = name
        return True

    @api(fail="")
    def GetUniqueId(self, st):
        return self._tl(st)["id"]

    @api(fail="")
    def GetSetting(self, st, name=None):
        settings = model.timeline_settings(st, self._tl(st))
        if not name:
            return {k: model.present_setting(st, settings, k) for k in settings}
        if name not in settings:
            return ""
        return model.present_setting(st, settings, name)

    @api(fail=dict, since="21.1")
    def GetSettings(self, st):
        settings = model.timeline_settings(st, self._tl(st))
        return {k: model.present_setting(st, settings, k) for k in settings}

    @api(fail=False)
    def SetSetting(self, st, name, value):
        timeline = self._tl(st)
        if name == "useCustomSettings":
            if str(value) not in ("0", "1"):
                return False
            if str(value) == "1" and timeline["settings"].get("useCustomSettings") != "1":
                project, _ = model.timeline_by_id(st, self._id)
                timeline["settings"] = dict(project["settings"])
            timeline["settings"]["useCustomSettings"] = str(value)
            return True
        if timeline["settings"].get("useCustomSettings") != "1":
            return False  # inferred: a timeline without custom settings follows the project
        has_items = model.timeline_end(st, timeline) > timeline["startFrame"]
        return _set_setting(st, timeline["settings"], name, value, has_items)

    @api(fail=0)
    def GetStartFrame(self, st):
        return int(self._tl(st)["startFrame"])

    @api(fail=0)
    def GetEndFrame(self, st):
        timeline = self._tl(st)
        end = model.timeline_end(st, timeline)
        if st["app"].get("endFrameInclusive") and end > timeline["startFrame"]:
            return end - 1
        return end

    @api(fail="")
    def GetStartTimecode(self, st):
        timeline = self._tl(st)
        rate, df = model.timeline_rate(st, timeline)
        return timecode.frames_to_timecode(timeline["startFrame"], rate, df)

    @api(fail=False)
    def SetStartTimecode(self, st, tc):
        timeline = self._tl(st)
        rate, df = model.timeline_rate(st, timeline)
        frame = timecode.timecode_to_frames(tc, rate, df)
        if frame is None:
            return False
        # Everything on the timeline moves with its start.
        model.shift_timeline(timeline, frame - timeline["startFrame"])
        return True

    @api(fail=0)
    def GetTrackCount(self, st, track_type):
        timeline = self._tl(st)
        if track_type not in model.TRACK_TYPES:
            return 0  # inferred: an unknown track type counts 0
        return len(timeline["tracks"][track_type])

    @api(fail=False)
    def AddTrack(self, st, track_type, options=None):
        timeline = self._tl(st)
        if track_type not in model.TRACK_TYPES:
            return False
        allowed = model.AUDIO_SUBTYPES_20 if model.at_least(st, "20.0") else model.AUDIO_SUBTYPES_19
        index = None
        sub_type = None
        if isinstance(options, dict):
            sub_type = options.get("audioType")
            index = options.get("index")
            if index is not None and not _is_int(index):
                index = None
            index = int(index) if index is not None else None
            # An index outside 1..count appends.
            if index is not None and not 1 <= index <= len(timeline["tracks"][track_type]):
                index = None
        elif isinstance(options, str):
            sub_type = options
        elif options is not None:
            return False
        if track_type == "audio":
            sub_type = sub_type or "mono"
            if sub_type not in allowed:
                return False
        model.add_track(timeline, track_type, sub_type if track_type == "audio" else None, index)
        if track_type == "video":
            edit_target.video_track_added(st, timeline, index)
        return True

    @api(fail=False)
    def DeleteTrack(self, st, track_type, index):
        timeline = self._tl(st)
        track = model.track_of(timeline, track_type, index)
        if track is None:
            return False
        timeline["tracks"][track_type].remove(track)
        if track_type == "video":
            edit_target.video_track_deleted(timeline, int(index))
        return True

    @api(fail="")
    def GetTrackName(self, st, track_type, index):
        timeline = self._tl(st)
        track = model.track_of(timeline, track_type, index)
        if track is None:
            return ""
        return model.track_name(track_type, int(index), track)

    @api(fail=False)
    def SetTrackName(self, st, track_type, index, name):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None or not isinstance(name, str) or not name:
            return False
        track["name"] = name
        return True

    @api(fail="")
    def GetTrackSubType(self, st, track_type, index):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None or track_type != "audio":
            return ""
        return track.get("subType", "mono")

    @api(fail=False)
    def GetIsTrackEnabled(self, st, track_type, index):
        track = model.track_of(self._tl(st), track_type, index)
        return bool(track and track["enabled"])

    @api(fail=False)
    def SetTrackEnable(self, st, track_type, index, enabled):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None:
            return False
        track["enabled"] = bool(enabled)
        return True

    @api(fail=False)
    def GetIsTrackLocked(self, st, track_type, index):
        track = model.track_of(self._tl(st), track_type, index)
        return bool(track and track["locked"])

    @api(fail=False)
    def SetTrackLock(self, st, track_type, index, locked):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None:
            return False
        track["locked"] = bool(locked)
        return True

    @api(fail=list)
    def GetItemListInTrack(self, st, track_type, index):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None:
            return []
        return [TimelineItem(it["id"]) for it in track["items"]]

    @api(fail=dict)
    def GetItemsInTrack(self, st, track_type, index):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None:
            return {}
        return {float(i): TimelineItem(it["id"]) for i, it in enumerate(track["items"], 1)}

    @api(fail="")
    def GetCurrentTimecode(self, st):
        timeline = self._tl(st)
        if not _page_has_playhead(st):
            return ""  # inferred: pages without a timeline viewer answer ''
        rate, df = model.timeline_rate(st, timeline)
        return timecode.frames_to_timecode(timeline["playhead"], rate, df)

    @api(fail=False)
    def SetCurrentTimecode(self, st, tc):
        timeline = self._tl(st)
        if not _page_has_playhead(st):
            return False  # inferred: refused on other pages
        rate, df = model.timeline_rate(st, timeline)
        frame = timecode.timecode_to_frames(tc, rate, df)
        if frame is None or frame < timeline["startFrame"]:
            return False  # inferred: a timecode before the timeline start is refused
        timeline["playhead"] = frame
        return True

    @api()
    def GetCurrentVideoItem(self, st):
        timeline = self._tl(st)
        item = _video_item_at(timeline, timeline["playhead"])
        return TimelineItem(item["id"]) if item else None

    def _insert(self, st, kind, name, comp_text):
        timeline = self._tl(st)
        if not self._is_current(st):
            return None  # inferred: inserting works on the timeline open in the viewer
        if st["app"].get("page") not in ("edit", "cut"):
            return None  # inferred: titles are inserted from the Edit or Cut page
        # Inserts go to the Edit page's target track (V1 unless changed), never
        # redirected when that track is locked.
        track = edit_target.target_track(timeline)
        if track is None or track["locked"]:
            return None
        rate, _ = model.timeline_rate(st, timeline)
        start, end = edit_target.insert_span(st, timeline, int(round(model.DEFAULT_TITLE_SECONDS * rate)))
        if not model.span_free(track, start, end):
            return None  # inferred: an occupied span on the target track refuses the insert
        comps = [{"id": model.new_id(), "name": "Composition 1", "setting": comp_text}] if comp_text else []
        item = model.new_item(kind, name, start, end, comps=comps)
        model.place_item(track, item)
        # inferred: like an edit, the playhead moves to the end of the new item.
        timeline["playhead"] = end
        return TimelineItem(item["id"])

    @api()
    def InsertFusionTitleIntoTimeline(self, st, name):
        if name not in FUSION_TITLES:
            return None
        # inferred: a new title's StyledText starts empty.
        return self._insert(st, "title", name, fusion.text_title_setting(""))

    @api()
    def InsertFusionCompositionIntoTimeline(self, st):
        return self._insert(st, "fusion", "Fusion Composition", fusion.empty_comp_setting())

    @api()
    def InsertTitleIntoTimeline(self, st, name):
        if name not in EDIT_TITLES:
            return None
        return self._insert(st, "title", name, None)

    @api()
    def InsertGeneratorIntoTimeline(self, st, name):
        if name not in GENERATORS:
            return None
        return self._insert(st, "generator", name, None)

    @api(fail=False)
    def SetMarkInOut(self, st, mark_in, mark_out, mark_type="all"):
        timeline = self._tl(st)
        if mark_type not in ("video", "audio", "all"):
            return False
        for value in (mark_in, mark_out):
            if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
                return False
        # The numbers are stored as given (they read back unchanged).
        for kind in (("video", "audio") if mark_type == "all" else (mark_type,)):
            timeline["marks"][kind] = {"in": mark_in, "out": mark_out}
        return True

    @api(fail=dict)
    def GetMarkInOut(self, st):
        return model.clone(self._tl(st).get("marks", {}))

    @api(fail=False)
    def ClearMarkInOut(self, st, mark_type="all"):
        timeline = self._tl(st)
        if mark_type not in ("video", "audio", "all"):
            return False
        for kind in (("video", "audio") if mark_type == "all" else (mark_type,)):
            timeline["marks"].pop(kind, None)
        return True

    @api(fail=False)
    def DeleteClips(self, st, items, ripple=False):
        timeline = self._tl(st)
        if st["app"].get("page") not in ("edit", "cut"):
            return False  # needs the Edit page (False on Fairlight)
        if not isinstance(items, (list, tuple)) or not items:
            return False
        targets = []
        for handle in items:
            if not isinstance(handle, TimelineItem):
                return False
            _, owner, ttype, index, item = model.find_item(st, handle._id)
            if owner is not timeline:
                return False
            targets.append((ttype, index, item))
        for ttype, index, item in targets:
            track = timeline["tracks"][ttype][index - 1]
            track["items"].remove(item)
            if ripple:
                length = item["end"] - item["start"]
                for other in track["items"]:
                    if other["start"] >= item["end"]:
                        other["start"] -= length
                        other["end"] -= length
        timeline["selectedItems"] = [i for i in timeline.get("selectedItems", [])
                                     if model.find_item(st, i)[4] is not None]
        return True

    @api()
    def GetMediaPoolItem(self, st):
        timeline = self._tl(st)
        return MediaPoolItem(timeline["clipId"]) if timeline.get("clipId") in st["clips"] else None

    @api(fail=list, since="21.0.4")
    def GetSelectedClips(self, st):
        timeline = self._tl(st)
        return [TimelineItem(i) for i in timeline.get("selectedItems", []) if model.find_item(st, i)[1] is timeline]

    @api(fail=False)
    def AddMarker(self, st, frame, color, name, note, duration, custom_data=""):
        timeline = self._tl(st)
        if not _is_int(frame) or not _is_int(duration) or duration < 1 or not isinstance(color, str):
            return False
        key = str(int(frame))
        if key in timeline["markers"]:
            return False
        timeline["markers"][key] = {"color": color, "duration": float(duration), "note": str(note),
                                    "name": str(name), "customData": str(custom_data)}
        return True

    @api(fail=dict)
    def GetMarkers(self, st):
        return {float(k): dict(v) for k, v in sorted(self._tl(st)["markers"].items(), key=lambda kv: int(kv[0]))}

    @api(fail=False)
    def DeleteMarkerAtFrame(self, st, frame):
        return self._tl(st)["markers"].pop(str(int(frame)), None) is not None

    @api(fail=False)
    def CreateSubtitlesFromAudio(self, st, settings=None):
        # Studio only, and only with the bridge's enum constants, which the
        # simulator does not provide: always refused.
        return False


FUSION_TITLES = {"Text+", "Background Reveal", "Call Out", "Digital Glitch", "Drop In", "Fade On", "Scroll",
                 "Slide In", "Text Wobble", "Sliced Title", "Lower Third"}
EDIT_TITLES = {"Text", "Scroll", "Left Lower Third", "Middle Lower Third", "Right Lower Third"}
GENERATORS = {"Solid Color", "10 Step", "EBU Color Bar", "Four Color Gradient", "Grey Scale",
              "SMPTE Color Bar", "Window"}


# ---------------------------------------------------------------- timeline items

_TRANSFORM_DEFAULTS = {
    "Pan": 0.0, "Tilt": 0.0, "ZoomX": 1.0, "ZoomY": 1.0, "ZoomGang": True, "RotationAngle": 0.0,
    "AnchorPointX": 0.0, "AnchorPointY": 0.0, "Pitch": 0.0, "Yaw": 0.0, "FlipX": False, "FlipY": False,
    "CropLeft": 0.0, "CropRight": 0.0, "CropTop": 0.0, "CropBottom": 0.0, "CropSoftness": 0.0,
    "CropRetain": False, "DynamicZoomEase": 0, "CompositeMode": 0, "Opacity": 100.0, "Distortion": 0.0,
    "RetimeProcess": 0, "MotionEstimation": 0, "Scaling": 0, "ResizeFilter": 0,
}
_BOOL_KEYS = {"ZoomGang", "FlipX", "FlipY", "CropRetain"}
# Enumerated keys take the bridge's constants, which read back as numbers.
_ENUM_RANGES = {"DynamicZoomEase": (0, 3), "CompositeMode": (0, 30), "RetimeProcess": (0, 3),
                "MotionEstimation": (0, 6), "Scaling": (0, 4), "ResizeFilter": (0, 13)}
_AUDIO_DEFAULTS = {"AudioVolumeEnabled": True, "AudioVolume": 0.0, "AudioPan": 0.0,
                   "AudioPitchSemiTones": 0.0, "AudioPitchCents": 0.0}
_AUDIO_RANGES = {"AudioVolume": (-100.0, 30.0), "AudioPan": (-100.0, 100.0),
                 "AudioPitchSemiTones": (-24.0, 24.0), "AudioPitchCents": (-100.0, 100.0)}


def _numeric_range(key, width, height):
    if key in ("Pan", "AnchorPointX"):
        return -4.0 * width, 4.0 * width
    if key in ("Tilt", "AnchorPointY"):
        return -4.0 * height, 4.0 * height
    if key in ("ZoomX", "ZoomY"):
        return 0.0, 100.0
    if key == "RotationAngle":
        return -360.0, 360.0
    if key in ("Pitch", "Yaw"):
        return -1.5, 1.5
    if key in ("CropLeft", "CropRight"):
        return 0.0, float(width)
    if key in ("CropTop", "CropBottom"):
        return 0.0, float(height)
    if key == "CropSoftness":
        return -100.0, 100.0
    if key == "Opacity":
        return 0.0, 100.0
    if key == "Distortion":
        return -1.0, 1.0
    return None


class TimelineItem(_Proxy):
    """A timeline item. A handle without id stands for the unreadable item an
    append into an occupied span can return."""

    def __init__(self, iid):
        self._id = iid

    def _find(self, st):
        found = model.find_item(st, self._id) if self._id else (None,) * 5
        _require(found[4])
        return found

    def _item(self, st):
        return self._find(st)[4]

    def _rate(self, st):
        _, timeline, _, _, _ = self._find(st)
        return model.timeline_rate(st, timeline)[0]

    @api(fail="")
    def GetName(self, st):
        item = self._item(st)
        if item["kind"] == "subtitle":
            if model.version_tuple(model.profile(st)) == (20, 2, 0):
                return "Subtitle"  # the 20.2 regression, fixed in 20.2.1
            return item.get("text", item["name"])
        return item["name"]

    @api(fail=False, since="20.2")
    def SetName(self, st, name):
        item = self._item(st)
        if not isinstance(name, str):
            return False
        if item["kind"] == "subtitle":
            return False  # inferred: renaming does not change a caption's text
        item["name"] = name
        return True

    @api(fail="")
    def GetUniqueId(self, st):
        if not self._id:
            return ""
        return self._item(st)["id"]

    def _frame(self, value, subframe):
        # inferred: subtitle items answer the sub-frame form with the same
        # frame as a float, like every other item.
        return float(value) if subframe else int(value)

    @api(fail=0)
    def GetStart(self, st, subframe=False):
        return self._frame(self._item(st)["start"], subframe)

    @api(fail=0)
    def GetEnd(self, st, subframe=False):
        return self._frame(self._item(st)["end"], subframe)

    @api(fail=0)
    def GetDuration(self, st, subframe=False):
        item = self._item(st)
        return self._frame(item["end"] - item["start"], subframe)

    @api(fail=0)
    def GetLeftOffset(self, st, subframe=False):
        return self._frame(self._item(st).get("leftOffset", 0), subframe)

    @api(fail=0)
    def GetRightOffset(self, st, subframe=False):
        item = self._item(st)
        clip = st["clips"].get(item.get("clip") or "")
        if not clip or clip["type"] in ("Still", "Fusion Title", "Generator"):
            return self._frame(0, subframe)
        return self._frame(max(0, (clip.get("frames") or 0) - item.get("sourceEnd", 0)), subframe)

    @api(fail=0)
    def GetSourceStartFrame(self, st):
        return int(self._item(st).get("sourceStart", 0))

    @api(fail=0)
    def GetSourceEndFrame(self, st):
        item = self._item(st)
        return int(item.get("sourceEnd", item["end"] - item["start"]))

    @api(fail=0.0)
    def GetSourceStartTime(self, st):
        item = self._item(st)
        clip = st["clips"].get(item.get("clip") or "")
        rate = (clip or {}).get("fps") or self._rate(st)
        return float(item.get("sourceStart", 0)) / rate

    @api(fail=0.0)
    def GetSourceEndTime(self, st):
        item = self._item(st)
        clip = st["clips"].get(item.get("clip") or "")
        rate = (clip or {}).get("fps") or self._rate(st)
        return float(item.get("sourceEnd", item["end"] - item["start"])) / rate

    def _properties(self, st, item):
        _, timeline, _, _, _ = self._find(st)
        props = dict(_TRANSFORM_DEFAULTS)
        props.update({k: v for k, v in item["properties"].items() if k in _TRANSFORM_DEFAULTS})
        return props

    @api()
    def GetProperty(self, st, key=None):
        item = self._item(st)
        if item["kind"] == "subtitle" and not model.at_least(st, "20.0"):
            return None  # subtitles have no properties on 19.x
        # inferred: on 20.x and later subtitle items answer the transform keys.
        if item["kind"] == "audio":
            return {} if key is None else None  # inferred: audio items have no video keys
        props = self._properties(st, item)
        if key is None:
            return props
        return props.get(key)  # an unknown key reads as None

    @api(fail=False)
    def SetProperty(self, st, key, value=None):
        item = self._item(st)
        if isinstance(key, dict):
            return all([self._set_one(st, item, k, v) for k, v in key.items()]) if key else False
        return self._set_one(st, item, key, value)

    def _set_one(self, st, item, key, value):
        if item["kind"] in ("audio", "subtitle") or key not in _TRANSFORM_DEFAULTS:
            return False
        _, timeline, _, _, _ = self._find(st)
        settings = model.timeline_settings(st, timeline)
        width = int(settings.get("timelineResolutionWidth") or 1920)
        height = int(settings.get("timelineResolutionHeight") or 1080)
        if key in _BOOL_KEYS:
            if not isinstance(value, (bool, int)):
                return False
            item["properties"][key] = bool(value)
            return True
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
            return False
        if key in _ENUM_RANGES:
            low, high = _ENUM_RANGES[key]
            if not _is_int(value) or not low <= value <= high:
                return False
            item["properties"][key] = int(value)
            return True
        low, high = _numeric_range(key, width, height)
        # Values beyond the range are clipped.
        item["properties"][key] = float(min(max(float(value), low), high))
        return True

    @api(fail=dict, since="21.1")
    def GetProperties(self, st):
        item = self._item(st)
        if item["kind"] == "audio":
            props = dict(_AUDIO_DEFAULTS)
            props.update({k: v for k, v in item["properties"].items() if k in _AUDIO_DEFAULTS})
            return props
        return self._properties(st, item)

    @api(fail=False, since="21.1")
    def SetProperties(self, st, values):
        item = self._item(st)
        if not isinstance(values, dict) or not values:
            return False
        if item["kind"] == "audio":
            staged = {}
            for key, value in values.items():
                if key == "AudioVolumeEnabled" and isinstance(value, bool):
                    staged[key] = value
                elif key in _AUDIO_RANGES and isinstance(value, (int, float)) and not isinstance(value, bool):
                    low, high = _AUDIO_RANGES[key]
                    staged[key] = float(min(max(float(value), low), high))
                else:
                    return False  # everything is validated first: all or nothing
            item["properties"].update(staged)
            return True
        saved = dict(item["properties"])
        for key, value in values.items():
            if not self._set_one(st, item, key, value):
                item["properties"] = saved
                return False
        return True

    @api(fail="")
    def GetClipColor(self, st):
        return self._item(st)["clipColor"]

    @api(fail=False)
    def SetClipColor(self, st, color):
        item = self._item(st)
        if color not in model.CLIP_COLORS:
            return False
        if item["kind"] in ("title", "generator", "fusion"):
            return True  # accepted, but the colour does not persist on titles and generators
        item["clipColor"] = color
        return True

    @api(fail=False)
    def ClearClipColor(self, st):
        self._item(st)["clipColor"] = ""
        return True

    @api(fail=False)
    def GetClipEnabled(self, st):
        return bool(self._item(st)["enabled"])

    @api(fail=False)
    def SetClipEnabled(self, st, enabled):
        self._item(st)["enabled"] = bool(enabled)
        return True

    @api()
    def GetMediaPoolItem(self, st):
        item = self._item(st)
        if item["kind"] in ("title", "generator", "subtitle", "fusion") or item.get("clip") not in st["clips"]:
            return None
        return MediaPoolItem(item["clip"])

    @api(fail=list)
    def GetTrackTypeAndIndex(self, st):
        _, _, ttype, index, _ = self._find(st)
        return [ttype, index]

    @api(fail=list)
    def GetLinkedItems(self, st):
        return [TimelineItem(i) for i in self._item(st).get("linked", []) if model.find_item(st, i)[4]]

    @api(fail=False)
    def AddMarker(self, st, frame, color, name, note, duration, custom_data=""):
        item = self._item(st)
        if not _is_int(frame) or not _is_int(duration) or duration < 1 or not isinstance(color, str):
            return False
        key = str(int(frame))
        if key in item["markers"]:
            return False
        item["markers"][key] = {"color": color, "duration": float(duration), "note": str(note),
                                "name": str(name), "customData": str(custom_data)}
        return True

    @api(fail=dict)
    def GetMarkers(self, st):
        return {float(k): dict(v) for k, v in sorted(self._item(st)["markers"].items(), key=lambda kv: int(kv[0]))}

    @api(fail="", since="21.1")
    def GetType(self, st):
        kind = self._item(st)["kind"]
        # inferred: titles and compositions report "generator", subtitles "subtitle".
        return {"title": "generator", "fusion": "generator"}.get(kind, kind)

    # -- Fusion compositions

    def _comps(self, st):
        item = self._item(st)
        if item["kind"] in ("audio", "subtitle"):
            return item, None  # inferred: audio and subtitle items hold no compositions
        return item, item["comps"]

    @api(fail=0)
    def GetFusionCompCount(self, st):
        _, comps = self._comps(st)
        return len(comps or [])

    @api()
    def GetFusionCompByIndex(self, st, index):
        item, comps = self._comps(st)
        if not comps or not _is_int(index) or not 1 <= int(index) <= len(comps):
            return None
        return FusionComp(item["id"], comps[int(index) - 1]["id"])

    @api(fail=list)
    def GetFusionCompNameList(self, st):
        _, comps = self._comps(st)
        return [c["name"] for c in comps or []]

    @api()
    def GetFusionCompByName(self, st, name):
        item, comps = self._comps(st)
        for comp in comps or []:
            if comp["name"] == name:
                return FusionComp(item["id"], comp["id"])
        return None

    def _new_comp(self, item, comps, text):
        names = {c["name"] for c in comps}
        n = len(comps) + 1
        while "Composition %d" % n in names:
            n += 1
        comp = {"id": model.new_id(), "name": "Composition %d" % n, "setting": text}
        comps.append(comp)
        item["activeComp"] = len(comps) - 1
        return comp

    @api()
    def AddFusionComp(self, st):
        item, comps = self._comps(st)
        if comps is None:
            return None
        comp = self._new_comp(item, comps, fusion.empty_comp_setting(media_in=item["kind"] == "video"))
        return FusionComp(item["id"], comp["id"])

    @api()
    def ImportFusionComp(self, st, path):
        item, comps = self._comps(st)
        if comps is None or not isinstance(path, str) or not os.path.isfile(path):
            return None  # inferred: failure gives None
        with open(path, "r", encoding="utf-8") as handle:
            text = handle.read()
        if not fusion.is_valid_comp(text):
            return None
        if st["app"].get("importFusionCompReplaces") and comps:
            comps[0]["setting"] = text
            item["activeComp"] = 0
            comp = comps[0]
        else:
            # The imported composition is added to the item and becomes the active one.
            comp = self._new_comp(item, comps, text)
        if item["kind"] in ("title", "fusion"):
            label = fusion.title_text(text)
            item["displayText"] = label
        return FusionComp(item["id"], comp["id"])

    @api(fail=False)
    def ExportFusionComp(self, st, path, index=1):
        _, comps = self._comps(st)
        if not comps or not _is_int(index) or not 1 <= int(index) <= len(comps) or not isinstance(path, str):
            return False
        folder = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(folder):
            return False
        store.write_atomic(os.path.abspath(path), comps[int(index) - 1]["setting"])
        return True

    @api(fail=False)
    def DeleteFusionCompByName(self, st, name):
        item, comps = self._comps(st)
        for i, comp in enumerate(comps or []):
            if comp["name"] == name:
                del comps[i]
                item["activeComp"] = max(0, min(item.get("activeComp", 0), len(comps) - 1))
                return True
        return False

    @api()
    def LoadFusionCompByName(self, st, name):
        item, comps = self._comps(st)
        for i, comp in enumerate(comps or []):
            if comp["name"] == name:
                item["activeComp"] = i
                return FusionComp(item["id"], comp["id"])
        return None

    @api(fail=False)
    def RenameFusionCompByName(self, st, old, new):
        _, comps = self._comps(st)
        if not isinstance(new, str) or not new or any(c["name"] == new for c in comps or []):
            return False
        for comp in comps or []:
            if comp["name"] == old:
                comp["name"] = new
                return True
        return False


# ---------------------------------------------------------------- Fusion

class _CompHandle(_Proxy):
    def _comp(self, st):
        _, _, _, _, item = model.find_item(st, self._item_id)
        _require(item)
        for comp in item["comps"]:
            if comp["id"] == self._comp_id:
                return comp
        raise LookupError("composition no longer exists")

    def _doc(self, st):
        return setting.parse(self._comp(st)["setting"])

    def _save(self, st, doc):
        self._comp(st)["setting"] = setting.dumps(doc)


class FusionComp(_CompHandle):
    def __init__(self, item_id, comp_id):
        self._item_id = item_id
        self._comp_id = comp_id
        self._id = comp_id

    @property
    def CurrentTime(self):
        return 0.0

    @api(fail=dict)
    def GetToolList(self, st, selected=False, regid=None):
        doc = self._doc(st)
        active = doc.get("ActiveTool")
        tools = []
        for name, tool in fusion.tool_entries(doc):
            if selected and name != active:
                continue
            if regid and tool.type != regid:
                continue
            tools.append(Tool(self._item_id, self._comp_id, name))
        # Lua tables arrive keyed by float numbers from 1; an empty comp gives {}.
        # inferred: float keys, in the composition's order.
        return {float(i): tool for i, tool in enumerate(tools, 1)}

    @api()
    def FindTool(self, st, name):
        doc = self._doc(st)
        return Tool(self._item_id, self._comp_id, name) if fusion.find_tool(doc, name) is not None else None

    @api()
    def FindToolByID(self, st, regid):
        for name, tool in fusion.tool_entries(self._doc(st)):
            if tool.type == regid:
                return Tool(self._item_id, self._comp_id, name)
        return None

    @api()
    def AddTool(self, st, regid, *rest):
        if not isinstance(regid, str) or not regid:
            return None
        numbers = [v for v in rest if isinstance(v, (int, float)) and not isinstance(v, bool)]
        x, y = (numbers[-2], numbers[-1]) if len(numbers) >= 2 else (None, None)
        doc = self._doc(st)
        name = fusion.add_tool(doc, regid, x, y)
        self._save(st, doc)
        return Tool(self._item_id, self._comp_id, name)

    @api(fail=dict)
    def GetAttrs(self, st, key=None):
        comp = self._comp(st)
        attrs = {"COMPS_Name": comp["name"], "COMPS_FileName": "", "COMPN_CurrentTime": 0.0,
                 "COMPN_GlobalStart": 0.0, "COMPN_GlobalEnd": 1000.0, "COMPB_Locked": False}
        return attrs.get(key) if key else attrs

    @api(fail=False)
    def Save(self, st, path):
        if not isinstance(path, str):
            return False
        store.write_atomic(os.path.abspath(path), self._comp(st)["setting"])
        return True

    @api()
    def Lock(self, st):
        self._comp(st)
        return None

    @api()
    def Unlock(self, st):
        self._comp(st)
        return None

    @api()
    def StartUndo(self, st, name=""):
        return None

    @api()
    def EndUndo(self, st, keep=True):
        return None


class Tool(_CompHandle):
    def __init__(self, item_id, comp_id, name):
        self._item_id = item_id
        self._comp_id = comp_id
        self._name = name
        self._id = name

    @property
    def Name(self):
        return self._name

    @api(fail=dict)
    def GetAttrs(self, st, key=None):
        doc = self._doc(st)
        index = [n for n, _ in fusion.tool_entries(doc)].index(self._name) + 1
        attrs = fusion.tool_attrs(doc, self._name, index)
        if attrs is None:
            return None if key else {}
        return attrs.get(key) if key else attrs

    @api()
    def SetAttrs(self, st, attrs):
        if not isinstance(attrs, dict):
            return None
        doc = self._doc(st)
        if fusion.find_tool(doc, self._name) is None:
            return None
        new_name = attrs.get("TOOLS_Name")
        if new_name is not None and new_name != self._name:
            if fusion.rename_tool(doc, self._name, new_name):
                self._name = new_name
                self._id = new_name
        tool = fusion.find_tool(doc, self._name)
        if "TOOLB_PassThrough" in attrs:
            tool.set("PassThrough", bool(attrs["TOOLB_PassThrough"]))
        if "TOOLB_Locked" in attrs:
            tool.set("Locked", bool(attrs["TOOLB_Locked"]))
        self._save(st, doc)
        return None

    @api()
    def GetInput(self, st, input_id, time=None):
        return fusion.get_input(self._doc(st), self._name, input_id, time)

    @api()
    def SetInput(self, st, input_id, value, time=None):
        # SetInput reports nothing, whatever happens.
        doc = self._doc(st)
        if fusion.set_input(doc, self._name, input_id, value, time):
            self._save(st, doc)
        return None

    @api(fail=False)
    def ConnectInput(self, st, input_id, source):
        doc = self._doc(st)
        tool = fusion.find_tool(doc, self._name)
        if tool is None or not isinstance(input_id, str):
            return False
        inputs = tool.get("Inputs")
        if not isinstance(inputs, setting.Table):
            inputs = setting.Table(None, False, [])
            tool.set("Inputs", inputs)
        if source is None:
            inputs.remove(input_id)
        elif isinstance(source, Tool) and fusion.find_tool(doc, source._name) is not None:
            inputs.set(input_id, setting.Table("Input", False, [["SourceOp", source._name], ["Source", "Output"]]))
        else:
            return False
        self._save(st, doc)
        return True

    @api()
    def Delete(self, st):
        doc = self._doc(st)
        if fusion.delete_tool(doc, self._name):
            self._save(st, doc)
        return None
