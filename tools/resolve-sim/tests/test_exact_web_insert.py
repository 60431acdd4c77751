"""The Exact Web insert script, run the way the program runs it (media import
function, placement functions, interpreter wrapper) against the simulated
Resolve: what it places, where, and what it says about it."""

import json
import os
import subprocess

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
MARKER = "__ORVEL_JSON__"


def _read(*parts):
    with open(os.path.join(REPO, "src", *parts), encoding="utf-8") as handle:
        return handle.read()


SCRIPT = (_read("resolve", "scripts", "media_import.py") + "\n" + _read("resolve", "scripts", "placement.py")
          + _read("delivery", "scripts", "exact_web_insert.py"))


def run_insert(sim, tmp_path, render, start, segments, split, files, sfx=()):
    path = tmp_path / "orvel_resolve_bridge_insert.py"
    path.write_text(SCRIPT, encoding="utf-8")
    args = [render, "%.6f" % start, json.dumps(segments), "1" if split else "0", json.dumps(files), json.dumps(list(sfx))]
    # The arguments travel in a file, each one ended by a NUL byte.
    arguments = tmp_path / "orvel_resolve_bridge_insert.args"
    arguments.write_bytes(b"".join(os.fsencode(a) + b"\0" for a in args))
    result = subprocess.run(["/usr/bin/python3", "-c", _read("resolve", "scripts", "runner_wrapper.py"), str(path),
                             str(arguments)], env=sim.env(), capture_output=True, timeout=60)
    out = result.stdout.decode("utf-8")
    assert MARKER in out, result.stderr.decode("utf-8", "replace")
    text = out[out.rindex(MARKER) + len(MARKER):]
    return json.JSONDecoder().raw_decode(text[text.index("{"):])[0]


@pytest.fixture(scope="module")
def media(tmp_path_factory):
    folder = tmp_path_factory.mktemp("exact")

    def movie(name, seconds):
        path = str(folder / name)
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "color=c=white@0.5:s=32x18:r=25:d=%s,format=rgba" % seconds,
                        "-c:v", "prores_ks", "-profile:v", "4444", "-pix_fmt", "yuva444p10le", path], check=True)
        return path

    sound = str(folder / "boom.wav")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", sound], check=True)
    return {"render": movie("render.mov", 6), "a": movie("a.mov", 2), "b": movie("b.mov", 2),
            "c": movie("c.mov", 1), "sound": sound, "folder": str(folder)}


def segment_files(media, specs):
    return [{"filePath": media[key], "start": start, "end": end, "text": text} for key, start, end, text in specs]


def track_items(sim, kind, track):
    t = sim.timeline()
    return [(i.GetName(), i.GetStart(), i.GetEnd()) for i in t.GetItemListInTrack(kind, track)]


