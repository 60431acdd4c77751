"""Resolve itself, its Fusion application object, the project manager and
projects."""

import os

from . import api_fusion, api_media_pool, api_timeline, media, model, timecode
from .api import _Proxy, _is_int, _project, api


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
        return api_timeline.Timeline(timeline["id"]) if timeline else None

    @api(since="21.1")
    def GetMediaPool(self, st):
        project = model.current_project(st)
        return api_media_pool.MediaPool(project["id"]) if project else None

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
        return api_fusion.FusionComp(item["id"], comp["id"])

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
                return api_timeline.Timeline(timeline["id"])
        return None  # inferred: a project without timelines has no current timeline

    @api(fail=False)
    def SetCurrentTimeline(self, st, timeline):
        project = _project(st, self._id)
        if not isinstance(timeline, api_timeline.Timeline) or not any(t["id"] == timeline._id for t in project["timelines"]):
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
        return api_timeline.Timeline(timelines[int(index) - 1]["id"])

    @api()
    def GetMediaPool(self, st):
        return api_media_pool.MediaPool(_project(st, self._id)["id"])

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
