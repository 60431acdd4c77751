"""The Fusion title route end to end: "exportResolveHTML" through the headless
bridge, the real runner and the insert script, against the Resolve simulator,
whose timeline is read back after each run."""
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
DONE = "window.onResolveExportComplete"
NOT_OPEN = "DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé."


class Route:
    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.state = str(tmp_path / "resolve.json")
        self.env = dict(os.environ)
        self.env.update({
            "TESSIVO_RESOLVE_SIM_STATE": self.state,
            "TESSIVO_RESOLVE_SCRIPT_API": SCRIPTING,
            "TESSIVO_SETTINGS_FILE": str(tmp_path / "settings.ini"),
            "HOME": str(tmp_path),
            "XDG_CONFIG_HOME": str(tmp_path / "config"),
            "TMPDIR": str(tmp_path),
        })
        self.env.pop("PYTHONPATH", None)

    def sim(self, *args):
        subprocess.run(["/usr/bin/python3", SIM, "--state", self.state] + [str(a) for a in args],
                       check=True, capture_output=True, env=self.env)

    def timeline(self):
        done = subprocess.run(["/usr/bin/python3", SIM, "--state", self.state, "dump"],
                              check=True, capture_output=True, env=self.env)
        state = json.loads(done.stdout)
        project = next(p for p in state["projects"] if p["id"] == state["currentProject"])
        return next(t for t in project["timelines"] if t["id"] == project["currentTimeline"])

    def tracks(self, kind="video"):
        """Per track: its name and its items as (start, end, name, StyledText of the last composition)."""
        result = []
        for track in self.timeline()["tracks"][kind]:
            items = []
            for item in track["items"]:
                comps = item.get("comps") or []
                text = comps[-1]["setting"] if comps else ""
                styled = text.split("StyledText = Input { Value = ", 1)[1].split(", },")[0] if "StyledText" in text else None
                items.append((item["start"], item["end"], item["name"], styled))
            result.append((track.get("name"), items))
        return result

    def run(self, lines, extra_args=(), extra_env=None, timeout=120):
        env = dict(self.env)
        env.update(extra_env or {})
        text = "".join(json.dumps(line) + "\n" for line in lines)
        done = subprocess.run([CLI, "bridge"] + list(extra_args), input=text.encode(), capture_output=True,
                              env=env, timeout=timeout)
        assert done.returncode == 0, done.stderr.decode()
        return [json.loads(l) for l in done.stdout.decode().splitlines() if l.strip()]

    def export(self, payload, **kwargs):
        out = self.run([{"type": "exportResolveHTML", "payload": payload}], **kwargs)
        assert [c["function"] for c in out] == [DONE], out
        return out[0]["payload"]


@pytest.fixture
def route(tmp_path):
    return Route(tmp_path)


def block(text, start, duration):
    return {"text": text, "startTime": start, "duration": duration, "size": 8, "x": 50, "y": 80}


def request(blocks, end=4000, fps=30, sfx=None):
    payload = {"start": 0, "end": end, "fps": fps, "width": 1920, "height": 1080, "sequences": blocks}
    if sfx is not None:
        payload["sfxEvents"] = sfx
    return payload