def test_overlapping_blocks_go_to_lanes_and_every_one_is_placed(sim, tmp_path, media):
    sim.cli("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    files = segment_files(media, [("a", 10.0, 12.0, "Premier"), ("b", 11.0, 13.0, "Chevauche"), ("c", 12.0, 13.0, "")])
    result = run_insert(sim, tmp_path, media["render"], 10, [{}] * 3, True, files,
                        [{"filePath": media["sound"], "start": 10.0, "name": " Boum ", "volume": 1.4},
                         {"filePath": media["sound"], "start": 10.5, "name": "", "volume": 0.5}])
    assert result["success"] is True, result
    assert result["message"] == "Rendu ajoute et decoupe dans DaVinci Resolve."
    assert (result["videoTrack"], result["videoTracks"], result["clipCount"]) == (2, [2, 3], 3)
    assert (result["recordFrame"], result["splitApplied"], result["segmentCount"]) == (90250, True, 3)
    assert (result["sfxCount"], result["warning"]) == (2, None)
    t = sim.timeline()
    assert [t.GetTrackName("video", i) for i in (2, 3)] == ["Tessivo Overlay", "Tessivo Overlay 2"]
    assert track_items(sim, "video", 2) == [("Tessivo 001 - Premier", 90250, 90300), ("003", 90300, 90325)]
    assert track_items(sim, "video", 3) == [("Tessivo 002 - Chevauche", 90275, 90325)]
    assert [t.GetTrackName("audio", i) for i in (2, 3)] == ["Tessivo SFX", "Tessivo SFX 2"]
    assert track_items(sim, "audio", 2) == [("Tessivo SFX - Boum", 90250, 90275)]
    assert track_items(sim, "audio", 3) == [("Tessivo SFX - SFX", 90262, 90287)]
    # "Volume" is no item property; 21.1 takes the level in dB, clamped to full volume.
    levels = [t.GetItemListInTrack("audio", i)[0].GetProperties()["AudioVolume"] for i in (2, 3)]
    assert levels == [0.0, pytest.approx(-6.0206, abs=1e-3)]


def test_a_block_resolve_drops_is_named_and_not_counted(sim, tmp_path, media):
    sim.cli("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # The first append answers nothing.
    sim.cli("fault", "set", "AppendToTimeline", "value", "--value", "[]", "--times", "1")
    files = segment_files(media, [("a", 0.0, 2.0, "Perdu"), ("c", 3.0, 4.0, "Gardé")])
    result = run_insert(sim, tmp_path, media["render"], 0, [{}] * 2, True, files)
    assert result["success"] is True and result["clipCount"] == 1
    assert result["warning"] == "DaVinci n'a pas placé 1 segment : Tessivo 001 - Perdu."
    assert track_items(sim, "video", 2) == [("Tessivo 002 - Gardé", 90075, 90100)]


def test_an_append_that_only_looks_successful_fails_the_result(sim, tmp_path, media):
    # No new track can be made, so the blocks land on track 1 over an
    # existing clip; Resolve then answers with unreadable items.
    sim.cli("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    sim.cli("add-clip", "--name", "Plan", "--start", "01:00:00:00", "--duration", 500)
    sim.cli("set", "overlap-phantom", "true")
    sim.cli("fault", "set", "AddTrack", "false")
    files = segment_files(media, [("a", 0.0, 2.0, "Un"), ("c", 3.0, 4.0, "Deux")])
    result = run_insert(sim, tmp_path, media["render"], 0, [{}] * 2, True, files)
    assert result["success"] is False
    assert result["message"] == "Les segments sont importes, mais DaVinci n'a pas pu les placer sur la timeline."
    assert result["details"] == "Non placés : Tessivo 001 - Un, Tessivo 002 - Deux"
    assert track_items(sim, "video", 1) == [("Plan", 90000, 90500)]


def test_a_failure_after_placing_says_what_stays_on_the_timeline(sim, tmp_path, media):
    sim.cli("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    sim.cli("fault", "set", "GetName", "raise")
    files = segment_files(media, [("a", 0.0, 2.0, "Un"), ("c", 3.0, 4.0, "Deux")])
    result = run_insert(sim, tmp_path, media["render"], 0, [{}] * 2, True, files)
    assert result["success"] is False
    assert result["message"] == "Erreur pendant l'envoi du rendu vers DaVinci Resolve."
    assert result["details"].startswith("Déjà placé : piste vidéo 2 : 2 éléments\n")
    assert result["filePath"] == media["render"]


@pytest.mark.parametrize("case, message, file_key", [
    ("missing segment", "Un segment Tessivo est introuvable.", "gone"),
    ("missing render", "Le fichier rendu est introuvable.", "render-gone"),
    ("refused import", "DaVinci n'a pas pu importer un segment Tessivo.", "a"),
    ("not running", "DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas active.", "render"),
])
def test_refusals_before_the_timeline_is_touched(sim, tmp_path, media, case, message, file_key):
    sim.cli("init", "--fps", "25")
    gone = os.path.join(media["folder"], "gone.mov")
    render = os.path.join(media["folder"], "render-gone.mov") if case == "missing render" else media["render"]
    if case == "refused import":
        sim.cli("fault", "set", "ImportMedia", "value", "--value", "[]")
    if case == "not running":
        sim.cli("set", "running", "false")
    files = [{"filePath": gone if file_key == "gone" else media["a"], "start": 0, "end": 2, "text": "x"}]
    result = run_insert(sim, tmp_path, render, 0, [{}], True, files)
    assert (result["success"], result["message"]) == (False, message)
    expected = {"gone": gone, "render-gone": render, "a": media["a"], "render": media["render"]}[file_key]
    assert result["filePath"] == expected
    if case != "not running":
        assert sim.timeline().GetTrackCount("video") == 1


def test_without_a_split_the_render_is_one_clip(sim, tmp_path, media):
    sim.cli("init", "--fps", "23.976", "--start-timecode", "01:00:00:00")
    sim.cli("load-srt", os.path.join(REPO, "tools", "resolve-sim", "samples", "demo.srt"), "--track", 1)
    result = run_insert(sim, tmp_path, media["render"], 12.5, [{}], False, [])
    assert result["success"] is True
    assert result["message"] == "Rendu transparent ajoute dans DaVinci Resolve."
    assert (result["recordFrame"], result["clipCount"], result["subtitleTrackDisabled"]) == (86400 + 300, 1, True)
    assert track_items(sim, "video", 2) == [("Tessivo 001", 86700, 86843)]
