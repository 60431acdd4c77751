"""The timeline watch and timeline sync end to end: a live headless bridge
(standard input kept open), its watch child polling the Resolve simulator
while the test changes the simulator's state."""
import json
import os
import queue
import signal
import subprocess
import threading
import time

import pytest

ROOT = os.environ.get("TESSIVO_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
CLI = os.environ.get("TESSIVO_CLI") or os.path.join(ROOT, "build", "tessivo-cli")
RESOURCES = os.path.join(os.path.dirname(CLI), "resources")
SIM = os.path.join(ROOT, "tools", "resolve-sim", "resolve-sim")
SCRIPTING = os.path.join(ROOT, "tools", "resolve-sim", "Scripting")
PLAYHEAD = "window.onFusionPlayheadChanged"
LOADED = "window.onFusionTimelineLoaded"
WATCH_NAME = "orvel_fusion_timeline_watch_"


def watch_children(parent):
    """Watch processes whose parent is `parent`, from /proc."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read()
        except (OSError, IndexError, ValueError):
            continue
        if ppid == parent and WATCH_NAME.encode() in cmdline:
            found.append(int(entry))
    return found


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class Live:
    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.state = str(tmp_path / "resolve.json")
        self.env = dict(os.environ)
        self.env.update({
            "TESSIVO_RESOLVE_SIM_STATE": self.state,
            "TESSIVO_RESOLVE_SCRIPT_API": SCRIPTING,
            "TESSIVO_SETTINGS_FILE": str(tmp_path / "settings.ini"),
            "TESSIVO_RESOURCES": RESOURCES,
            "HOME": str(tmp_path),
            "XDG_CONFIG_HOME": str(tmp_path / "config"),
            "XDG_DATA_HOME": str(tmp_path / "data"),
            "TMPDIR": str(tmp_path),
        })
        self.env.pop("PYTHONPATH", None)
        self.env.pop("RESOLVE_SCRIPT_LIB", None)
        self.process = None
        self.lines = queue.Queue()

    def sim(self, *args):
        done = subprocess.run(["/usr/bin/python3", SIM, "--state", self.state] + [str(a) for a in args],
                              check=True, capture_output=True, env=self.env)
        return done.stdout.decode().strip()

    def fault(self, method, fault):
        """A fault written straight into the state (texts too long for a command line)."""
        with open(self.state, encoding="utf-8") as f:
            state = json.load(f)
        state["faults"][method] = fault
        with open(self.state + ".tmp", "w", encoding="utf-8") as f:
            json.dump(state, f)
        os.replace(self.state + ".tmp", self.state)

    def start(self):
        self.process = subprocess.Popen([CLI, "bridge"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=self.env)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            if raw.strip():
                self.lines.put(json.loads(raw))

    def send(self, kind, payload=None):
        message = {"type": kind}
        if payload is not None:
            message["payload"] = payload
        self.process.stdin.write((json.dumps(message) + "\n").encode())
        self.process.stdin.flush()

    def next(self, function, timeout=5.0):
        """The next callback named `function` (others are skipped)."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %s within %.1f s" % (function, timeout))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line.get("function") == function:
                return line["payload"]

    def quiet(self, function, seconds):
        """Callbacks named `function` that arrive within `seconds`."""
        got = []
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                continue
            if line.get("function") == function:
                got.append(line["payload"])
        return got

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.stdin.close()
            self.process.wait(timeout=30)


@pytest.fixture
def live(tmp_path):
    session = Live(tmp_path)
    session.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00", "--timeline", "Montage", "--project", "Clip été")
    yield session
    if session.process and session.process.poll() is None:
        session.process.kill()
        session.process.wait()


def test_each_playhead_move_is_one_change_in_order(live):
    live.start()
    live.send("fusionTimelineWatchStart")
    first = live.next(PLAYHEAD)
    assert first["success"] is True and first["timelineName"] == "Montage"
    assert first["currentFrame"] == 90000 and first["startFrame"] == 90000
    assert first["endFrame"] >= 90000 + 25 * 60 and first["fps"] == 25
    for frames in (10, 250, 251, 40, 1000):
        live.sim("playhead", frames)
        change = live.next(PLAYHEAD, timeout=1.5)
        assert change["currentFrame"] == 90000 + frames
        assert change["timelineId"] == first["timelineId"]
    # An idle Resolve produces no more lines.
    assert live.quiet(PLAYHEAD, 1.2) == []
    live.close()
    assert live.process.returncode == 0


def test_timeline_switch_and_resolve_quitting_and_coming_back(live):
    live.start()
    live.send("fusionTimelineWatchStart")
    first = live.next(PLAYHEAD)
    live.sim("timeline", "Second", "--start-timecode", "00:00:00:00")
    switched = live.next(PLAYHEAD, timeout=1.5)
    assert switched["timelineName"] == "Second" and switched["timelineId"] != first["timelineId"]
    assert switched["startFrame"] == 0

    live.sim("timeline", "--none")
    assert live.next(PLAYHEAD, timeout=1.5) == {"success": False, "needsTimeline": True, "projectName": "Clip été"}

    live.sim("timeline", "Montage")
    live.sim("set", "running", "false")
    gone = live.next(PLAYHEAD, timeout=3)
    assert gone["success"] is False and gone["needsTimeline"] is False
    live.sim("set", "running", "true")
    back = live.next(PLAYHEAD, timeout=3)
    assert back["success"] is True and back["timelineId"] == first["timelineId"]
    live.close()


