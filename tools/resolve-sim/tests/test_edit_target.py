"""Where the Edit page's insert commands put an item: the target track, the
playhead, the In mark (counted from the timeline start) and the marked length."""

import pytest


@pytest.mark.parametrize("marks, playhead, expected", [
    (None, "01:00:10:00", (90250, 90250 + 5 * 25)),         # no marks: playhead, default length
    ((250, 299), "01:00:10:00", (90250, 90300)),             # marks agree with the playhead
    ((50, 74), "01:00:10:00", (90050, 90075)),               # the In mark wins over the playhead
    ((90250, 90299), "01:00:10:00", (180250, 180300)),       # absolute frames read as offsets: an hour late
])
def test_insert_span_follows_marks_counted_from_the_start(sim, marks, playhead, expected):
    sim.cli("init", "--fps", "25")
    t = sim.timeline()
    assert t.SetCurrentTimecode(playhead)
    if marks:
        assert t.SetMarkInOut(marks[0], marks[1], "video")
    item = t.InsertFusionCompositionIntoTimeline()
    assert (item.GetStart(), item.GetEnd()) == expected


@pytest.mark.parametrize("follows, adds, expected_track", [
    ("true", 1, 2),      # the added track becomes the target
    ("true", 3, 4),
    ("false", 2, 1),     # pinned: inserts stay on V1
])
def test_target_track_and_added_tracks(sim, follows, adds, expected_track):
    sim.cli("set", "target-follows-new-track", follows)
    t = sim.timeline()
    for _ in range(adds):
        assert t.AddTrack("video")
    item = t.InsertFusionCompositionIntoTimeline()
    assert item.GetTrackTypeAndIndex() == ["video", expected_track]


def test_pinned_target_keeps_its_track_when_one_is_inserted_before_it(sim):
    sim.cli("init", "--fps", "25", "--video-tracks", "2")
    sim.cli("set", "target-follows-new-track", "false")
    sim.cli("set", "target-track", "2")
    t = sim.timeline()
    assert t.SetTrackName("video", 2, "Cible")
    assert t.AddTrack("video", {"index": 1})
    item = t.InsertFusionCompositionIntoTimeline()
    assert item.GetTrackTypeAndIndex() == ["video", 3] and t.GetTrackName("video", 3) == "Cible"


def test_occupied_target_span_refuses_the_insert(sim):
    sim.cli("init", "--fps", "25")
    t = sim.timeline()
    assert t.InsertFusionCompositionIntoTimeline()
    assert t.SetCurrentTimecode("01:00:02:00")
    assert t.InsertFusionCompositionIntoTimeline() is None


@pytest.mark.parametrize("target, deleted, expected_name", [
    (3, 1, "V3"),   # a track before the target goes: the target keeps its track
    (2, 3, "V2"),   # a track after it changes nothing
    (3, 3, "V2"),   # the target itself goes: the last track takes over
])
def test_deleting_tracks_keeps_the_target(sim, target, deleted, expected_name):
    sim.cli("init", "--fps", "25", "--video-tracks", "3")
    sim.cli("set", "target-follows-new-track", "false")
    sim.cli("set", "target-track", target)
    t = sim.timeline()
    for i in (1, 2, 3):
        assert t.SetTrackName("video", i, "V%d" % i)
    assert t.DeleteTrack("video", deleted)
    item = t.InsertFusionCompositionIntoTimeline()
    kind, index = item.GetTrackTypeAndIndex()
    assert t.GetTrackName(kind, index) == expected_name
