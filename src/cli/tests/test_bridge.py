"""The headless bridge end to end: envelopes in on standard input, callbacks out
on standard output, against the Resolve simulator through the real runner."""
import json
import os
import subprocess

import pytest

ROOT = os.environ.get("TESSIVO_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
CLI = os.environ.get("TESSIVO_CLI") or os.path.join(ROOT, "build", "tessivo-cli")
SIM = os.path.join(ROOT, "tools", "resolve-sim", "resolve-sim")
SCRIPTING = os.path.join(ROOT, "tools", "resolve-sim", "Scripting")
LIBRARY = os.path.join(ROOT, "tools", "resolve-sim", "libs", "Fusion", "fusionscript.so")
DEMO_SRT = os.path.join(ROOT, "tools", "resolve-sim", "samples", "demo.srt")

SRT = """1
00:00:00,000 --> 00:00:02,000
Premier

2
00:00:03,000 --> 00:00:04,000
Deuxième
ligne

"""


class Bridge:
    def __init__(self, tmp_path):
        self.state = str(tmp_path / "resolve.json")
        self.tmp = tmp_path
        self.env = dict(os.environ)
        self.env.update({
            "TESSIVO_RESOLVE_SIM_STATE": self.state,
            "TESSIVO_RESOLVE_SCRIPT_API": SCRIPTING,
            "TESSIVO_SETTINGS_FILE": str(tmp_path / "settings.ini"),
        })
        self.env.pop("PYTHONPATH", None)
        self.env.pop("RESOLVE_SCRIPT_LIB", None)

    def sim(self, *args):
        subprocess.run(["/usr/bin/python3", SIM, "--state", self.state] + [str(a) for a in args],
                       check=True, capture_output=True, env=self.env)

    def srt(self, text, name="a.srt"):
        path = self.tmp / name
        path.write_text(text, encoding="utf-8")
        return str(path)

    def run(self, lines, extra_env=None, timeout=120):
        env = dict(self.env)
        env.update(extra_env or {})
        text = "".join((l if isinstance(l, str) else json.dumps(l)) + "\n" for l in lines)
        done = subprocess.run([CLI, "bridge"], input=text.encode(), capture_output=True, env=env, timeout=timeout)
        assert done.returncode == 0, done.stderr.decode()
        out = [json.loads(l) for l in done.stdout.decode().splitlines() if l.strip()]
        return out, done.stderr.decode()


@pytest.fixture
def bridge(tmp_path):
    return Bridge(tmp_path)


def imported(out):
    assert [c["function"] for c in out] == ["window.onResolveSubtitlesImported"], out
    return out[0]["payload"]


def test_garbage_lines_are_survived_and_each_message_answers_once(bridge):
    bridge.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    bridge.sim("load-srt", DEMO_SRT, "--track", 1)
    out, err = bridge.run([
        "not json at all",
        "[1, 2]",
        '"text"',
        {"type": "noSuchMessage", "payload": {}},
        {"type": "openExternal", "payload": {"url": "file:///etc/passwd"}},
        {"type": "importResolveSubtitles"},
        {"type": "importResolveSubtitles", "payload": {"trackIndices": [1]}},
    ])
    assert "ligne 1 ignorée" in err and "ligne 2 ignorée" in err and "ligne 3 ignorée" in err
    assert [c["function"] for c in out] == ["window.onResolveSubtitlesImported"] * 2
    first = out[0]["payload"]
    assert first["success"] is True
    assert list(first) == ["success", "timelineName", "timelineId", "fps", "subtitleTracks", "count", "subtitles"]
    assert first["fps"] == 25.0 and first["subtitleTracks"] == [1]
    assert first["count"] == len(first["subtitles"]) >= 5
    s = first["subtitles"][0]
    assert s["id"] == "resolve_st1_001" and s["text"] == "Bonjour à tous, et bienvenue !"
    assert s["start"] == pytest.approx(1.0) and s["duration"] == pytest.approx(2.2, abs=0.04)
    assert s["startFrame"] == pytest.approx(90000 + 25)
    assert out[1]["payload"] == first


@pytest.mark.parametrize("fps, expected", [("29.97 DF", 29.97), ("25", 25.0), ("23.976", 23.976)])
def test_tracks_and_frame_rates(bridge, fps, expected):
    bridge.sim("init", "--fps", fps)
    bridge.sim("load-srt", bridge.srt(SRT), "--track", 1)
    bridge.sim("load-srt", bridge.srt(SRT, "b.srt"), "--track", 2, "--disabled")
    bridge.sim("load-srt", bridge.srt(SRT, "c.srt"), "--track", 3)
    out, _ = bridge.run([
        {"type": "importResolveSubtitles", "payload": {}},
        {"type": "importResolveSubtitles", "payload": {"trackIndices": [2, 2, 1]}},
        {"type": "importResolveSubtitles", "payload": {"trackIndices": [4]}},
    ])
    default, listed, missing = (c["payload"] for c in out)
    assert default["fps"] == pytest.approx(expected)
    assert default["subtitleTracks"] == [1, 3]
    assert [s["subtitleTrack"] for s in default["subtitles"]] == [1, 3, 1, 3]
    assert default["subtitles"][2]["text"] == "Deuxième\nligne"
    assert listed["subtitleTracks"] == [1, 2]
    assert missing == {"success": False,
                       "message": "Une piste de sous-titres importée a été supprimée. Relance l’import depuis la piste source.",
                       "details": None}


def test_resolve_not_reachable(bridge):
    bridge.sim("init", "--fps", "24")
    bridge.sim("set", "running", "false")
    payload = imported(bridge.run([{"type": "importResolveSubtitles"}])[0])
    assert payload["success"] is False
    assert payload["message"].startswith("Pont DaVinci indisponible.")


@pytest.mark.parametrize("mode, args", [("hang", ["--seconds", "30"]), ("exit", ["--code", "3"])])
def test_runner_failures_reach_the_bridge_error_callback(bridge, mode, args):
    bridge.sim("init", "--fps", "24")
    bridge.sim("load-srt", bridge.srt(SRT), "--track", 1)
    bridge.sim("fault", "set", "GetTrackCount", mode, *args)
    # Every limit is scaled down so that the 120-second import limit is 2.4 s here.
    out, _ = bridge.run([{"type": "importResolveSubtitles"}], {"TESSIVO_TIME_LIMIT_SCALE": "0.02"})
    assert [c["function"] for c in out] == ["window.onResolveBridgeError"]
    assert list(out[0]["payload"]) == ["message"]
    if mode == "hang":
        assert out[0]["payload"]["message"].startswith("DaVinci n'a pas répondu après 2s.")


def test_save_panel_answer_is_optional(bridge):
    out, _ = bridge.run([{"type": "fusionLiveBuildBegin"}])
    assert out == []


def test_positions_zero_length_and_items_before_the_start(bridge):
    bridge.sim("init", "--fps", "24", "--start-timecode", "01:00:00:00")
    # Cue 1 lands two seconds before the timeline start; cue 2 has no text.
    bridge.sim("load-srt", bridge.srt("1\n00:00:00,000 --> 00:00:01,000\nAvant\n\n"
                                      "2\n00:00:03,000 --> 00:00:04,000\n \n\n"
                                      "3\n00:00:05,000 --> 00:00:06,000\nVide avant moi\n\n"
                                      "4\n00:00:07,000 --> 00:00:09,000\nDurée seule\n\n"), "--track", 2, "--offset=-48")
    # Resolve can answer an end equal to the start: the item's duration then
    # decides, and with no duration either the entry lasts 0.05 s.
    with open(bridge.state, encoding="utf-8") as f:
        state = json.load(f)
    items = state["projects"][0]["timelines"][0]["tracks"]["subtitle"][1]["items"]
    items[3]["end"] = items[3]["start"]
    with open(bridge.state, "w", encoding="utf-8") as f:
        json.dump(state, f)
    bridge.sim("fault", "set", "GetDuration", "value", "--value", "48", "--times", "1000")

    payload = imported(bridge.run([{"type": "importResolveSubtitles", "payload": {"trackIndices": [2]}}])[0])
    by_text = {s["text"]: s for s in payload["subtitles"]}
    assert [s["id"] for s in payload["subtitles"]] == ["resolve_st2_001", "resolve_st2_003", "resolve_st2_004"]
    assert by_text["Avant"]["start"] == 0
    assert by_text["Avant"]["startFrame"] == 86400 - 48
    assert by_text["Vide avant moi"]["start"] == pytest.approx(3.0)
    assert by_text["Durée seule"]["duration"] == pytest.approx(2.0)
    assert by_text["Durée seule"]["endFrame"] == by_text["Durée seule"]["startFrame"] + 48


def nested(depth):
    return "[" * depth + "1" + "]" * depth


@pytest.mark.parametrize("depth", [257, 60000])
def test_deeply_nested_messages_are_refused_and_the_bridge_goes_on(bridge, depth):
    bridge.sim("init", "--fps", "25")
    bridge.sim("load-srt", bridge.srt(SRT), "--track", 1)
    deep = nested(depth)
    out, err = bridge.run([
        '{"type": "startRender", "payload": {"sequences": %s}}' % deep,
        '{"type": "frameReady", "payload": {"k": %s}}' % deep,
        '{"type": "importResolveSubtitles", "payload": {"trackIndices": [1], "x": %s}}' % deep,
        {"type": "importResolveSubtitles", "payload": {"trackIndices": [1]}},
    ])
    assert err.count("JSON refusé : plus de 256 niveaux imbriqués") == 3, err
    # Only the last, ordinary message is answered.
    assert imported(out)["count"] == 2


# The simulated Resolve's garbage text holds a NUL byte among other noise.
GARBAGE = "\x1b[31m##### fusionscript: lost connection {\"__ORVEL_JSON__\" ~~~ \x00\x07 #####"


@pytest.mark.parametrize("faults, function, payload", [
    # Noise before the answer does not hide it.
    ([["GetTrackCount", "garbage"]], "window.onResolveSubtitlesImported", None),
    # Noise and then no answer: the editor is shown what was printed.
    ([["scriptapp", "garbage"], ["GetProjectManager", "exit", "--code", "3"]], "window.onResolveBridgeError",
     {"message": GARBAGE + "\n"}),
    # Output that is not UTF-8 counts as no output at all.
    ([["GetTrackCount", "badutf8"]], "window.onResolveBridgeError",
     {"message": "DaVinci Resolve n'a pas renvoye de reponse."}),
    ([["scriptapp", "badutf8"], ["GetProjectManager", "exit", "--code", "4"]], "window.onResolveBridgeError",
     {"message": "DaVinci Resolve n'a pas renvoye de reponse."}),
])
def test_unreadable_output_of_resolve(bridge, faults, function, payload):
    bridge.sim("init", "--fps", "24")
    bridge.sim("load-srt", bridge.srt(SRT), "--track", 1)
    for fault in faults:
        bridge.sim("fault", "set", *fault)
    out, _ = bridge.run([{"type": "importResolveSubtitles"}])
    assert [c["function"] for c in out] == [function]
    if payload is None:
        assert out[0]["payload"]["success"] is True and out[0]["payload"]["count"] == 2
    else:
        assert out[0]["payload"] == payload


def _installation(tmp_path, with_library=True):
    """An installation laid out as Resolve's ISO installer lays out /home/resolve,
    its scripting folder being the simulator's."""
    root = tmp_path / "home-resolve"
    (root / "Developer").mkdir(parents=True)
    (root / "Developer" / "Scripting").symlink_to(SCRIPTING)
    if with_library:
        (root / "libs" / "Fusion").mkdir(parents=True)
        (root / "libs" / "Fusion" / "fusionscript.so").write_bytes(open(LIBRARY, "rb").read())
    return root


@pytest.mark.parametrize("named, with_library, inherited_library, reached", [
    ("root", True, None, True),
    ("scripting folder", True, None, True),
    ("root", False, None, False),                      # the module finds no library
    ("root", False, LIBRARY, True),                    # the user's RESOLVE_SCRIPT_LIB is kept
    ("root", True, "/nonexistent/fusionscript.so", False),
])
def test_resolve_installed_under_another_root(bridge, tmp_path, named, with_library, inherited_library, reached):
    bridge.sim("init", "--fps", "24")
    bridge.sim("load-srt", bridge.srt(SRT), "--track", 1)
    root = _installation(tmp_path, with_library)
    env = {"TESSIVO_RESOLVE_SCRIPT_API": str(root if named == "root" else root / "Developer" / "Scripting")}
    if inherited_library:
        env["RESOLVE_SCRIPT_LIB"] = inherited_library
    payload = imported(bridge.run([{"type": "importResolveSubtitles"}], env)[0])
    if reached:
        assert payload["success"] is True and payload["count"] == 2
    else:
        assert payload["success"] is False and payload["message"].startswith("Pont DaVinci indisponible.")


def test_resolve_20_2_import_keeps_the_timings_and_warns(bridge):
    bridge.sim("init", "--fps", "24", "--profile", "20.2")
    bridge.sim("load-srt", bridge.srt(SRT), "--track", 1)
    payload = imported(bridge.run([{"type": "importResolveSubtitles"}])[0])
    assert payload["success"] is True
    assert [(s["text"], s["start"], s["duration"]) for s in payload["subtitles"]] == [
        ("Subtitle", 0.0, 2.0), ("Subtitle", 3.0, 1.0)]
    assert "20.2.1" in payload["warning"]
