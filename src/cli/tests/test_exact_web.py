"""The Exact Web route ("exportToResolve") end to end through the headless
bridge against the Resolve simulator: render, cut per block, insert, and what
the simulated timeline holds afterwards. The bridge has no display, so the
captions are drawn by the native renderer and the answer says so."""
import json
import math
import os
import subprocess
import time

import pytest

from test_bridge import CLI, Bridge

HEADLESS = ("Pas d'affichage disponible : les sous-titres ont été dessinés par le moteur de rendu natif, "
            "pas par la page de l'éditeur.")
NOT_OPEN = "DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas active."
START_FRAMES = {"25": 90000, "29.97 DF": 107892, "23.976": 86400}
RATES = {"25": 25.0, "29.97 DF": 29.97, "23.976": 23.976}


def block(text, start, duration, track=0):
    return {"id": text, "text": text, "startTime": start, "duration": duration, "trackId": track,
            "animIn": "none", "animOut": "none", "fontSize": 40}


def request(fps, blocks, start=0.5, end=4.0, split=True, **extra):
    payload = {"width": 320, "height": 180, "start": start, "end": end, "fps": fps, "bg": "transparent",
               "splitBySubtitles": split, "sequences": blocks}
    payload.update(extra)
    return {"type": "exportToResolve", "payload": payload}


class ExactBridge(Bridge):
    def __init__(self, tmp_path):
        super().__init__(tmp_path)
        self.home = tmp_path / "home"
        self.home.mkdir()
        self.env.update({"HOME": str(self.home), "XDG_CONFIG_HOME": str(self.home / ".config")})
        self.renders = self.home / "Videos" / "Tessivo" / "DaVinci"

    def timeline(self):
        """{track name: [(item name, start, end, media file name)]} of the current timeline."""
        with open(self.state, encoding="utf-8") as handle:
            state = json.load(handle)
        project = next(p for p in state["projects"] if p["id"] == state["currentProject"])
        timeline = next(t for t in project["timelines"] if t["id"] == project["currentTimeline"])
        tracks = {}
        for kind in ("video", "audio"):
            for index, track in enumerate(timeline["tracks"][kind], 1):
                items = []
                for item in track["items"]:
                    clip = state["clips"].get(item.get("clip") or "") or {}
                    items.append((item["name"], item["start"], item["end"], os.path.basename(clip.get("path", ""))))
                tracks[("%s %d %s" % (kind, index, track["name"] or "")).strip()] = items
        return tracks


@pytest.fixture
def bridge(tmp_path):
    return ExactBridge(tmp_path)


def answers(out):
    assert [c["function"] for c in out] == ["window.onResolveExportComplete"], out
    return out[0]["payload"]


def frames_of(seconds, rate):
    return round(seconds * rate)


def frames_in(offset, length, fps, record):
    """Timeline frames [start, end) of the cut of [offset, offset + length) of a render at `fps` placed at `record`."""
    first = math.ceil(offset * fps - 1e-6)
    end = math.ceil((offset + length) * fps - 1e-6)
    if end <= first:
        first, end = first - 1, first
    return record + first, record + end


@pytest.mark.parametrize("fps", ["25", "29.97 DF", "23.976"])
def test_blocks_are_cut_and_placed_frame_exact(bridge, fps):
    bridge.sim("init", "--fps", fps, "--start-timecode", "01:00:00:00")
    rate = RATES[fps]
    render_fps = float(fps.split()[0])
    out, _ = bridge.run([request(render_fps, [block("Un", 1.0, 1.0), block("Deux", 1.5, 1.0),
                                              block("Court", 3.0, 0.004), block("Dehors", 5.0, 1.0)])])
    result = answers(out)
    assert result["success"] is True, result
    assert result["message"] == "Rendu ajoute et decoupe dans DaVinci Resolve."
    assert result["warning"] == HEADLESS
    assert (result["clipCount"], result["segmentCount"], result["videoTrack"], result["videoTracks"]) == (3, 3, 2, [2, 3])
    assert result["recordFrame"] == START_FRAMES[fps] + frames_of(0.5, rate)
    render = os.path.basename(result["filePath"])
    assert render.startswith("Tessivo_DaVinci_") and render.endswith(".mov")
    assert os.path.dirname(result["filePath"]) == str(bridge.renders)

    # Each segment stands where its frames stand in the whole render, which
    # begins at the record frame; a cut holds the frames that start inside
    # its block, and the 0.004 s block (cut with 0.01 s) the one frame shown then.
    record = result["recordFrame"]
    placed = lambda offset, length: frames_in(offset, length, render_fps, record)  # noqa: E731
    assert bridge.timeline() == {
        "video 1": [],
        "video 2 Tessivo Overlay": [("Tessivo 001 - Un",) + placed(0.5, 1.0) + ("Tessivo_001.mov",),
                                    ("Tessivo 003 - Court",) + placed(2.5, 0.01) + ("Tessivo_003.mov",)],
        "video 3 Tessivo Overlay 2": [("Tessivo 002 - Deux",) + placed(1.0, 1.0) + ("Tessivo_002.mov",)],
        "audio 1": [],
    }
    # One second holds 25, 30 or 24 frames.
    assert placed(0.5, 1.0)[1] - placed(0.5, 1.0)[0] == {"25": 25, "29.97 DF": 30, "23.976": 24}[fps]


