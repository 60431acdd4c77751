"""The placement helpers that delivery scripts share: lanes for overlapping
captions, named lane tracks, and the check of what Resolve really placed."""

import os

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
with open(os.path.join(REPO, "src", "resolve", "scripts", "placement.py"), encoding="utf-8") as _handle:
    exec(compile(_handle.read(), "placement.py", "exec"))  # noqa: S102 - the module is ours


@pytest.mark.parametrize("spans, lanes", [
    ([], []),
    ([(0, 10), (10, 20), (20, 30)], [0, 0, 0]),            # touching spans share a lane
    ([(0, 10), (5, 15), (12, 20)], [0, 1, 0]),             # the first free lane is reused
    ([(0, 30), (5, 10), (6, 12), (11, 40)], [0, 1, 2, 1]),
    ([(20, 30), (0, 25), (10, 15)], [1, 0, 1]),            # start order, not list order
    ([(5, 5), (5, 9)], [0, 0]),                            # an empty span blocks nothing
    ([(0, 10), (0, 10), (0, 10)], [0, 1, 2]),
])
def test_lanes_never_overlap_and_stay_few(spans, lanes):
    assert tessivo_track_lanes(spans) == lanes  # noqa: F821


def test_lane_tracks_are_named_after_the_first(sim):
    t = sim.timeline()
    first = t.GetTrackCount("video")
    assert tessivo_add_lane_tracks(t, "video", "Tessivo Lottie", 3) == [first + 1, first + 2, first + 3]  # noqa: F821
    assert [t.GetTrackName("video", i) for i in range(first + 1, first + 4)] == [
        "Tessivo Lottie", "Tessivo Lottie 2", "Tessivo Lottie 3"]


def test_verification_sees_what_resolve_dropped(sim, movie):
    sim.cli("add-clip", "--name", "Existant", "--start", 0, "--duration", 24, "--track", 2)
    r = sim.connect()
    project = r.GetProjectManager().GetCurrentProject()
    pool, t = project.GetMediaPool(), project.GetCurrentTimeline()
    clip = pool.ImportMedia([movie["movie"]])[0]
    start = t.GetStartFrame()
    while t.GetTrackCount("video") < 2:
        t.AddTrack("video")
    before = {2: tessivo_placed_starts(t, "video", 2)}  # noqa: F821
    # The second item overlaps the first on track 1 and is dropped silently;
    # the third asks for the frame of the item already on track 2.
    wanted = [(1, start), (1, start + 10), (2, start)]
    pool.AppendToTimeline([{"mediaPoolItem": clip, "trackIndex": tr, "recordFrame": f, "mediaType": 1}
                           for tr, f in wanted])
    found = tessivo_verify_placement(t, "video", wanted, before)  # noqa: F821
    assert found == [0]
    assert tessivo_placement_summary("video", wanted, found) == "piste vidéo 1 : 1 élément"  # noqa: F821
    assert tessivo_placement_summary("video", wanted, []) == ""  # noqa: F821
