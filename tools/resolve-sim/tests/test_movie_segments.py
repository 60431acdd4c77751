"""Rendered caption movies as the Exact Web route hands them to Resolve:
ProRes 4444 QuickTime files with alpha and H.264 MPEG-4 files, imported and
appended per segment with source ranges, record frames, tracks and media types."""

import subprocess

import pytest


@pytest.fixture(scope="module")
def renders(tmp_path_factory):
    folder = tmp_path_factory.mktemp("renders")
    prores = str(folder / "caption.mov")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=white@0.5:s=64x36:r=30000/1001:d=2,format=rgba",
                    "-c:v", "prores_ks", "-profile:v", "4444", "-pix_fmt", "yuva444p10le", prores], check=True)
    h264 = str(folder / "caption.mp4")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=black:s=64x36:r=25:d=2",
                    "-c:v", "libx264", "-pix_fmt", "yuv420p", h264], check=True)
    return {"prores": prores, "h264": h264}


def _pool(sim):
    return sim.connect().GetProjectManager().GetCurrentProject().GetMediaPool()


@pytest.mark.parametrize("fps, key, frames, rate", [
    ("29.97 DF", "prores", "60", 30000 / 1001),
    ("25", "h264", "50", 25.0),
])
def test_renders_import_as_video_clips(sim, renders, fps, key, frames, rate):
    sim.cli("init", "--fps", fps)
    clip = _pool(sim).ImportMedia([renders[key]])[0]
    assert clip.GetClipProperty("Type") == "Video"
    assert clip.GetClipProperty("Frames") == frames
    assert clip.GetClipProperty("FPS") == pytest.approx(rate)
    assert clip.GetClipProperty("Resolution") == "64x36"


def test_segments_on_new_tracks_with_source_ranges(sim, renders):
    sim.cli("init", "--fps", "29.97 DF", "--start-timecode", "01:00:00:00")
    pool = _pool(sim)
    t = sim.timeline()
    clip = pool.ImportMedia([renders["prores"]])[0]
    assert t.AddTrack("video") and t.SetTrackName("video", 2, "Tessivo Overlay")
    assert t.GetStartFrame() == 107892
    placed = pool.AppendToTimeline([{"mediaPoolItem": clip, "startFrame": 10, "endFrame": 40, "mediaType": 1,
                                     "trackIndex": 2, "recordFrame": 107892 + 15}])
    assert [(i.GetStart(), i.GetEnd(), i.GetSourceStartFrame(), i.GetTrackTypeAndIndex()) for i in placed] == [
        (107907, 107937, 10, ["video", 2])]
    # Overlapping the first on its track: dropped without a word.
    assert pool.AppendToTimeline([{"mediaPoolItem": clip, "mediaType": 1, "trackIndex": 2,
                                   "recordFrame": 107930}]) == []
    # The same record on a new lane track is taken.
    assert t.AddTrack("video") and t.SetTrackName("video", 3, "Tessivo Overlay 2")
    lane = pool.AppendToTimeline([{"mediaPoolItem": clip, "mediaType": 1, "trackIndex": 3, "recordFrame": 107930}])
    assert [(i.GetStart(), i.GetEnd()) for i in lane] == [(107930, 107990)]
    assert lane[0].SetName("Tessivo 002 - Bonjour") is True and lane[0].GetName() == "Tessivo 002 - Bonjour"
    assert [t.GetTrackName("video", i) for i in (2, 3)] == ["Tessivo Overlay", "Tessivo Overlay 2"]
    # A video-only movie has nothing to give to an audio track.
    assert pool.AppendToTimeline([{"mediaPoolItem": clip, "mediaType": 2, "recordFrame": 108000}]) == []


@pytest.mark.parametrize("profile", ["19.0.2", "20.2", "21.1"])
def test_sound_volume_is_not_a_timeline_item_property(sim, movie, profile):
    sim.cli("init", "--fps", "25", "--profile", profile, "--studio")
    pool = _pool(sim)
    t = sim.timeline()
    sound = pool.ImportMedia([movie["wav"]])[0]
    items = pool.AppendToTimeline([{"mediaPoolItem": sound, "mediaType": 2, "trackIndex": 1, "recordFrame": 90000}])
    assert len(items) == 1 and items[0].GetTrackTypeAndIndex() == ["audio", 1]
    # Before 21.1 no volume key exists; 21.1 names it AudioVolume, through SetProperties.
    assert items[0].SetProperty("Volume", 85.0) is False
    assert t.GetItemListInTrack("audio", 1)[0].GetStart() == 90000