def test_a_cut_that_fails_places_the_whole_render(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # Whatever second the render is named after, its first segment's name is
    # taken by a folder that cannot be removed.
    now = int(time.time())
    for second in range(now, now + 120):
        (bridge.renders / ("Tessivo_DaVinci_%d_Segments" % second) / "Tessivo_001.mov" / "x").mkdir(parents=True)
    out, _ = bridge.run([request(25, [block("Un", 1.0, 1.0), block("Deux", 2.0, 1.0)])])
    result = answers(out)
    assert result["success"] is True, result
    assert result["message"] == "Rendu transparent ajoute dans DaVinci Resolve."
    assert result["warning"].startswith("Découpe impossible: Découpe du segment 1 annulée ou échouée.")
    assert result["warning"].endswith("\n" + HEADLESS)
    assert (result["splitRequested"], result["splitApplied"], result["clipCount"]) == (False, False, 1)
    render = os.path.basename(result["filePath"])
    # 3.5 s at 25 fps.
    assert bridge.timeline()["video 2 Tessivo Overlay"] == [("Tessivo 001", 90012, 90012 + 88, render)]


def test_a_segment_removed_before_import_fails_naming_it(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # Resolve takes its time to answer: the segment goes meanwhile.
    bridge.sim("fault", "set", "scriptapp", "hang", "--seconds", "4", "--times", "1")
    env = dict(bridge.env)
    text = json.dumps(request(25, [block("Un", 1.0, 1.0), block("Deux", 2.0, 1.0)])) + "\n"
    process = subprocess.Popen([CLI, "bridge"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    process.stdin.write(text.encode())
    process.stdin.close()
    removed = None
    deadline = time.monotonic() + 60
    while removed is None and time.monotonic() < deadline:
        for folder in bridge.renders.glob("*_Segments"):
            if (folder / "Tessivo_002.mov").exists():
                time.sleep(0.5)
                removed = folder / "Tessivo_002.mov"
                removed.unlink()
        time.sleep(0.05)
    stdout, stderr = process.stdout.read(), process.stderr.read()
    process.wait(timeout=120)
    assert process.returncode == 0, stderr.decode()
    result = answers([json.loads(line) for line in stdout.decode().splitlines() if line.strip()])
    assert removed is not None
    assert (result["success"], result["message"], result["filePath"]) == (
        False, "Un segment Tessivo est introuvable.", str(removed))
    assert bridge.timeline() == {"video 1": [], "audio 1": []}


@pytest.mark.parametrize("case", ["not running", "hanging"])
def test_resolve_away_or_hanging(bridge, case):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    if case == "not running":
        bridge.sim("set", "running", "false")
    else:
        bridge.sim("fault", "set", "scriptapp", "hang", "--seconds", "30")
    # The 120-second limit of the insertion becomes 2.4 s.
    out, _ = bridge.run([request(25, [block("Un", 1.0, 1.0)])], {"TESSIVO_TIME_LIMIT_SCALE": "0.02"})
    result = answers(out)
    assert result["success"] is False
    assert result["filePath"].startswith(str(bridge.renders))
    if case == "not running":
        assert result["message"] == NOT_OPEN
    else:
        assert result["message"].startswith("DaVinci n'a pas répondu après 2s.")
        bridge.sim("fault", "clear")
    bridge.sim("set", "running", "true")
    assert bridge.timeline() == {"video 1": [], "audio 1": []}


def test_a_request_while_a_render_runs_is_ignored(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    out, _ = bridge.run([request(25, [block("Premier", 1.0, 1.0)], end=6.0),
                         request(25, [block("Second", 1.0, 1.0)], split=False)])
    result = answers(out)
    assert (result["success"], result["clipCount"]) == (True, 1)
    assert bridge.timeline()["video 2 Tessivo Overlay"] == [
        ("Tessivo 001 - Premier", 90012 + 13, 90012 + 38, "Tessivo_001.mov")]


def test_a_block_between_two_frames_stands_where_its_first_frame_stands(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # 2.02 s is frame 50.5: the cut starts with frame 51, which the whole
    # render shows at 01:00:02:01; the block's own time would round to frame 50.
    out, _ = bridge.run([request(25, [block("Décalé", 2.02, 0.98)], start=0.0, end=4.0)])
    result = answers(out)
    assert result["success"] is True, result
    assert bridge.timeline()["video 2 Tessivo Overlay"] == [("Tessivo 001 - Décalé", 90051, 90075, "Tessivo_001.mov")]


def test_a_request_during_an_insertion_keeps_its_own_blocks(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # The first insertion waits for Resolve while the second request renders.
    bridge.sim("fault", "set", "scriptapp", "hang", "--seconds", "3", "--times", "1")
    process = subprocess.Popen([CLI, "bridge"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=bridge.env)
    process.stdin.write((json.dumps(request(25, [block("Premier", 1.0, 1.0)], start=0.0, end=2.0)) + "\n").encode())
    process.stdin.flush()
    deadline = time.monotonic() + 60
    while not list(bridge.renders.glob("Tessivo_DaVinci_*.mov")) and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.3)
    process.stdin.write((json.dumps(request(25, [block("Second", 3.0, 1.0)], start=2.0, end=4.0)) + "\n").encode())
    process.stdin.close()
    stdout, stderr = process.stdout.read(), process.stderr.read()
    process.wait(timeout=120)
    assert process.returncode == 0, stderr.decode()
    results = [json.loads(line)["payload"] for line in stdout.decode().splitlines() if line.strip()]
    assert [(r["success"], r["splitApplied"], r["recordFrame"]) for r in results] == [
        (True, True, 90000), (True, True, 90050)], results
    assert results[0]["filePath"] != results[1]["filePath"]
    tracks = bridge.timeline()
    assert tracks["video 2 Tessivo Overlay"] == [("Tessivo 001 - Premier", 90025, 90050, "Tessivo_001.mov")]
    assert tracks["video 3 Tessivo Overlay"] == [("Tessivo 001 - Second", 90075, 90100, "Tessivo_001.mov")]


def test_a_background_colour_gives_mpeg4_segments(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    out, _ = bridge.run([request(25, [block("Un", 1.0, 1.0), block("Deux", 2.5, 0.5)], start=0.0, end=4.0,
                                 bg="black", format="mov")])
    result = answers(out)
    assert result["success"] is True, result
    assert result["filePath"].endswith(".mp4")
    assert bridge.timeline()["video 2 Tessivo Overlay"] == [
        ("Tessivo 001 - Un", 90025, 90050, "Tessivo_001.mp4"), ("Tessivo 002 - Deux", 90063, 90075, "Tessivo_002.mp4")]


def test_deliver_exact_from_a_terminal(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    params = bridge.tmp / "params.json"
    params.write_text(json.dumps(request(25, [block("Un", 1.0, 1.0)], start=0.0, end=2.0)["payload"]), encoding="utf-8")
    done = subprocess.run([CLI, "deliver", "exact", str(params)], capture_output=True, env=bridge.env, timeout=120)
    assert done.returncode == 0, done.stderr.decode()
    payload = json.loads(done.stdout)
    assert (payload["success"], payload["clipCount"], payload["warning"]) == (True, 1, HEADLESS)
    assert bridge.timeline()["video 2 Tessivo Overlay"] == [("Tessivo 001 - Un", 90025, 90050, "Tessivo_001.mov")]
