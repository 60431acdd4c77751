"""The Lottie route end to end: `tessivo-cli deliver lottie` (and the bridge)
against the Resolve simulator, then what the simulated timeline holds."""
import base64
import io
import json
import os
import subprocess
import wave

import pytest

ROOT = os.environ.get("TESSIVO_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
CLI = os.environ.get("TESSIVO_CLI") or os.path.join(ROOT, "build", "tessivo-cli")
SIM = os.path.join(ROOT, "tools", "resolve-sim", "resolve-sim")
SCRIPTING = os.path.join(ROOT, "tools", "resolve-sim", "Scripting")

SUCCESS_KEYS = ["success", "mode", "renderer", "message", "timelineName", "videoTrack", "videoTracks", "clipCount",
                "sfxCount", "warning", "subtitleTrackDisabled", "filePaths"]
NOT_RUNNING = "DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé."
REFUSED = "DaVinci a refusé une animation .lottie. Utilise Exact Web pour ce bloc ou vérifie Resolve 21."
NOT_ALL_PLACED = "Les animations sont dans le Media Pool, mais Resolve n'a pas placé tous les clips sur la timeline."


def wav_data_url(seconds=0.5):
    buffer = io.BytesIO()
    with wave.open(buffer, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(8000)
        out.writeframes(b"\0\0" * int(8000 * seconds))
    return "data:audio/wav;base64," + base64.b64encode(buffer.getvalue()).decode()


def block(text, start, duration, ident=None):
    return {"id": ident or text, "text": text, "startTime": start, "duration": duration, "animIn": "fade",
            "animOut": "fade"}


class Delivery:
    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.state = str(tmp_path / "resolve.json")
        self.env = dict(os.environ)
        self.env.update({"TESSIVO_RESOLVE_SIM_STATE": self.state, "TESSIVO_RESOLVE_SCRIPT_API": SCRIPTING,
                         "TESSIVO_SETTINGS_FILE": str(tmp_path / "settings.ini"), "TMPDIR": str(tmp_path)})
        self.env.pop("PYTHONPATH", None)

    def sim(self, *args):
        return subprocess.run(["/usr/bin/python3", SIM, "--state", self.state] + [str(a) for a in args],
                              check=True, capture_output=True, env=self.env).stdout.decode()

    def request(self, fps, sequences, end=10, sfx=None):
        params = {"fps": fps, "width": 1280, "height": 720, "start": 0, "end": end, "sequences": sequences,
                  "_debugOutputDirectory": str(self.tmp / "out")}
        if sfx is not None:
            params["sfxEvents"] = sfx
        return params

    def deliver(self, params, extra_env=None, route="lottie"):
        path = self.tmp / "params.json"
        path.write_text(json.dumps(params), encoding="utf-8")
        env = dict(self.env)
        env.update(extra_env or {})
        done = subprocess.run([CLI, "deliver", route, str(path)], capture_output=True, env=env, timeout=120)
        payload = json.loads(done.stdout) if done.stdout.strip() else None
        return done.returncode, payload, done.stderr.decode()

    def timeline(self):
        """{(kind, track): {"name", "enabled", "items": [(start, end, name, media path, colour)]}}."""
        state = json.loads(self.sim("dump"))
        project = next(p for p in state["projects"] if p["id"] == state["currentProject"])
        timeline = next(t for t in project["timelines"] if t["id"] == project["currentTimeline"])
        tracks = {}
        for kind, entries in timeline["tracks"].items():
            for index, track in enumerate(entries, 1):
                items = [(it["start"], it["end"], it["name"], (state["clips"].get(it.get("clip")) or {}).get("path"),
                          it.get("clipColor")) for it in track["items"]]
                tracks[(kind, index)] = {"name": track["name"], "enabled": track["enabled"], "items": items}
        return timeline["startFrame"], tracks


    def audio_levels(self):
        state = json.loads(self.sim("dump"))
        project = next(p for p in state["projects"] if p["id"] == state["currentProject"])
        timeline = next(t for t in project["timelines"] if t["id"] == project["currentTimeline"])
        return [item["properties"].get("AudioVolume") for track in timeline["tracks"]["audio"]
                for item in track["items"]]


@pytest.fixture
def delivery(tmp_path):
    return Delivery(tmp_path)


@pytest.mark.parametrize("fps_text, rate, first_frame", [
    ("25", 25.0, 90000),
    ("29.97 DF", 29.97, 107892),
    ("23.976", 23.976, 86400),
])
def test_blocks_and_sound_effects_land_at_their_frames(delivery, fps_text, rate, first_frame):
    delivery.sim("init", "--fps", fps_text, "--start-timecode", "01:00:00:00", "--subtitle-tracks", 1)
    params = delivery.request(rate, [block("Deuxième\nligne", 3, 2, "b"), block("Bonjour à tous", 0.5, 2, "a")],
                              sfx=[{"dataUrl": wav_data_url(), "start": 1, "name": "Pop", "volume": 2},
                                   {"dataUrl": "not audio", "start": 2}])
    code, payload, err = delivery.deliver(params)
    assert code == 0, err
    assert list(payload) == SUCCESS_KEYS
    assert payload["message"] == "2 animations Lottie envoyées dans DaVinci sans encodage vidéo."
    assert (payload["videoTrack"], payload["videoTracks"], payload["clipCount"]) == (2, [2], 2)
    assert (payload["sfxCount"], payload["warning"], payload["subtitleTrackDisabled"]) == (1, None, True)
    start, tracks = delivery.timeline()
    assert start == first_frame
    lottie = tracks[("video", 2)]
    assert lottie["name"] == "Tessivo Lottie"
    assert [(s, n, p, c) for s, _, n, p, c in lottie["items"]] == [
        (first_frame + round(0.5 * rate), "Tessivo Lottie 001 - Bonjour à tous", payload["filePaths"][0], "Green"),
        (first_frame + round(3 * rate), "Tessivo Lottie 002 - Deuxième ligne", payload["filePaths"][1], "Green"),
    ]
    # Each block lasts its two seconds on the timeline.
    assert all(abs((e - s) - 2 * rate) <= 1 for s, e, *_ in lottie["items"])
    assert [os.path.basename(p) for p in payload["filePaths"]] == ["Tessivo_Lottie_001_a.lottie",
                                                                  "Tessivo_Lottie_002_b.lottie"]
    sfx_tracks = [t for (kind, _), t in tracks.items() if kind == "audio" and t["items"]]
    assert [t["name"] for t in sfx_tracks] == ["Tessivo SFX"]
    assert [(s, n) for s, _, n, _, _ in sfx_tracks[0]["items"]] == [(first_frame + round(rate), "Tessivo SFX - Pop")]
    # A volume above 1 counts as 1: the level stays at 0 dB.
    assert delivery.audio_levels() == [0.0]
    assert tracks[("subtitle", 1)]["enabled"] is False


@pytest.mark.parametrize("fault, volumes, levels", [
    (None, [0.5, 0, 1], [-6.02, -100.0, 0.0]),
    # A refused level leaves the clip at its own and the delivery succeeds.
    (("fault", "set", "SetProperties", "false"), [0.5], [None]),
])
def test_sound_effect_volumes_reach_the_items(delivery, fault, volumes, levels):
    delivery.sim("init", "--fps", "25")
    if fault:
        delivery.sim(*fault)
    sfx = [{"dataUrl": wav_data_url(0.2), "start": i, "name": "S%d" % i, "volume": v} for i, v in enumerate(volumes)]
    code, payload, err = delivery.deliver(delivery.request(25, [block("Un", 0, 1)], sfx=sfx))
    assert code == 0, err
    assert (payload["sfxCount"], payload["warning"]) == (len(volumes), None)
    assert [None if l is None else round(l, 2) for l in delivery.audio_levels()] == levels


def test_overlapping_blocks_share_as_few_lanes_as_possible(delivery):
    delivery.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00", "--video-tracks", 2)
    # The second block starts inside the first; the third starts where the first ends.
    params = delivery.request(25, [block("Un", 0, 3), block("Deux", 1, 1.5), block("Trois", 3, 1)])
    code, payload, err = delivery.deliver(params)
    assert code == 0, err
    assert (payload["videoTrack"], payload["videoTracks"], payload["clipCount"]) == (3, [3, 4], 3)
    _, tracks = delivery.timeline()
    assert tracks[("video", 3)]["name"] == "Tessivo Lottie"
    assert tracks[("video", 4)]["name"] == "Tessivo Lottie 2"
    assert [(s, e, n) for s, e, n, _, _ in tracks[("video", 3)]["items"]] == [
        (90000, 90075, "Tessivo Lottie 001 - Un"), (90075, 90100, "Tessivo Lottie 003 - Trois")]
    assert [(s, n) for s, _, n, _, _ in tracks[("video", 4)]["items"]] == [(90025, "Tessivo Lottie 002 - Deux")]


def test_a_dropped_block_fails_and_says_what_stands_on_the_timeline(delivery):
    delivery.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # Resolve adds no track, so the blocks go to the existing track 1, where a
    # clip holds 01:00:02:00; it answers the dropped append with an item anyway.
    delivery.sim("add-clip", "--start", "50", "--duration", "10", "--track", 1)
    delivery.sim("set", "overlap-phantom", "true")
    delivery.sim("fault", "set", "AddTrack", "false", "--times", 1)
    params = delivery.request(25, [block("Premier", 0, 1), block("Second", 2, 1)])
    code, payload, _ = delivery.deliver(params)
    assert code == 1
    assert payload["success"] is False and payload["message"] == NOT_ALL_PLACED
    assert "« Second »" in payload["details"] and "« Premier »" not in payload["details"]
    assert "piste vidéo 1 : 1 élément" in payload["details"]
    _, tracks = delivery.timeline()
    assert [s for s, *_ in tracks[("video", 1)]["items"]] == [90000, 90050]


def test_an_error_after_placement_reports_what_stands_on_the_timeline(delivery):
    delivery.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    # Every GetName() raises: the timeline's name is read only once the blocks are placed.
    delivery.sim("fault", "set", "GetName", "raise", "--args", "[]")
    code, payload, _ = delivery.deliver(delivery.request(25, [block("Un", 0, 1), block("Deux", 2, 1)]))
    assert code == 1
    assert payload["message"] == "Erreur pendant l'envoi Lottie vers DaVinci Resolve."
    assert "Traceback" in payload["details"]
    assert payload["details"].endswith("Placés sur la timeline : piste vidéo 2 : 2 éléments.")
    _, tracks = delivery.timeline()
    assert [s for s, *_ in tracks[("video", 2)]["items"]] == [90000, 90050]


@pytest.mark.parametrize("setup, refused", [
    ([("set", "profile", "20.2")], "Tessivo_Lottie_001_Un.lottie"),
    ([("fault", "set", "ImportMedia", "value", "--value", "[]", "--times", 1)], "Tessivo_Lottie_001_Un.lottie"),
    # The first archive is in the Media Pool already; the timeline is still untouched.
    ([("fault", "set", "ImportMedia", "value", "--value", "[]", "--after", 1, "--times", 1)],
     "Tessivo_Lottie_002_Deux.lottie"),
])
def test_a_refused_archive_leaves_the_timeline_untouched(delivery, setup, refused):
    delivery.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    for command in setup:
        delivery.sim(*command)
    before = delivery.timeline()
    code, payload, err = delivery.deliver(delivery.request(25, [block("Un", 0, 1), block("Deux", 2, 1)]))
    assert code == 1 and REFUSED in err
    assert payload == {"success": False, "mode": "lottie", "message": REFUSED, "details": None,
                       "filePath": payload["filePath"]}
    assert os.path.basename(payload["filePath"]) == refused
    assert delivery.timeline() == before


@pytest.mark.parametrize("setup, extra_env, message", [
    (("set", "running", "false"), {}, NOT_RUNNING),
    # Every limit is scaled down: the 35-second limit becomes 1.75 s.
    (("fault", "set", "AddTrack", "hang", "--seconds", 30), {"TESSIVO_TIME_LIMIT_SCALE": "0.05"},
     "DaVinci n'a pas répondu après"),
])
def test_resolve_away_or_hanging(delivery, setup, extra_env, message):
    delivery.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    before = delivery.timeline()
    delivery.sim(*setup)
    code, payload, _ = delivery.deliver(delivery.request(25, [block("Un", 0, 1)]), extra_env)
    assert code == 1
    assert payload["success"] is False and payload["mode"] == "lottie"
    assert payload["message"].startswith(message)
    assert delivery.timeline() == before


def test_request_errors_answer_without_touching_resolve(delivery):
    delivery.sim("init", "--fps", "25")
    before = delivery.timeline()
    # Each case three times: the command must also end cleanly when the answer
    # comes while the export queue is still finishing its work.
    for params, message in 3 * [
        (delivery.request(25, [block("Un", 0, 1)], end=0), "La plage Lottie est vide."),
        (delivery.request(25, [block("Un", 20, 1)]), "Aucun bloc Lottie compatible dans la plage exportée."),
        (delivery.request(25, "pas une liste"), "Les blocs Lottie sont introuvables."),
    ]:
        code, payload, _ = delivery.deliver(params)
        assert (code, payload) == (1, {"success": False, "mode": "lottie", "message": message})
    assert delivery.timeline() == before


def test_request_while_a_render_runs_gets_no_answer(delivery):
    delivery.sim("init", "--fps", "25")
    before = delivery.timeline()
    render = {"width": 160, "height": 90, "start": 0, "end": 1, "fps": 25, "format": "mov", "renderer": "native",
              "bg": "transparent", "sequences": [block("Rendu", 0, 1)]}
    lines = [{"type": "startRender", "payload": render},
             {"type": "exportResolveLottie", "payload": delivery.request(25, [block("Un", 0, 1)])}]
    text = "".join(json.dumps(line) + "\n" for line in lines)
    done = subprocess.run([CLI, "bridge", "--save-to", str(delivery.tmp / "render.mov")], input=text.encode(),
                          capture_output=True, env=delivery.env, timeout=120)
    assert done.returncode == 0, done.stderr.decode()
    functions = [json.loads(l).get("function") for l in done.stdout.decode().splitlines() if l.strip()]
    assert "window.onResolveExportComplete" not in functions
    assert os.path.isfile(delivery.tmp / "render.mov")
    assert delivery.timeline() == before


@pytest.mark.parametrize("args", [[], ["lottie"], ["nowhere", "p.json"]])
def test_deliver_usage(args):
    done = subprocess.run([CLI, "deliver"] + args, capture_output=True)
    assert done.returncode == 2 and "Usage" in done.stderr.decode()
