import json
import os
import subprocess

import pytest


def _pool(sim):
    return sim.connect().GetProjectManager().GetCurrentProject().GetMediaPool()


@pytest.mark.parametrize("call, expected", [
    (lambda r, p, t: p.GetTimelineByIndex(9), None),
    (lambda r, p, t: p.GetSetting("noSuchSetting"), ""),
    (lambda r, p, t: p.SetSetting("timelineFrameRate", "25"), False),  # timelines exist
    (lambda r, p, t: p.SetSetting("timelinePlaybackFrameRate", "25"), False),
    (lambda r, p, t: r.OpenPage("kitchen"), False),
    (lambda r, p, t: t.GetTrackCount("lyrics"), 0),
    (lambda r, p, t: t.GetItemListInTrack("video", 7), []),
    (lambda r, p, t: t.GetTrackName("subtitle", 1), ""),
    (lambda r, p, t: t.SetTrackName("video", 3, "X"), False),
    (lambda r, p, t: t.GetMarkInOut(), {}),
    (lambda r, p, t: t.AddTrack("lyrics"), False),
    (lambda r, p, t: t.AddTrack("audio", "9.1"), False),
    (lambda r, p, t: t.SetCurrentTimecode("garbage"), False),
    (lambda r, p, t: t.GetCurrentVideoItem(), None),
    (lambda r, p, t: t.InsertFusionTitleIntoTimeline("No Such Title"), None),
    (lambda r, p, t: p.GetMediaPool().ImportMedia(["/no/such/file.mov"]), []),
    (lambda r, p, t: p.GetMediaPool().AddSubFolder("not a folder", "x"), None),
    (lambda r, p, t: p.GetMediaPool().CreateEmptyTimeline("Timeline 1"), None),
    (lambda r, p, t: r.GetProjectManager().CreateProject("Tessivo Demo"), None),
    (lambda r, p, t: r.GetProjectManager().LoadProject("Nope"), None),
    (lambda r, p, t: p.ExportCurrentFrameAsStill("/tmp/still.txt"), False),
])
def test_failures_return_values_and_never_raise(sim, call, expected):
    r = sim.connect()
    p = r.GetProjectManager().GetCurrentProject()
    assert call(r, p, p.GetCurrentTimeline()) == expected


def test_unknown_methods_resolve_to_none(sim):
    t = sim.timeline()
    assert hasattr(t, "NoSuchMethod") and t.NoSuchMethod is None
    with pytest.raises(TypeError):
        t.NoSuchMethod()


def test_a_deleted_object_answers_with_failure_values(sim):
    sim.cli("add-clip", "--name", "A", "--duration", 10)
    t = sim.timeline()
    item = t.GetItemListInTrack("video", 1)[0]
    assert t.DeleteClips([item]) is True
    assert (item.GetName(), item.GetStart(), item.GetFusionCompByIndex(1), item.GetTrackTypeAndIndex()) == ("", 0, None, [])


@pytest.mark.parametrize("fps, start, expected_start, expected_tc", [
    ("24", "01:00:00:00", 86400, "01:00:00:00"),
    ("25", "01:00:00:00", 90000, "01:00:00:00"),
    ("29.97 DF", "01:00:00;00", 107892, "01:00:00;00"),
    ("59.94 DF", "01:00:00:00", 215784, "01:00:00;00"),
    ("29.97", "00:59:59:29", 107999, "00:59:59:29"),
])
def test_timeline_start_and_settings(sim, fps, start, expected_start, expected_tc):
    sim.cli("init", "--fps", fps, "--start-timecode", start, "--resolution", "3840x2160")
    t = sim.timeline()
    assert t.GetStartFrame() == expected_start
    assert t.GetStartTimecode() == expected_tc
    assert t.GetEndFrame() == expected_start  # empty timeline: end == start
    rate = t.GetSetting("timelineFrameRate")
    assert isinstance(rate, float) and rate == float(fps.split()[0])
    assert t.GetSetting("timelineResolutionWidth") == "3840"
    assert t.GetSetting("timelineDropFrameTimecode") == ("1" if "DF" in fps else "0")


