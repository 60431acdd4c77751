def tessivo_number(value, default):
    """`value` as a finite float, else `default` (Resolve may answer None, text or NaN)."""
    try:
        result = float(value)
    except (TypeError, ValueError, OverflowError):
        return default
    return result if result == result and result not in (float("inf"), float("-inf")) else default


def tessivo_timeline_rate(timeline, project):
    """The timeline's frame rate and the setting's text ("29.97 DF"): the
    first "timelineFrameRate" the timeline, then the project, gives; 24 when
    neither gives a positive number."""
    text = None
    for owner in (timeline, project):
        try:
            text = owner.GetSetting("timelineFrameRate")
        except Exception:
            text = None
        if text not in (None, ""):
            break
    text = str(text if text not in (None, "") else "24").strip()
    tokens = text.replace(",", ".").split()
    rate = tessivo_number(tokens[0], 24.0) if tokens else 24.0
    return (rate if rate > 0 else 24.0), text


def tessivo_track_lanes(spans):
    """Spreads record spans [start, end) over as few lanes as possible so that
    no two spans of one lane overlap: each span, taken in start order, goes to
    the first lane that is free at its start. Returns the lane (from 0) of each
    span, in the order given. Resolve silently drops an item appended over
    another one on its track, so overlapping captions need lanes of their own."""
    order = sorted(range(len(spans)), key=lambda i: (spans[i][0], i))
    lane_ends = []
    lanes = [0] * len(spans)
    for i in order:
        start, end = spans[i]
        for lane, lane_end in enumerate(lane_ends):
            if lane_end <= start:
                lanes[i] = lane
                lane_ends[lane] = max(end, start)
                break
        else:
            lanes[i] = len(lane_ends)
            lane_ends.append(max(end, start))
    return lanes


def tessivo_lane_name(base, lane):
    """The first lane carries the base name; further lanes are "base 2", "base 3"..."""
    return base if lane == 0 else "%s %d" % (base, lane + 1)


def tessivo_add_track(timeline, kind, name):
    """Adds one track of `kind` at the end and names it. Returns its index: the
    new track count, the old count when Resolve reports nothing, at least 1."""
    before = timeline.GetTrackCount(kind) or 0
    try:
        timeline.AddTrack(kind)
    except TypeError:
        timeline.AddTrack(kind, {})
    after = timeline.GetTrackCount(kind) or 0
    index = max(after if after > before else before, 1)
    try:
        timeline.SetTrackName(kind, index, name)
    except Exception:
        pass
    return index


def tessivo_add_lane_tracks(timeline, kind, base, count):
    """Adds `count` (at least 1) named tracks, one a lane; returns their indices."""
    return [tessivo_add_track(timeline, kind, tessivo_lane_name(base, lane)) for lane in range(max(1, count))]


def tessivo_item_start(item):
    try:
        value = item.GetStart()
        return int(round(float(value))) if value is not None else None
    except Exception:
        return None


def tessivo_placed_starts(timeline, kind, track):
    """The start frames of the items on one track (an unreadable list counts as empty)."""
    try:
        items = timeline.GetItemListInTrack(kind, track)
    except Exception:
        items = None
    if isinstance(items, dict):
        items = list(items.values())
    starts = []
    for item in items or []:
        start = tessivo_item_start(item) if item else None
        if start is not None:
            starts.append(start)
    return starts


def tessivo_verify_placement(timeline, kind, wanted, before=None):
    """Checks what Resolve really holds against what was asked, entry by entry.
    `wanted` lists (track, record frame) pairs; `before` maps a track to the
    start frames it held before the append (new tracks hold nothing). Returns
    the indices of the entries found on their track at their frame; an item
    counts once even when two entries ask for the same place."""
    before = before or {}
    available = {}
    for track in sorted({track for track, _ in wanted}):
        starts = tessivo_placed_starts(timeline, kind, track)
        for start in before.get(track, []):
            if start in starts:
                starts.remove(start)
        available[track] = starts
    found = []
    for index, (track, frame) in enumerate(wanted):
        starts = available.get(track, [])
        if frame in starts:
            starts.remove(frame)
            found.append(index)
    return found


def tessivo_placement_summary(kind, wanted, found):
    """A short French account of what stands on the timeline: "piste vidéo 3 :
    4 éléments, piste vidéo 4 : 1 élément" (empty when nothing was placed)."""
    label = {"video": "vidéo", "audio": "audio"}.get(kind, kind)
    counts = {}
    for index in found:
        track = wanted[index][0]
        counts[track] = counts.get(track, 0) + 1
    parts = []
    for track in sorted(counts):
        n = counts[track]
        parts.append("piste %s %d : %d élément%s" % (label, track, n, "s" if n > 1 else ""))
    return ", ".join(parts)


def tessivo_set_volume(item, gain):
    """Sets a sound item's level, `gain` from 0 to 1. "Volume" is no item
    property up to 21.0 (the call answers False); 21.1 takes the level as
    "AudioVolume" in dB through SetProperties. Errors are ignored."""
    import math
    try:
        if item.SetProperty("Volume", gain * 100.0):
            return
    except Exception:
        pass
    decibels = max(-100.0, 20.0 * math.log10(gain)) if gain > 0 else -100.0
    try:
        item.SetProperties({"AudioVolume": decibels})
    except Exception:
        pass
