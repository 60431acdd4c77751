"""The embedded subtitle import and timeline facts scripts, run the way the
program runs them (media import function prepended, interpreter wrapper,
/usr/bin/python3) against the simulated Resolve."""

import json
import os
import subprocess

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
SCRIPTS = os.path.join(REPO, "src", "resolve", "scripts")
MARKER = "__ORVEL_JSON__"


def _read(name):
    with open(os.path.join(SCRIPTS, name), encoding="utf-8") as handle:
        return handle.read()


def run_script(sim, tmp_path, name, *args):
    path = tmp_path / ("orvel_resolve_bridge_%s.py" % name)
    path.write_text(_read("media_import.py") + "\n" + _read(name), encoding="utf-8")
    # The arguments travel in a file, each one ended by a NUL byte.
    arguments = tmp_path / ("orvel_resolve_bridge_%s.args" % name)
    arguments.write_bytes(b"".join(os.fsencode(a) + b"\0" for a in args))
    result = subprocess.run(["/usr/bin/python3", "-c", _read("runner_wrapper.py"), str(path), str(arguments)],
                            env=sim.env(), capture_output=True, timeout=60)
    out = result.stdout.decode("utf-8")
    assert MARKER in out, result.stderr.decode("utf-8", "replace")
    text = out[out.rindex(MARKER) + len(MARKER):]
    payload, _ = json.JSONDecoder().raw_decode(text[text.index("{"):])
    return payload


def import_subs(sim, tmp_path, request=None):
    args = [] if request is None else [json.dumps(request)]
    return run_script(sim, tmp_path, "import_subtitles.py", *args)


def srt(tmp_path, name, cues):
    lines = []
    for n, (start, end, text) in enumerate(cues, 1):
        lines.append("%d\n00:00:%06.3f --> 00:00:%06.3f\n%s\n" % (n, start, end, text))
    path = tmp_path / name
    path.write_text("\n".join(lines).replace(".", ","), encoding="utf-8")
    return str(path)


@pytest.fixture
def three_tracks(sim, tmp_path):
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(2, 3, "Deux"), (0.5, 1, "Un")]), "--track", 1)
    sim.cli("load-srt", srt(tmp_path, "b.srt", [(0.2, 0.4, ""), (0.5, 1.5, "Caché")]), "--track", 2, "--disabled")
    sim.cli("load-srt", srt(tmp_path, "c.srt", [(0.5, 0.75, "Trois\r\nlignes ")]), "--track", 3)
    return sim


def test_enabled_tracks_are_read_and_sorted(three_tracks, tmp_path):
    result = import_subs(three_tracks, tmp_path)
    assert result["success"] is True and result["fps"] == 24.0
    assert result["subtitleTracks"] == [1, 3] and result["count"] == 3
    assert [(s["id"], s["text"]) for s in result["subtitles"]] == [
        ("resolve_st1_001", "Un"), ("resolve_st3_001", "Trois\nlignes"), ("resolve_st1_002", "Deux")]
    first = result["subtitles"][0]
    assert (first["start"], first["duration"], first["startFrame"], first["endFrame"]) == (0.5, 0.5, 86412.0, 86424.0)
    t = three_tracks.timeline()
    assert result["timelineId"] == t.GetUniqueId() and result["timelineName"] == "Timeline 1"
    assert first["sourceItemId"] == t.GetItemListInTrack("subtitle", 1)[0].GetUniqueId()


@pytest.mark.parametrize("tracks, expected_tracks, expected_ids", [
    ([2, 2, 1], [1, 2], ["resolve_st1_001", "resolve_st2_002", "resolve_st1_002"]),
    ([3.0], [3], ["resolve_st3_001"]),
    ([], [1, 3], ["resolve_st1_001", "resolve_st3_001", "resolve_st1_002"]),
])
def test_listed_tracks_and_used_up_positions(three_tracks, tmp_path, tracks, expected_tracks, expected_ids):
    result = import_subs(three_tracks, tmp_path, {"trackIndices": tracks})
    assert result["subtitleTracks"] == expected_tracks
    assert [s["id"] for s in result["subtitles"]] == expected_ids


@pytest.mark.parametrize("tracks", [[0], [4], [1, "2"], [True]])
def test_listed_track_that_does_not_exist_is_refused(three_tracks, tmp_path, tracks):
    result = import_subs(three_tracks, tmp_path, {"trackIndices": tracks})
    assert result == {"success": False, "details": None,
                      "message": "Une piste de sous-titres importée a été supprimée. Relance l’import depuis la piste source."}


def test_deleted_track_and_all_disabled(three_tracks, tmp_path):
    three_tracks.cli("track", "subtitle", 3, "--delete")
    assert import_subs(three_tracks, tmp_path, {"trackIndices": [3]})["success"] is False
    three_tracks.cli("track", "subtitle", 1, "--disable")
    # No enabled track left: every track is read.
    assert import_subs(three_tracks, tmp_path)["subtitleTracks"] == [1, 2]


@pytest.mark.parametrize("end, duration, expected", [
    (86424, 48, 2.0),   # end equal to start: start + duration
    (86424, 0, 0.05),   # zero length
    (86430, 48, 0.25),  # a real end wins over the duration
])
def test_zero_length_items(sim, tmp_path, end, duration, expected):
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(1, 2, "Texte")]), "--track", 1)
    sim.cli("fault", "set", "GetEnd", "value", "--value", str(end))
    sim.cli("fault", "set", "GetDuration", "value", "--value", str(duration))
    entry = import_subs(sim, tmp_path)["subtitles"][0]
    assert entry["duration"] == expected


