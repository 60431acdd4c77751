"""tessivo-cli render: an interrupted render ends cleanly, without a file."""
import json
import os
import signal
import subprocess
import time

import pytest

ROOT = os.environ.get("TESSIVO_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
CLI = os.environ.get("TESSIVO_CLI") or os.path.join(ROOT, "build", "tessivo-cli")

# An hour of one caption whose shine sweeps for the whole hour: every frame is
# drawn and encoded, so the render is still running when the signal comes.
LONG_RENDER = {
    "width": 640, "height": 360, "start": 0, "end": 3600, "fps": 60, "format": "mov",
    "renderer": "native", "bg": "transparent",
    "sequences": [{"text": "Interrompu", "startTime": 0, "duration": 3600, "animIn": "none",
                   "animOut": "none", "effect": "shine-sweep", "effectSpeed": 3600}],
}


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def start_render(tmp_path, params):
    params_path = tmp_path / "params.json"
    params_path.write_text(json.dumps(params), encoding="utf-8")
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    target = out_dir / "Kinetype_Render.mov"
    process = subprocess.Popen([CLI, "render", str(params_path), "-o", str(target)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return process, out_dir


def frames_written(out_dir):
    # The movie grows under a hidden temporary name beside the target.
    return any(name.endswith(".partial") and (out_dir / name).stat().st_size > 64 * 1024
               for name in os.listdir(out_dir))


@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
def test_an_interrupted_render_leaves_no_file(tmp_path, number):
    process, out_dir = start_render(tmp_path, LONG_RENDER)
    try:
        assert wait_for(lambda: process.poll() is not None or frames_written(out_dir), 60), "no frames written"
        assert process.poll() is None, process.stderr.read().decode()
        process.send_signal(number)
        _, err = process.communicate(timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    err = err.decode()
    # Neither the target nor the temporary file under its hidden name.
    assert os.listdir(out_dir) == [], err
    # Handled by the command itself: a French reason and the shell's status for the signal.
    assert process.returncode == 128 + number, err
    assert "rendu interrompu" in err, err