@pytest.mark.parametrize("profile, expected", [("19.0.2", "29.97 DF"), ("21.1", 29.97)])
def test_frame_rate_type_per_profile(sim, profile, expected):
    sim.cli("init", "--fps", "29.97 DF", "--profile", profile)
    assert sim.timeline().GetSetting("timelineFrameRate") == expected


def test_playhead_timecode_is_page_dependent(sim):
    sim.cli("init", "--fps", "29.97 DF")
    r = sim.connect()
    t = sim.timeline()
    assert t.SetCurrentTimecode("01:10:00:02") is True
    assert t.GetCurrentTimecode() == "01:10:00;02"
    assert t.SetCurrentTimecode("01:01:00;00") is False  # a dropped frame number
    assert r.OpenPage("media") is True
    assert t.GetCurrentTimecode() == "" and t.SetCurrentTimecode("01:00:00:00") is False


def test_append_uses_absolute_record_frames_and_drops_overlaps(sim, movie):
    pool = _pool(sim)
    clip = pool.ImportMedia([movie["movie"]])[0]
    assert clip.GetClipProperty("Type") == "Video + Audio"
    assert clip.GetClipProperty("FPS") == 25.0 and clip.GetClipProperty("Frames") == "50"
    t = sim.timeline()
    first = pool.AppendToTimeline([{"mediaPoolItem": clip, "startFrame": 0, "endFrame": 25,
                                    "mediaType": 1, "trackIndex": 1, "recordFrame": 86400}])
    assert len(first) == 1
    # 25 source frames at 25 fps floor to 24 timeline frames at 24 fps; the end is exclusive.
    assert (first[0].GetStart(), first[0].GetEnd(), first[0].GetDuration()) == (86400, 86424, 24)
    overlapping = pool.AppendToTimeline([{"mediaPoolItem": clip, "startFrame": 0, "endFrame": 10,
                                          "mediaType": 1, "trackIndex": 1, "recordFrame": 86423}])
    assert overlapping == []
    adjacent = pool.AppendToTimeline([{"mediaPoolItem": clip, "startFrame": 0, "endFrame": 10,
                                       "mediaType": 1, "trackIndex": 1, "recordFrame": 86424.0}])
    assert [i.GetStart() for i in adjacent] == [86424]
    both = pool.AppendToTimeline([clip])  # bare clip: video and audio, after the last item
    assert sorted(i.GetTrackTypeAndIndex()[0] for i in both) == ["audio", "video"]
    assert both[0].GetLinkedItems()[0].GetUniqueId() == both[1].GetUniqueId()
    assert t.GetEndFrame() == max(i.GetEnd() for i in both)
    assert [i.GetStart() for i in t.GetItemListInTrack("video", 1)] == [86400, 86424, 86433]


def test_append_to_missing_or_locked_track_places_nothing(sim, movie):
    pool = _pool(sim)
    clip = pool.ImportMedia([movie["movie"]])[0]
    t = sim.timeline()
    assert pool.AppendToTimeline([{"mediaPoolItem": clip, "trackIndex": 2, "mediaType": 1}]) == []
    assert t.SetTrackLock("video", 1, True) is True
    assert pool.AppendToTimeline([{"mediaPoolItem": clip, "mediaType": 1, "recordFrame": 86400}]) == []


def test_add_track_forms(sim):
    t = sim.timeline()
    assert t.AddTrack("video") and t.AddTrack("video", {}) and t.AddTrack("subtitle")
    assert t.SetTrackName("video", 1, "Base")
    assert t.AddTrack("video", {"index": 1})  # inserted before "Base"
    assert [t.GetTrackName("video", i) for i in range(1, 5)] == ["Video 1", "Base", "Video 3", "Video 4"]
    assert t.AddTrack("audio", {"audioType": "5.1", "index": 99})  # out of range appends
    assert t.GetTrackCount("audio") == 2 and t.GetTrackSubType("audio", 2) == "5.1"
    assert t.GetTrackCount("subtitle") == 1


