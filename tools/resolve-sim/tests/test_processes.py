import json
import os
import subprocess
import sys
import time

import pytest

from conftest import COMMAND, LIBRARY, MODULES

CONNECT = "import DaVinciResolveScript as d; r = d.scriptapp('Resolve'); " \
          "t = r.GetProjectManager().GetCurrentProject().GetCurrentTimeline(); "


def test_changes_are_seen_across_processes(sim):
    first = sim.run_python(CONNECT + "print(t.AddTrack('subtitle'), t.SetTrackName('subtitle', 1, 'Français'))")
    assert first.stdout.decode().split() == ["True", "True"]
    # The state is written at each change: a process that ends with os._exit loses nothing.
    ended = sim.run_python(CONNECT + "import os; t.SetTrackEnable('subtitle', 1, False); os._exit(0)")
    assert ended.returncode == 0
    second = sim.run_python(CONNECT + "print(t.GetTrackName('subtitle', 1), t.GetIsTrackEnabled('subtitle', 1))")
    assert second.stdout.decode("utf-8").split() == ["Français", "False"]


def test_concurrent_writers_lose_no_update(sim):
    code = CONNECT + "import sys\nfor i in range(15): t.AddMarker(int(sys.argv[1]) * 100 + i, 'Blue', 'm', '', 1)"
    procs = [subprocess.Popen(["/usr/bin/python3", "-c", code, str(n)], env=sim.env()) for n in range(3)]
    assert [p.wait(timeout=60) for p in procs] == [0, 0, 0]
    assert len(sim.timeline().GetMarkers()) == 45


@pytest.mark.parametrize("mode, extra, expect_code, expect_out", [
    ("none", [], 0, b"None"),
    ("false", [], 0, b"False"),
    ("value", ["--value", '"7"'], 0, b"'7'"),
    ("nan", [], 0, b"nan"),
    ("raise", [], 1, b""),
    ("exit", ["--code", "9"], 9, b""),
    ("garbage", [], 0, b"lost connection"),
    ("badutf8", [], 0, b"\xff\xfe"),
])
def test_fault_modes(sim, mode, extra, expect_code, expect_out):
    sim.cli("fault", "set", "GetTrackCount", mode, *extra)
    result = sim.run_python(CONNECT + "print(repr(t.GetTrackCount('video')), flush=True)")
    assert result.returncode == expect_code
    assert expect_out in result.stdout
    if mode in ("garbage", "badutf8"):
        assert result.stdout.rstrip().endswith(b"1")  # the call still answers normally afterwards
    if mode == "raise":
        assert b"simulated failure in GetTrackCount" in result.stderr


@pytest.mark.parametrize("library, loads", [
    (LIBRARY, True),
    (None, False),                                        # unset: Resolve's default path, absent here
    ("", False),
    ("/nonexistent/libs/Fusion/fusionscript.so", False),
    (os.path.join(MODULES, "DaVinciResolveScript.py"), False),  # a file, but not the library
    (os.path.dirname(LIBRARY), False),                   # a folder
])
def test_module_needs_the_library_named_by_resolve_script_lib(sim, library, loads):
    env = sim.env()
    env.pop("RESOLVE_SCRIPT_LIB")
    if library is not None:
        env["RESOLVE_SCRIPT_LIB"] = library
    result = subprocess.run(["/usr/bin/python3", "-c", CONNECT + "print(t.GetName())"], env=env,
                            capture_output=True, timeout=20)
    if loads:
        assert result.returncode == 0 and result.stdout.strip() == b"Timeline 1", result.stderr
    else:
        assert result.returncode == 1
        assert result.stderr.strip().endswith(b"ImportError: Could not locate module dependencies")


def test_hang_does_not_hold_the_state_lock(sim):
    sim.cli("fault", "set", "GetTrackCount", "hang", "--seconds", "30")
    hung = subprocess.Popen(["/usr/bin/python3", "-c", CONNECT + "t.GetTrackCount('video')"], env=sim.env())
    try:
        time.sleep(0.5)
        started = time.monotonic()
        other = sim.run_python(CONNECT + "print(t.GetName())", timeout=10)
        assert other.stdout.strip() == b"Timeline 1" and time.monotonic() - started < 5
        with pytest.raises(subprocess.TimeoutExpired):
            hung.wait(timeout=0.5)
    finally:
        hung.kill()
        hung.wait()


def test_counted_and_argument_filtered_faults(sim):
    sim.cli("fault", "set", "GetTrackCount", "none", "--times", "2", "--args", '["subtitle"]')
    t = sim.timeline()
    assert t.GetTrackCount("video") == 1  # other arguments are not affected
    assert [t.GetTrackCount("subtitle") for _ in range(3)] == [None, None, 0]
    sim.cli("fault", "set", "scriptapp", "none")
    assert sim.connect() is None
    sim.cli("fault", "clear")
    assert sim.connect() is not None
    # A fault after a count of calls: the second matching call only.
    sim.cli("fault", "set", "GetTrackCount", "value", "--value", "7", "--after", "1", "--times", "1",
            "--args", '["video"]')
    assert [t.GetTrackCount("video"), t.GetTrackCount("audio"), t.GetTrackCount("video"),
            t.GetTrackCount("video")] == [1, 1, 7, 1]


def test_command_show_and_dump(sim, tmp_path):
    srt = tmp_path / "a.srt"
    srt.write_text("1\n00:00:01,000 --> 00:00:02,500\nPremière ligne\nDeuxième\n", encoding="utf-8")
    run = lambda *a: subprocess.run([COMMAND, "--state", sim.path] + list(a), capture_output=True, timeout=30)
    assert run("load-srt", str(srt), "--track", "2", "--disabled").returncode == 0
    shown = run("show").stdout.decode("utf-8")
    assert "ST2 'Subtitle 2' disabled" in shown and "01:00:01:00 - 01:00:02:12" in shown
    assert "Première ligne / Deuxième" in shown
    state = json.loads(run("dump").stdout)
    items = state["projects"][0]["timelines"][0]["tracks"]["subtitle"][1]["items"]
    assert [(i["start"], i["end"]) for i in items] == [(86424, 86460)]
    bad = run("add-clip", "--name", "X", "--start", "nonsense")
    assert bad.returncode == 2 and b"resolve-sim:" in bad.stderr
