import pytest


def _connect(sim):
    r = sim.connect()
    p = r.GetProjectManager().GetCurrentProject()
    return r, p, p.GetMediaPool(), p.GetCurrentTimeline()


def test_srt_clip_appends_to_the_subtitle_track(sim, tmp_path):
    srt = tmp_path / "x.srt"
    srt.write_text("1\n00:00:01,000 --> 00:00:02,000\nUn\n\n2\n00:00:03,000 --> 00:00:04,000\nDeux\n", encoding="utf-8")
    _, _, pool, t = _connect(sim)
    clip = pool.ImportMedia([str(srt)])[0]
    assert clip.GetClipProperty("Type") == "Subtitle"
    items = pool.AppendToTimeline([{"mediaPoolItem": clip, "recordFrame": 86400 + 48}])
    assert [(i.GetName(), i.GetStart(), i.GetTrackTypeAndIndex()) for i in items] == [
        ("Un", 86472, ["subtitle", 1]), ("Deux", 86520, ["subtitle", 1])]
    # Appending the same cues again overlaps every one of them.
    assert pool.AppendToTimeline([{"mediaPoolItem": clip, "recordFrame": 86448}]) == []


def test_start_timecode_moves_the_items(sim):
    sim.cli("add-clip", "--name", "A", "--start", "01:00:02:00", "--duration", 24)
    _, _, _, t = _connect(sim)
    assert t.SetStartTimecode("00:00:00:00") is True
    item = t.GetItemListInTrack("video", 1)[0]
    assert (t.GetStartFrame(), item.GetStart(), item.GetEnd()) == (0, 48, 72)
    assert t.SetStartTimecode("10:99:00:00") is False


def test_project_lifecycle(sim):
    r = sim.connect()
    pm = r.GetProjectManager()
    sim.cli("init", "--project", "Untitled Project")
    # A never-saved Untitled Project cannot be saved, and is discarded by CreateProject.
    assert pm.SaveProject() is False
    created = pm.CreateProject("Nouveau")
    assert created.GetName() == "Nouveau" and pm.GetProjectListInCurrentFolder() == ["Nouveau"]
    assert created.GetCurrentTimeline() is None and created.GetTimelineCount() == 0
    assert pm.SaveProject() is True


@pytest.mark.parametrize("values, ok, width", [
    ({"timelineResolutionWidth": "1280"}, True, "1280"),
    ({"timelineResolutionWidth": "1280", "timelineFrameRate": "25"}, False, "1280"),  # earlier write kept
    ({"timelineResolutionWidth": "wide"}, False, "1920"),
])
def test_set_settings_applies_keys_one_by_one(sim, values, ok, width):
    _, p, _, _ = _connect(sim)
    assert p.SetSettings(values) is ok
    assert p.GetSetting("timelineResolutionWidth") == width


def test_delete_clips_needs_the_edit_page(sim):
    sim.cli("add-clip", "--name", "A", "--duration", 10)
    sim.cli("add-clip", "--name", "B", "--start", 20, "--duration", 10)
    r, _, _, t = _connect(sim)
    first = t.GetItemListInTrack("video", 1)[0]
    assert r.OpenPage("fairlight") and t.DeleteClips([first], True) is False
    assert r.OpenPage("edit") and t.DeleteClips([first], True) is True
    assert [i.GetStart() for i in t.GetItemListInTrack("video", 1)] == [86410]  # rippled


def test_bins_export_and_import(sim, movie, tmp_path):
    _, _, pool, _ = _connect(sim)
    root = pool.GetRootFolder()
    bin_ = pool.AddSubFolder(root, "Tessivo")
    assert pool.SetCurrentFolder(bin_) and pool.ImportMedia([movie["wav"]])
    assert bin_.GetClipList()[0].SetClipColor("Teal")
    path = str(tmp_path / "bin.drb")
    assert bin_.Export(path) is True
    assert pool.SetCurrentFolder(root) and pool.ImportFolderFromFile(path) is True
    copies = [f for f in root.GetSubFolderList() if f.GetName() == "Tessivo"]
    assert len(copies) == 2
    assert [(c.GetName(), c.GetClipColor()) for c in copies[1].GetClipList()] == [("tone.wav", "Teal")]
    assert pool.ImportFolderFromFile(str(tmp_path / "missing.drb")) is False


def test_timeline_selection_and_version_gates(sim):
    sim.cli("add-clip", "--name", "A", "--duration", 10)
    sim.cli("select", "video:1:1")
    _, _, _, t = _connect(sim)
    assert [i.GetName() for i in t.GetSelectedClips()] == ["A"]
    sim.cli("set", "profile", "20.2")
    assert t.GetSelectedClips is None and t.GetSettings is None


def test_audio_properties_are_all_or_nothing(sim, movie):
    _, _, pool, t = _connect(sim)
    clip = pool.ImportMedia([movie["wav"]])[0]
    item = pool.AppendToTimeline([{"mediaPoolItem": clip, "mediaType": 2, "recordFrame": 86400}])[0]
    assert item.GetTrackTypeAndIndex() == ["audio", 1]
    assert item.SetProperties({"AudioVolume": -6, "Bogus": 1}) is False
    assert item.GetProperties()["AudioVolume"] == 0.0
    assert item.SetProperties({"AudioVolume": 99}) is True and item.GetProperties()["AudioVolume"] == 30.0


def test_titles_kept_in_bins_move_into_a_power_bin(sim):
    sim.cli("pool-clip", "Master/Titres", "Mon Text+")
    sim.cli("pool-clip", "Power Bins", "Texte", "--type", "Generator")
    pool = sim.connect().GetProjectManager().GetCurrentProject().GetMediaPool()
    [titles] = pool.GetRootFolder().GetSubFolderList()
    [title] = titles.GetClipList()
    assert title.GetClipProperty("Type") == "Fusion Title"
    assert title.GetUniqueId() and title.GetMediaId() and title.GetUniqueId() != title.GetMediaId()
    # The power bins are no part of the Master tree; a clip moves there all the same.
    sim.cli("bin", "Power Bins/Tessivo", "--current")
    shared = pool.GetCurrentFolder()
    assert shared.GetName() == "Tessivo" and shared.GetUniqueId() not in [f.GetUniqueId() for f in titles.GetSubFolderList()]
    assert pool.MoveClips([title], shared) is True
    assert [c.GetName() for c in shared.GetClipList()] == ["Mon Text+"] and titles.GetClipList() == []
    sim.cli("fault", "set", "MoveClips", "false")
    assert pool.MoveClips([title], titles) is False
