"""Timelines: settings, tracks, playhead, inserts, marks and markers."""

import math

from . import api_media_pool, api_resolve, api_timeline_item, edit_target, fusion, model, timecode
from .api import _Proxy, _is_int, _page_has_playhead, _require, _timeline, api


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
        return api_resolve._set_setting(st, timeline["settings"], name, value, has_items)

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
        return [api_timeline_item.TimelineItem(it["id"]) for it in track["items"]]

    @api(fail=dict)
    def GetItemsInTrack(self, st, track_type, index):
        track = model.track_of(self._tl(st), track_type, index)
        if track is None:
            return {}
        return {float(i): api_timeline_item.TimelineItem(it["id"]) for i, it in enumerate(track["items"], 1)}

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
        item = api_resolve._video_item_at(timeline, timeline["playhead"])
        return api_timeline_item.TimelineItem(item["id"]) if item else None

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
        return api_timeline_item.TimelineItem(item["id"])

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
            if not isinstance(handle, api_timeline_item.TimelineItem):
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
        return api_media_pool.MediaPoolItem(timeline["clipId"]) if timeline.get("clipId") in st["clips"] else None

    @api(fail=list, since="21.0.4")
    def GetSelectedClips(self, st):
        timeline = self._tl(st)
        return [api_timeline_item.TimelineItem(i) for i in timeline.get("selectedItems", [])
                if model.find_item(st, i)[1] is timeline]

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
