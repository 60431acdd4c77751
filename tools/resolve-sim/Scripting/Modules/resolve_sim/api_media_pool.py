"""The Media Pool, its folders (bins) and its clips."""

import json
import math
import os
import re

from . import api_append, api_timeline, media, model, store, timecode
from .api import _Proxy, _is_int, _project, _require, api


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
        return api_append._append(st, timeline, entries)

    @api()
    def CreateEmptyTimeline(self, st, name):
        project = self._project(st)
        if not isinstance(name, str) or not name or any(t["name"] == name for t in project["timelines"]):
            return None  # inferred: a taken name is refused
        timeline = model.new_timeline(st, project, name)
        # inferred: the new timeline becomes the current one.
        project["currentTimeline"] = timeline["id"]
        return api_timeline.Timeline(timeline["id"])

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
        api_append._append(st, timeline, entries)
        return api_timeline.Timeline(timeline["id"])

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
            if (not isinstance(timeline, api_timeline.Timeline)
                    or not any(t["id"] == timeline._id for t in project["timelines"])):
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
        return api_timeline.Timeline(clip["timeline"])


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
