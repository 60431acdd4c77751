"""Where the Edit page's insert commands put a new item.

InsertFusionTitleIntoTimeline, InsertFusionCompositionIntoTimeline and their
siblings take no track and no frame: the item goes to the Edit page's target
video track, at the playhead, or at the timeline In mark when one is set.
"""

from . import model


def target_index(timeline):
    return int(timeline.get("targetVideoTrack", 1) or 1)


def video_track_added(state, timeline, index):
    """Keeps the target on its track when a track is inserted before it, and
    moves it to a newly added video track unless the state pins it."""
    tracks = timeline["tracks"]["video"]
    new_index = index if index is not None and 1 <= index <= len(tracks) else len(tracks)
    target = target_index(timeline)
    if state["app"].get("targetFollowsNewTrack", True):
        # inferred: the destination control follows a video track added through
        # the API (set "target-follows-new-track" false to keep it in place).
        timeline["targetVideoTrack"] = new_index
    elif new_index <= target:
        timeline["targetVideoTrack"] = target + 1


def video_track_deleted(timeline, index):
    """Keeps the target on its track when a track before it goes away."""
    target = target_index(timeline)
    count = len(timeline["tracks"]["video"])
    if index < target:
        target -= 1
    # inferred: deleting the target track itself hands the target to the track
    # now at its place, or to the last one.
    timeline["targetVideoTrack"] = max(1, min(target, count))


def insert_span(state, timeline, default_duration):
    """(start, end) of an inserted item. Marks are read as frames counted from
    the timeline start, as GetMarkInOut reports them."""
    marks = timeline.get("marks", {}).get("video") or {}
    origin = timeline["startFrame"]
    if "in" in marks:
        # inferred: like a three-point edit, a timeline In mark places the item
        # instead of the playhead.
        start = origin + int(round(marks["in"]))
    else:
        start = timeline["playhead"]
    if "in" in marks and "out" in marks and marks["out"] >= marks["in"]:
        # inferred: marked in and out points (inclusive) give the duration.
        duration = int(round(marks["out"] - marks["in"])) + 1
    else:
        duration = default_duration
    return start, start + duration


def target_track(timeline):
    return model.track_of(timeline, "video", target_index(timeline))
