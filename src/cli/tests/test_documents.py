"""tessivo-cli lottie / fusion: the files of a request written into a folder."""
import json
import os
import subprocess
import zipfile

import pytest

ROOT = os.environ.get("TESSIVO_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
CLI = os.environ.get("TESSIVO_CLI") or os.path.join(ROOT, "build", "tessivo-cli")

REQUEST = {"fps": 25, "width": 1920, "height": 1080, "start": 0, "end": 6, "sequences": [
    {"text": "Bonjour à tous", "startTime": 0.5, "duration": 2, "animIn": "pop", "animOut": "fade"},
    {"text": "Deuxième\nligne", "startTime": 3, "duration": 2, "hasOutline": True, "outlineWidth": 3},
]}


def run(tmp_path, command, request):
    params = tmp_path / "params.json"
    params.write_text(request if isinstance(request, str) else json.dumps(request), encoding="utf-8")
    out = tmp_path / "out"
    done = subprocess.run([CLI, command, str(params), "-o", str(out)], capture_output=True)
    return done, out


@pytest.mark.parametrize("command, key, suffix", [("lottie", "lottieClips", ".lottie"), ("fusion", "fusionClips", ".setting")])
def test_writes_one_file_per_block_and_prints_the_records(tmp_path, command, key, suffix):
    done, out = run(tmp_path, command, REQUEST)
    assert done.returncode == 0, done.stderr.decode()
    result = json.loads(done.stdout)
    records = result[key]
    assert [r["text"] for r in records] == ["Bonjour à tous", "Deuxième\nligne"]
    assert [r["start"] for r in records] == [0.5, 3.0]
    for record in records:
        assert record["filePath"].startswith(str(out)) and record["filePath"].endswith(suffix)
        assert os.path.isfile(record["filePath"])
        if suffix == ".lottie":
            with zipfile.ZipFile(record["filePath"]) as archive:
                assert sorted(archive.namelist()) == ["animations/caption.json", "manifest.json"]
    assert sorted(os.listdir(out)) == sorted(os.path.basename(r["filePath"]) for r in records)


@pytest.mark.parametrize("command", ["lottie", "fusion"])
@pytest.mark.parametrize("request_text, code", [("not json", 2), ("[1]", 2), (json.dumps({"sequences": []}), 1)])
def test_refusals_exit_non_zero_with_a_french_message(tmp_path, command, request_text, code):
    done, out = run(tmp_path, command, request_text)
    assert done.returncode == code
    assert done.stderr.decode().strip()
    assert not out.exists() or os.listdir(out) == []