@pytest.mark.parametrize("fault", [
    {"mode": "garbage", "times": 2},
    {"mode": "badutf8", "times": 2},
    {"mode": "garbage", "times": 1, "text": "__ORVEL_WATCH__{" + "x" * (1 << 20)},
    {"mode": "garbage", "times": 1, "text": "__ORVEL_WATCH__[1, 2]"},
], ids=["garbage", "invalid-utf8", "megabyte-line", "not-an-object"])
def test_unreadable_output_of_the_child_is_dropped(live, fault):
    live.fault("GetCurrentTimecode", fault)
    live.start()
    live.send("fusionTimelineWatchStart")
    first = live.next(PLAYHEAD)
    assert first["success"] is True and first["currentFrame"] == 90000
    live.sim("playhead", 25)
    assert live.next(PLAYHEAD, timeout=1.5)["currentFrame"] == 90025
    live.close()


def test_stop_and_start_in_quick_succession_keep_one_child(live):
    live.start()
    for _ in range(6):
        live.send("fusionTimelineWatchStart")
        live.send("fusionTimelineWatchStop")
        live.send("fusionTimelineWatchStart")
    live.next(PLAYHEAD)
    counts = []
    for _ in range(10):
        counts.append(len(watch_children(live.process.pid)))
        time.sleep(0.05)
    assert max(counts) == 1 and counts[-1] == 1
    live.send("fusionTimelineWatchStop")
    deadline = time.monotonic() + 3
    while watch_children(live.process.pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert watch_children(live.process.pid) == []
    # The stopped watch left no script behind.
    assert not [n for n in os.listdir(live.tmp) if n.startswith(WATCH_NAME)]
    live.close()


def test_the_child_ends_when_the_program_is_killed(live):
    live.start()
    live.send("fusionTimelineWatchStart")
    live.next(PLAYHEAD)
    children = watch_children(live.process.pid)
    assert len(children) == 1
    live.process.send_signal(signal.SIGKILL)
    live.process.wait()
    deadline = time.monotonic() + 3
    while alive(children[0]) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert not alive(children[0])


def test_the_child_ends_with_a_normal_exit(live):
    live.start()
    live.send("fusionTimelineWatchStart")
    live.next(PLAYHEAD)
    children = watch_children(live.process.pid)
    live.close()
    assert live.process.returncode == 0
    assert not alive(children[0])
    assert not [n for n in os.listdir(live.tmp) if n.startswith(WATCH_NAME)]


def test_load_and_seek_answer_with_the_snapshot(live):
    live.sim("playhead", 50)
    live.start()
    live.send("fusionTimelineLoad")
    loaded = live.next(LOADED, timeout=20)
    assert loaded["success"] is True and loaded["timelineName"] == "Montage"
    assert loaded["playheadFrame"] == 90050

    live.sim("timeline", "--none")
    live.send("fusionTimelineSeek", {})
    failed = live.next(LOADED, timeout=20)
    assert failed["success"] is False and failed["error"]
    live.close()


def test_requests_waiting_behind_a_running_sync_collapse_into_the_newest(live):
    # The first run hangs on Resolve; four more requests arrive meanwhile.
    live.sim("fault", "set", "GetCurrentTimeline", "hang", "--seconds", "2", "--times", "1")
    live.start()
    live.send("fusionTimelineLoad", {"n": 1})
    time.sleep(0.8)
    for n in range(2, 6):
        live.send("fusionTimelineSeek", {"n": n})
    replies = live.quiet(LOADED, 8)
    assert len(replies) == 1 and replies[0]["success"] is True
    live.close()


@pytest.mark.parametrize("fps,start,position,current,end", [
    ("25", "01:00:00:00", "01:00:10:00", 90250, 90000 + 1500),
    # Drop-frame: 00:01:00;02 is frame 1800 (two frame numbers skipped).
    ("29.97 DF", "00:00:00;00", "00:01:00;02", 1800, 3000),
    ("30", "00:00:00:00", "00:01:00:02", 1802, 3000),
    # Past the end of a short timeline: the range is one minute at least.
    ("30", "00:00:00:00", "00:01:10:00", 1800, 1800),
])
def test_the_reported_frame_follows_the_displayed_timecode(tmp_path, fps, start, position, current, end):
    session = Live(tmp_path)
    session.sim("init", "--fps", fps, "--start-timecode", start, "--timeline", "Montage")
    if end == 3000:
        session.sim("add-clip", "--duration", end)
    session.sim("playhead", position)
    session.start()
    try:
        session.send("fusionTimelineWatchStart")
        change = session.next(PLAYHEAD)
        assert (change["currentFrame"], change["endFrame"]) == (current, end)
        session.close()
    finally:
        if session.process.poll() is None:
            session.process.kill()


def test_the_shared_library_pauses_the_watch_and_drops_sync_requests(live):
    live.sim("bin", "Power Bins", "--current")
    live.sim("fault", "set", "GetMediaPool", "hang", "--seconds", "2", "--times", "1")
    live.start()
    live.send("fusionTimelineWatchStart")
    live.next(PLAYHEAD)
    live.send("fusionSharedLibraryScan")
    time.sleep(0.8)
    # The library holds Resolve: no watch child, and a load gets no answer.
    assert watch_children(live.process.pid) == []
    live.send("fusionTimelineLoad")
    live.next("window.onFusionSharedLibraryResult", timeout=20)
    # Afterwards the watch runs again and reports where Resolve is.
    assert live.next(PLAYHEAD, timeout=5)["success"] is True
    assert len(watch_children(live.process.pid)) == 1
    assert live.quiet(LOADED, 2) == []
    live.close()


def test_the_shared_library_starts_no_watch_that_was_not_running(live):
    live.sim("bin", "Power Bins", "--current")
    live.start()
    live.send("fusionSharedLibraryScan")
    live.next("window.onFusionSharedLibraryResult", timeout=20)
    assert live.quiet(PLAYHEAD, 2) == []
    assert watch_children(live.process.pid) == []
    live.close()