def test_lua_tables_have_float_keys(sim):
    sim.cli("add-clip", "--name", "A", "--duration", 10)
    t = sim.timeline()
    items = t.GetItemsInTrack("video", 1)
    assert list(items) == [1.0] and all(isinstance(k, float) for k in items)
    assert t.AddMarker(96, "Green", "m", "", 1)
    assert t.GetMarkers() == {96.0: {"color": "Green", "duration": 1.0, "note": "", "name": "m", "customData": ""}}
    t.InsertFusionCompositionIntoTimeline()  # at the playhead, which is on "A"
    assert t.SetCurrentTimecode("01:00:01:00")
    item = t.InsertFusionTitleIntoTimeline("Text+")
    tools = item.GetFusionCompByIndex(1).GetToolList()
    assert list(tools) == [1.0, 2.0]
    assert [tool.GetAttrs("TOOLS_Name") for tool in tools.values()] == ["Template", "MediaOut1"]
    attrs = tools[1].GetAttrs()
    assert attrs["TOOLS_RegID"] == "TextPlus" and attrs["TOOLNT_Region_Start"] == {1.0: 0.0}
    assert tools[1].GetInput("Center") == {1.0: 0.5, 2.0: 0.5, 3.0: 0.0}


def test_clip_colours(sim, movie):
    clip = _pool(sim).ImportMedia([movie["wav"]])[0]
    from resolve_sim.model import CLIP_COLORS
    assert len(CLIP_COLORS) == 16
    assert all(clip.SetClipColor(c) for c in CLIP_COLORS)
    assert [clip.SetClipColor(c) for c in ("Red", "Cyan", "", "orange")] == [False] * 4
    assert clip.GetClipColor() == "Chocolate"


def test_set_property_clips_and_refuses_unknown_keys(sim):
    sim.cli("add-clip", "--name", "A", "--duration", 10)
    item = sim.timeline().GetItemListInTrack("video", 1)[0]
    assert item.SetProperty("ZoomX", 250) and item.GetProperty("ZoomX") == 100.0
    assert item.SetProperty("Pan", -99999) and item.GetProperty("Pan") == -4 * 1920
    assert item.SetProperty({"Opacity": 50, "FlipX": True})
    assert (item.GetProperty("Opacity"), item.GetProperty("FlipX")) == (50.0, True)
    assert item.SetProperty("Volume", 50) is False and item.GetProperty("Speed") is None
    assert item.SetProperty("CompositeMode", "Add") is False


def test_insert_at_playhead_on_target_track(sim):
    sim.cli("init", "--fps", "25", "--video-tracks", "2")
    t = sim.timeline()
    assert t.SetCurrentTimecode("01:00:10:00")
    # Marks count from the timeline start, as GetMarkInOut reads them back.
    assert t.SetMarkInOut(250, 299, "video")
    assert t.GetMarkInOut()["video"] == {"in": 250, "out": 299}
    item = t.InsertFusionCompositionIntoTimeline()
    assert item.GetTrackTypeAndIndex() == ["video", 1]
    assert (item.GetStart(), item.GetDuration()) == (90250, 50)
    assert item.GetFusionCompNameList() == ["Composition 1"] and item.GetMediaPoolItem() is None
    assert t.ClearMarkInOut("all") and t.SetTrackLock("video", 1, True)
    assert t.InsertFusionTitleIntoTimeline("Text+") is None  # no redirect to V2
    assert t.GetItemListInTrack("video", 2) == []


def test_fusion_comp_import_export_and_inputs(sim, tmp_path):
    t = sim.timeline()
    item = t.InsertFusionTitleIntoTimeline("Text+")
    template = item.GetFusionCompByIndex(1).FindTool("Template")
    assert template.SetInput("StyledText", "Ça « marche »\n2e ligne") is None
    template.SetInput("Center", [0.25, 0.75])
    assert template.SetAttrs({"TOOLS_Name": "Titre"}) is None and template.GetAttrs("TOOLS_Name") == "Titre"
    out = str(tmp_path / "out.setting")
    assert item.ExportFusionComp(out, 1) is True
    assert item.ExportFusionComp(out, 2) is False
    other = t.InsertFusionCompositionIntoTimeline()
    comp = other.ImportFusionComp(out)
    assert other.GetFusionCompNameList() == ["Composition 1", "Composition 2"]
    titre = comp.FindToolByID("TextPlus")
    assert titre.GetAttrs("TOOLS_Name") == "Titre"
    assert titre.GetInput("StyledText") == "Ça « marche »\n2e ligne"
    assert titre.GetInput("Center")[1] == 0.25
    # The renamed tool is still what MediaOut1 reads from.
    assert 'SourceOp = "Titre"' in open(out, encoding="utf-8").read()
    bad = tmp_path / "bad.setting"
    bad.write_text("{ Tools = ordered() { A = TextPlus { ", encoding="utf-8")
    assert other.ImportFusionComp(str(bad)) is None and other.GetFusionCompCount() == 2


