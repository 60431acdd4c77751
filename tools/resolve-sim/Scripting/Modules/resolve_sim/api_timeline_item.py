"""Timeline items: timing, properties, colours, markers and their Fusion
compositions."""

import math
import os

from . import api_fusion, api_media_pool, fusion, model, store
from .api import _Proxy, _is_int, _require, api


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
        return api_media_pool.MediaPoolItem(item["clip"])

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
        return api_fusion.FusionComp(item["id"], comps[int(index) - 1]["id"])

    @api(fail=list)
    def GetFusionCompNameList(self, st):
        _, comps = self._comps(st)
        return [c["name"] for c in comps or []]

    @api()
    def GetFusionCompByName(self, st, name):
        item, comps = self._comps(st)
        for comp in comps or []:
            if comp["name"] == name:
                return api_fusion.FusionComp(item["id"], comp["id"])
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
        return api_fusion.FusionComp(item["id"], comp["id"])

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
        return api_fusion.FusionComp(item["id"], comp["id"])

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
                return api_fusion.FusionComp(item["id"], comp["id"])
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
