"""Placing Media Pool clips on a timeline (AppendToTimeline,
CreateTimelineFromClips)."""

import math

from . import api_media_pool, api_timeline_item, fusion, model
from .api import _is_int


def _append(st, timeline, entries):
    rate, _ = model.timeline_rate(st, timeline)
    placed = []
    for entry in entries:
        info = {"mediaPoolItem": entry} if isinstance(entry, api_media_pool.MediaPoolItem) else entry
        if not isinstance(info, dict) or not isinstance(info.get("mediaPoolItem"), api_media_pool.MediaPoolItem):
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
        placed.extend(api_timeline_item.TimelineItem(it["id"]) if it.get("id") else api_timeline_item.TimelineItem(None)
                      for it in new_items)
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
        placed.append(api_timeline_item.TimelineItem(item["id"]))
    return placed