@pytest.mark.parametrize("profile, studio, connects, subtitle_name, has_set_name", [
    ("19.0.2", False, True, "Bonjour", False),
    ("20.2", True, True, "Subtitle", True),
    ("21.1", True, True, "Bonjour", True),
    ("21.1", False, False, None, None),
])
def test_profiles(sim, tmp_path, profile, studio, connects, subtitle_name, has_set_name):
    srt = tmp_path / "a.srt"
    srt.write_text("1\n00:00:01,000 --> 00:00:02,000\nBonjour\n", encoding="utf-8")
    sim.cli("init", "--profile", profile, "--studio" if studio else "--no-studio")
    sim.cli("load-srt", srt, "--track", 1)
    r = sim.connect()
    assert (r is not None) == connects
    if not connects:
        return
    item = sim.timeline().GetItemListInTrack("subtitle", 1)[0]
    assert item.GetName() == subtitle_name
    assert (item.GetStart(), item.GetStart(True)) == (86424, 86424.0)
    assert item.GetMediaPoolItem() is None and item.GetFusionCompCount() == 0
    assert (item.SetName is not None) == has_set_name


@pytest.mark.parametrize("flag", ["running", "scripting"])
def test_not_running_or_scripting_off_gives_no_connection(sim, flag):
    sim.cli("set", flag, "false")
    assert sim.connect() is None


def test_import_media_refusals_and_lottie_per_profile(sim, movie, tmp_path):
    import zipfile
    lottie = str(tmp_path / "a.lottie")
    with zipfile.ZipFile(lottie, "w") as archive:
        archive.writestr("manifest.json", "{}")
        archive.writestr("animations/caption.json", json.dumps({"fr": 30, "ip": 0, "op": 45, "w": 100, "h": 50}))
    junk = tmp_path / "junk.mov"
    junk.write_bytes(b"not a movie")
    doc = tmp_path / "notes.txt"
    doc.write_text("x")
    pool = _pool(sim)
    clips = pool.ImportMedia([movie["wav"], str(junk), str(doc), lottie, str(tmp_path)])
    assert [c.GetName() for c in clips] == ["tone.wav", "a.lottie"]
    assert clips[0].GetClipProperty("Type") == "Audio"
    assert clips[1].GetClipProperty("Frames") == "45"
    sim.cli("set", "profile", "20.2")
    assert _pool(sim).ImportMedia([lottie]) == []


def test_still_shows_the_frame_under_the_playhead(sim, movie, tmp_path):
    sim.cli("init", "--fps", "25", "--resolution", "64x36")
    pool = _pool(sim)
    clip = pool.ImportMedia([movie["movie"]])[0]
    pool.AppendToTimeline([{"mediaPoolItem": clip, "mediaType": 1, "recordFrame": 90000}])
    p = sim.connect().GetProjectManager().GetCurrentProject()
    t = p.GetCurrentTimeline()

    def centre(path):
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                             capture_output=True, check=True).stdout
        assert len(raw) == 64 * 36 * 3
        offset = (18 * 64 + 32) * 3
        return tuple(raw[offset:offset + 3])

    shots = {}
    for tc in ("01:00:00:10", "01:00:01:10", "01:00:05:00"):
        assert t.SetCurrentTimecode(tc)
        path = str(tmp_path / (tc.replace(":", "") + ".jpg"))
        assert p.ExportCurrentFrameAsStill(path) is True
        shots[tc] = centre(path)
    red, blue, empty = shots["01:00:00:10"], shots["01:00:01:10"], shots["01:00:05:00"]
    assert red[0] > 200 and red[2] < 60
    assert blue[2] > 200 and blue[0] < 60
    assert max(empty) < 20