def test_non_finite_integer_frames_fall_back_to_subframe_form(sim, tmp_path):
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(1, 2, "Texte")]), "--track", 1)
    sim.cli("fault", "set", "GetStart", "nan", "--args", "[]")
    entry = import_subs(sim, tmp_path)["subtitles"][0]
    assert entry["startFrame"] == 86424.0 and entry["start"] == 1.0


def test_item_before_the_timeline_start(sim, tmp_path):
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(0, 1, "Avant"), (2, 3, "Après")]), "--track", 1, "--offset", -48)
    starts = [(s["text"], s["start"], s["startFrame"]) for s in import_subs(sim, tmp_path)["subtitles"]]
    assert starts == [("Avant", 0.0, 86352.0), ("Après", 0.0, 86400.0)]


@pytest.mark.parametrize("rate_text, expected", [("29,97", 29.97), ("23.976 DF", 23.976), ("fast", 24.0)])
def test_frame_rate_texts(sim, tmp_path, rate_text, expected):
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(1, 2, "Texte")]), "--track", 1)
    sim.cli("set", "frame-rate-text", rate_text)
    assert import_subs(sim, tmp_path)["fps"] == expected
    facts = run_script(sim, tmp_path, "timeline_facts.py")
    assert facts["fps"] == (expected if rate_text != "fast" else 30.0)


def test_drop_frame_timeline(sim, tmp_path):
    sim.cli("init", "--fps", "29.97 DF", "--profile", "19.0.2")
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(10, 11, "Texte")]), "--track", 1)
    result = import_subs(sim, tmp_path)
    entry = result["subtitles"][0]
    assert result["fps"] == 29.97  # "29.97 DF" as text on this profile
    assert entry["startFrame"] == 107892 + 300 and entry["start"] == pytest.approx(300 / 29.97)


@pytest.mark.parametrize("profile, texts, warned", [
    ("20.2", ["Subtitle", "Subtitle"], True),   # the 20.2 regression: every item is named "Subtitle"
    ("21.1", ["Bonjour", "Au revoir"], False),
    ("19.0.2", ["Bonjour", "Au revoir"], False),
])
def test_profile_20_2_keeps_the_timings_and_warns(sim, tmp_path, profile, texts, warned):
    sim.cli("set", "profile", profile)
    sim.cli("load-srt", srt(tmp_path, "a.srt", [(1, 2, "Bonjour"), (3, 4.5, "Au revoir")]), "--track", 1)
    result = import_subs(sim, tmp_path)
    assert result["success"] is True
    assert [s["text"] for s in result["subtitles"]] == texts
    assert [(s["start"], s["duration"]) for s in result["subtitles"]] == [(1.0, 1.0), (3.0, 1.5)]
    assert ("warning" in result) == warned
    if warned:
        assert list(result)[-1] == "warning"
        assert "20.2.1" in result["warning"] and "Mets DaVinci Resolve à jour" in result["warning"]


@pytest.mark.parametrize("commands, request_, message", [
    ([["set", "running", "false"]], None,
     "Pont DaVinci indisponible. Dans Resolve : Préférences > Système > Général > Écriture de scripts externe = Local, puis redémarre Resolve une fois."),
    ([["init", "--timeline", ""]], None, "Aucune timeline active dans DaVinci Resolve."),
    ([["track", "subtitle", 1, "--add"]], {"timelineId": "another"},
     "La timeline a changé. Relance l’import depuis le montage actuel."),
    ([], {}, "Aucune piste sous-titre trouvee. Il faut une piste ST1 dans la timeline active."),
    ([["track", "subtitle", 2, "--add"]], {},
     "Des pistes de sous-titres existent, mais aucun texte lisible n'a été trouvé via l'API Resolve."),
])
def test_import_refusals(sim, tmp_path, commands, request_, message):
    for command in commands:
        sim.cli(*command)
    result = import_subs(sim, tmp_path, request_)
    assert result["success"] is False and result["message"] == message


def test_unexpected_error_is_reported_with_traceback(sim, tmp_path):
    sim.cli("track", "subtitle", 1, "--add")
    sim.cli("fault", "set", "GetItemListInTrack", "raise")
    result = import_subs(sim, tmp_path)
    assert result["message"] == "Erreur pendant l'import des sous-titres depuis DaVinci Resolve."
    assert "simulated failure in GetItemListInTrack" in result["details"]


def test_timeline_facts(sim, tmp_path):
    sim.cli("init", "--fps", "25", "--resolution", "3840x2160", "--timeline", "Montage final")
    assert run_script(sim, tmp_path, "timeline_facts.py") == {
        "success": True, "timelineName": "Montage final", "fps": 25.0, "width": 3840, "height": 2160}
    sim.cli("set", "frame-rate-text", "")
    assert run_script(sim, tmp_path, "timeline_facts.py")["fps"] == 30.0
    sim.cli("set", "scripting", "false")
    assert run_script(sim, tmp_path, "timeline_facts.py")["message"] == \
        "DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé."
    sim.cli("set", "scripting", "true")
    sim.cli("init", "--timeline", "")
    assert run_script(sim, tmp_path, "timeline_facts.py")["message"] == "Aucune timeline active dans DaVinci Resolve."
