import os
import subprocess
import sys

import pytest

SIM_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPTING = os.path.join(SIM_ROOT, "Scripting")
MODULES = os.path.join(SCRIPTING, "Modules")
COMMAND = os.path.join(SIM_ROOT, "resolve-sim")
# The stand-in for Resolve's native library, which the module refuses to go without.
LIBRARY = os.path.join(SIM_ROOT, "libs", "Fusion", "fusionscript.so")
if MODULES not in sys.path:
    sys.path.insert(0, MODULES)

from resolve_sim import cli  # noqa: E402


class Sim:
    """A fresh simulated Resolve in a temporary state file."""

    def __init__(self, path):
        self.path = path

    def cli(self, *args):
        code = cli.main(["--state", self.path] + [str(a) for a in args])
        assert code == 0, "resolve-sim %s failed" % " ".join(map(str, args))

    def env(self):
        env = dict(os.environ)
        env["TESSIVO_RESOLVE_SIM_STATE"] = self.path
        env["RESOLVE_SCRIPT_API"] = SCRIPTING
        env["RESOLVE_SCRIPT_LIB"] = LIBRARY
        env["PYTHONPATH"] = MODULES
        env["PYTHONIOENCODING"] = "utf-8"
        return env

    def run_python(self, code, timeout=20, *args):
        return subprocess.run(["/usr/bin/python3", "-c", code] + list(args), env=self.env(),
                              capture_output=True, timeout=timeout)

    def connect(self):
        import DaVinciResolveScript
        return DaVinciResolveScript.scriptapp("Resolve")

    def timeline(self):
        return self.connect().GetProjectManager().GetCurrentProject().GetCurrentTimeline()


@pytest.fixture
def sim(tmp_path, monkeypatch):
    path = str(tmp_path / "state.json")
    monkeypatch.setenv("TESSIVO_RESOLVE_SIM_STATE", path)
    monkeypatch.setenv("RESOLVE_SCRIPT_LIB", LIBRARY)
    s = Sim(path)
    s.cli("init", "--fps", "24")
    return s


@pytest.fixture(scope="session")
def movie(tmp_path_factory):
    """A 2-second 25 fps clip, red then blue, with a sound track."""
    folder = tmp_path_factory.mktemp("media")
    path = str(folder / "clip.mov")
    subprocess.run(["ffmpeg", "-v", "error", "-y",
                    "-f", "lavfi", "-i", "color=c=red:s=64x36:r=25:d=1",
                    "-f", "lavfi", "-i", "color=c=blue:s=64x36:r=25:d=1",
                    "-f", "lavfi", "-i", "sine=duration=2",
                    "-filter_complex", "[0:v][1:v]concat=n=2:v=1[v]", "-map", "[v]", "-map", "2:a",
                    "-c:v", "mjpeg", "-q:v", "3", "-c:a", "pcm_s16le", "-shortest", path], check=True)
    wav = str(folder / "tone.wav")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1.5", wav], check=True)
    return {"movie": path, "wav": wav, "folder": str(folder)}