def wav_url(seconds=1.0):
    data = io.BytesIO()
    with wave.open(data, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(8000)
        out.writeframes(b"\0\0" * int(8000 * seconds))
    return "data:audio/wav;base64," + base64.b64encode(data.getvalue()).decode()


# Blocks late in the first hour included: there a timecode counted at the
# rounded rate lands seconds away from the frame on a drop-frame timeline.
BLOCKS = [block("Début", 2.0, 2.0), block("Milieu", 600.5, 1.0), block("Tard", 3000.0, 1.5), block("", 3559.0, 0.5)]


@pytest.mark.parametrize("fps, start, rate", [
    ("25", 90000, 25.0),
    ("29.97 DF", 107892, 29.97),
    ("23.976", 86400, 23.976),
])
@pytest.mark.parametrize("marks_refused", [False, True])
def test_titles_land_on_their_frames(route, fps, start, rate, marks_refused):
    route.sim("init", "--fps", fps, "--start-timecode", "01:00:00:00")
    if marks_refused:
        # Without marks the insert goes to the playhead, set from a timecode.
        route.sim("fault", "set", "SetMarkInOut", "false")
    result = route.export(request(BLOCKS))
    assert result == {"success": True, "message": "Blocs Fusion natifs ajoutés dans DaVinci.",
                      "timelineName": "Timeline 1", "videoTrack": 2, "videoTracks": [2], "clipCount": 4,
                      "fusionClipCount": 4, "sfxCount": 0, "warning": None, "subtitleTrackDisabled": False,
                      "renderer": "resolve-fusion"}
    (_, v1), (name, items) = route.tracks()
    assert v1 == [] and name == "Tessivo Fusion"
    starts = [start + round(b["startTime"] * rate) for b in BLOCKS]
    assert [i[0] for i in items] == starts
    if not marks_refused:
        lengths = [max(1, round(b["duration"] * rate)) for b in BLOCKS]
        assert [i[1] - i[0] for i in items] == lengths
    assert [i[2] for i in items] == ["Tessivo Fusion 001 - Début", "Tessivo Fusion 002 - Milieu",
                                     "Tessivo Fusion 003 - Tard", "Tessivo Fusion 004 - 004"]
    assert [i[3] for i in items] == ['"Début"', '"Milieu"', '"Tard"', '""']
    assert route.timeline()["marks"] == {}


def test_overlapping_blocks_get_further_lanes(route):
    route.sim("init", "--fps", "25", "--subtitle-tracks", "1")
    blocks = [block("A", 1, 3), block("B", 2, 3), block("C", 2.5, 1), block("D", 4, 1)]
    result = route.export(request(blocks, end=10))
    assert (result["success"], result["videoTrack"], result["videoTracks"], result["clipCount"]) == (True, 2, [2, 3, 4], 4)
    assert result["subtitleTrackDisabled"] is True
    assert route.timeline()["tracks"]["subtitle"][0]["enabled"] is False
    tracks = [(name, [(i[0] - 90000, i[1] - 90000, i[3]) for i in items]) for name, items in route.tracks()[1:]]
    assert tracks == [("Tessivo Fusion", [(25, 100, '"A"'), (100, 125, '"D"')]),
                      ("Tessivo Fusion 2", [(50, 125, '"B"')]),
                      ("Tessivo Fusion 3", [(62, 87, '"C"')])]


def test_a_build_that_cannot_list_tracks_is_checked_item_by_item(route):
    # Some builds answer None for a track's item list: each item's own place counts then.
    route.sim("init", "--fps", "25")
    route.sim("fault", "set", "GetItemListInTrack", "none")
    result = route.export(request([block("A", 1, 1), block("B", 1.5, 1)], end=10,
                                  sfx=[{"dataUrl": wav_url(0.5), "start": 2, "name": "S"}]))
    assert (result["success"], result["videoTracks"], result["clipCount"], result["sfxCount"]) == (True, [2, 3], 2, 1)
    route.sim("fault", "clear")
    assert [[i[0] - 90000 for i in items] for _, items in route.tracks()] == [[], [25], [38]]


def test_sound_effects_are_checked_and_spread_over_lanes(route):
    route.sim("init", "--fps", "25")
    sfx = [{"dataUrl": wav_url(1.0), "start": 1.0, "name": " Boum ", "volume": 0.5},
           {"dataUrl": wav_url(1.0), "start": 1.5, "name": "", "volume": 2},
           {"dataUrl": "pas une url", "start": 3.0, "name": "Perdu"}]
    result = route.export(request([block("A", 1, 2)], end=10, sfx=sfx))
    assert (result["success"], result["sfxCount"], result["warning"]) == (True, 2, None)
    audio = route.tracks("audio")
    assert [(name, [(i[0] - 90000, i[2]) for i in items]) for name, items in audio[1:]] == [
        ("Tessivo SFX", [(25, "Tessivo SFX - Boum")]),
        ("Tessivo SFX 2", [(38, "Tessivo SFX - SFX")])]
    # "Volume" is no item property: the levels reach Resolve in dB (a volume above 1 counts as 1).
    levels = [item["properties"].get("AudioVolume") for track in route.timeline()["tracks"]["audio"]
              for item in track["items"]]
    assert [round(level, 2) for level in levels] == [-6.02, 0.0]


@pytest.mark.parametrize("fault, message, details, left", [
    # The second composition is created but its style is not imported.
    (("ImportFusionComp", "none", "--after", "1"),
     "Le clip Fusion est créé, mais Resolve n'a pas importé le style Tessivo.",
     "Déjà placés : piste vidéo 2 : 2 éléments", ['"A"', None]),
    (("InsertFusionCompositionIntoTimeline", "none", "--after", "2"),
     "DaVinci n'a pas créé le clip Fusion. Vérifie que tu es sur la page Edit et qu'une timeline est active.",
     "Déjà placés : piste vidéo 2 : 2 éléments", ['"A"', '"B"']),
    (("InsertFusionCompositionIntoTimeline", "raise", "--after", "1"),
     "DaVinci a refusé la création d'une composition Fusion.",
     "simulated failure in InsertFusionCompositionIntoTimeline\nDéjà placés : piste vidéo 2 : 1 élément", ['"A"']),
])
def test_a_failure_tells_what_was_placed(route, fault, message, details, left):
    route.sim("init", "--fps", "25")
    route.sim("fault", "set", *fault)
    result = route.export(request([block("A", 1, 1), block("B", 3, 1), block("C", 5, 1)], end=10))
    assert (result["success"], result["message"], result["details"]) == (False, message, details)
    assert result["filePath"].endswith(".setting")
    # What stays on the timeline is what the details say.
    (_, v1), (name, items) = route.tracks()
    assert v1 == [] and name == "Tessivo Fusion"
    assert [i[3] for i in items] == left


SOUNDS = [{"dataUrl": wav_url(0.5), "start": 1.0, "name": "Un"}, {"dataUrl": wav_url(0.5), "start": 4.0, "name": "Deux"}]


@pytest.mark.parametrize("fault, count, warning, audio_tracks", [
    (("AppendToTimeline", "none"), 0, "Les clips Fusion sont placés, mais DaVinci n'a pas importé les SFX.", 2),
    (("ImportMedia", "raise"), 0, "Les clips Fusion sont placés, mais DaVinci n'a pas importé les SFX.", 2),
    # The second sound is refused on its lane and on a new one, which is removed again.
    (("AppendToTimeline", "none", "--after", "1"), 1,
     "Les clips Fusion sont placés, mais DaVinci n'a pas placé ces SFX : Deux.", 2),
    (("AddTrack", "raise", "--args", '["audio"]'), 0,
     "Les clips Fusion sont placés, mais l'import SFX a échoué: simulated failure in AddTrack", 1),
])
def test_sound_failures_warn_and_keep_the_titles(route, fault, count, warning, audio_tracks):
    route.sim("init", "--fps", "25")
    route.sim("fault", "set", *fault)
    result = route.export(request([block("A", 1, 1)], end=10, sfx=SOUNDS))
    assert (result["success"], result["clipCount"], result["sfxCount"], result["warning"]) == (True, 1, count, warning)
    audio = route.tracks("audio")
    assert len(audio) == audio_tracks and sum(len(items) for _, items in audio) == count


def test_a_title_resolve_puts_elsewhere_is_not_reported_as_placed(route):
    # This Resolve keeps inserting on V1 whatever track was added.
    route.sim("init", "--fps", "25")
    route.sim("set", "target-follows-new-track", "false")
    result = route.export(request([block("Égaré", 1, 1)], end=10))
    assert result["success"] is False
    assert result["message"] == ("DaVinci n'a pas placé le bloc Fusion 001 « Égaré » sur la piste vidéo 2 "
                                 "à l'image 90025 (reçu : piste vidéo 1, image 90025).")
    assert [items for _, items in route.tracks()] == [[], []]


@pytest.mark.parametrize("setup, payload, expected", [
    ([("set", "running", "false")], request([block("A", 1, 1)]),
     {"success": False, "message": NOT_OPEN, "details": None}),
    ([], {"start": 5, "end": 5, "sequences": []}, {"success": False, "message": "La plage d'export Resolve est vide."}),
    ([], {"start": 0, "end": 5, "sequences": "rien"},
     {"success": False, "message": "Les blocs de sous-titres sont introuvables."}),
    ([], request([block("Dehors", 20, 1), {"text": "Sans durée", "startTime": 1}], end=10),
     {"success": False, "message": "Aucun bloc visible dans la plage exportée."}),
])
def test_refusals(route, setup, payload, expected):
    route.sim("init", "--fps", "25")
    for step in setup:
        route.sim(*step)
    assert route.export(payload) == expected
    assert all(items == [] for _, items in route.tracks())


def test_a_hanging_resolve_is_cut_off(route):
    route.sim("init", "--fps", "25")
    route.sim("fault", "set", "InsertFusionCompositionIntoTimeline", "hang", "--seconds", "30")
    # Limits are scaled down: the 35-second limit becomes 1.75 s.
    result = route.export(request([block("A", 1, 1)]), extra_env={"TESSIVO_TIME_LIMIT_SCALE": "0.05"})
    assert result == {"success": False, "message": "DaVinci n'a pas répondu après 1s. Vérifie la timeline active "
                                                   "et l'autorisation de scripting externe."}
    assert all(items == [] for _, items in route.tracks())


def test_a_request_during_a_render_is_ignored(route):
    route.sim("init", "--fps", "25")
    render = {"width": 320, "height": 180, "start": 0, "end": 3, "fps": 25, "format": "mov", "renderer": "native",
              "bg": "transparent", "sequences": [block("Rendu", 0, 3)]}
    out = route.run([{"type": "startRender", "payload": render},
                     {"type": "exportResolveHTML", "payload": request([block("A", 1, 1)])}],
                    extra_args=["--save-to", str(route.tmp / "render.mov")])
    assert DONE not in [c.get("function") for c in out]
    assert all(items == [] for _, items in route.tracks())
    # Once the render is over, the same request is served.
    assert route.export(request([block("A", 1, 1)]))["clipCount"] == 1
