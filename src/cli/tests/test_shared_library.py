"""The shared library end to end: the bridge, the library resource and its
preview chain against the simulator's Power Bins."""
import json
import os
import subprocess
import time

import pytest

from test_library import CLI, SCRIPTING, Library

PROGRESS = "window.onFusionSharedLibraryProgress"
RESULT = "window.onFusionSharedLibraryResult"
LOADED = "window.onFusionLibraryLoaded"


@pytest.fixture
def lib(tmp_path):
    library = Library(tmp_path)
    library.sim("init", "--fps", "24", "--start-timecode", "01:00:00:00")
    library.sim("bin", "Power Bins", "--current")
    return library


def calls(lib, *types):
    return [(c["function"], c["payload"]) for c in lib.run([{"type": t} for t in types]) if "function" in c]


def shared_ids(lib):
    return json.loads((lib.root / "shared-library.json").read_text())["ids"]


def remove_from_bin(lib, name):
    """Deletes the bin's clip `name` the way a user would, through the API."""
    code = ("import DaVinciResolveScript as d\n"
            "pool = d.scriptapp('Resolve').GetProjectManager().GetCurrentProject().GetMediaPool()\n"
            "def walk(f):\n"
            "    for c in f.GetClipList():\n"
            "        if c.GetName() == %r: assert pool.DeleteClips([c])\n"
            "    for s in f.GetSubFolderList(): walk(s)\n"
            "walk(pool.GetCurrentFolder())\n" % name)
    env = dict(lib.env, PYTHONPATH=os.path.join(SCRIPTING, "Modules"), RESOLVE_SCRIPT_API=SCRIPTING,
               RESOLVE_SCRIPT_LIB=os.path.join(os.path.dirname(SCRIPTING), "libs", "Fusion", "fusionscript.so"))
    subprocess.run(["/usr/bin/python3", "-c", code], env=env, check=True)


def test_create_with_three_effects_then_scan_after_a_removal(lib):
    out = calls(lib, "fusionSharedLibraryCreate")
    progress = [p["message"] for f, p in out if f == PROGRESS]
    assert progress == ["Aperçu %d/3 · calcul dans Resolve…" % i for i in (1, 2, 3)]
    assert [f for f, _ in out][-2:] == [LOADED, RESULT]
    result = out[-1][1]
    assert result["success"] is True and result["created"] == 3
    ids = ["shared-builtin-pop-clean", "shared-builtin-slide-kinetic", "shared-builtin-typewriter"]
    assert shared_ids(lib) == ids
    visible = out[-2][1]["effects"]
    assert sorted(e["id"] for e in visible if e["id"].startswith("shared-")) == ids
    assert all(e["hasResolvePreview"] for e in visible if e["id"].startswith("shared-"))
    # The editor's list hides the effects outside the shared set.
    assert not any(e["id"].startswith("builtin-") for e in visible)

    # Created again: nothing new in Resolve, nothing left to preview.
    again = calls(lib, "fusionSharedLibraryCreate")
    assert [f for f, _ in again] == [LOADED, RESULT] and again[-1][1]["created"] == 0

    remove_from_bin(lib, "Slide Kinetic")
    scanned = calls(lib, "fusionSharedLibraryScan")
    assert scanned[-1][1]["success"] is True
    assert shared_ids(lib) == ["shared-builtin-pop-clean", "shared-builtin-typewriter"]


def test_a_failing_preview_warns_and_the_chain_goes_on(lib):
    # Each preview exports 12 stills: the second effect's all fail.
    lib.sim("fault", "set", "ExportCurrentFrameAsStill", "false", "--after", "12", "--times", "12")
    out = calls(lib, "fusionSharedLibraryCreate")
    progress = [p for f, p in out if f == PROGRESS]
    assert [p.get("warning", False) for p in progress] == [False, False, True, False]
    assert "aucune image" in progress[2]["message"]
    assert out[-1][0] == RESULT and out[-1][1]["success"] is True


def test_without_a_power_bin_current_the_operation_fails_once(lib):
    lib.sim("bin", "Master", "--current")
    out = calls(lib, "fusionSharedLibraryScan")
    assert [f for f, _ in out] == [RESULT]
    assert out[0][1]["success"] is False and "Chutiers partagés" in out[0][1]["message"]


def test_second_operation_and_still_preview_while_busy(lib):
    lib.sim("fault", "set", "GetMediaPool", "hang", "--seconds", "2", "--times", "1")
    bridge = subprocess.Popen([CLI, "bridge"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=lib.env)
    bridge.stdin.write(b'{"type": "fusionSharedLibraryScan"}\n')
    bridge.stdin.flush()
    time.sleep(0.8)
    bridge.stdin.write(b'{"type": "fusionSharedLibraryCreate"}\n'
                       b'{"type": "exportResolveStillPreview", "payload": {"requestId": "S"}}\n')
    bridge.stdin.close()
    lines = [json.loads(l) for l in bridge.stdout.read().decode().splitlines() if l.strip()]
    assert bridge.wait(timeout=60) == 0
    out = [(c["function"], c["payload"]) for c in lines if "function" in c]
    assert out[0] == ("window.onResolvePreviewCaptured", {"requestId": "S", "success": False, "stale": True})
    assert [f for f, _ in out].count(RESULT) == 1
    assert out[-1][1]["success"] is True and "created" not in out[-1][1], "the create was dropped"


def test_missing_module_fails_through_the_runner(lib, tmp_path):
    resources = tmp_path / "resources"
    resources.mkdir()
    out = [(c["function"], c["payload"]) for c in
           lib.run([{"type": "fusionSharedLibraryScan"}], extra_env={"TESSIVO_RESOURCES": str(resources)})
           if "function" in c]
    assert len(out) == 1 and out[0][0] == RESULT
    assert out[0][1]["success"] is False and "Module bibliothèque absent." in out[0][1]["message"]


def test_refresh_of_a_shared_effect_goes_through_the_shared_library(lib):
    calls(lib, "fusionSharedLibraryCreate")
    frames = lib.root / "shared-builtin-typewriter" / "preview"
    for frame in frames.iterdir():
        frame.unlink()
    out = [(c["function"], c["payload"]) for c in
           lib.run([{"type": "fusionRefreshPreview", "payload": {"id": "shared-builtin-typewriter"}}]) if "function" in c]
    assert [f for f, _ in out] == [LOADED, RESULT]
    assert out[-1][1]["success"] is True and out[-1][1]["id"] == "shared-builtin-typewriter"
    assert len(list(frames.iterdir())) == 12
    typewriter = next(e for e in out[0][1]["effects"] if e["id"] == "shared-builtin-typewriter")
    assert len(typewriter["previewFrames"]) == 12


def test_scan_takes_in_a_title_someone_put_into_the_bin(lib):
    calls(lib, "fusionSharedLibraryScan")  # makes the bin
    code = ("import DaVinciResolveScript as d\n"
            "r = d.scriptapp('Resolve'); p = r.GetProjectManager().GetCurrentProject(); pool = p.GetMediaPool()\n"
            "b = [f for f in pool.GetCurrentFolder().GetSubFolderList() if f.GetName() == 'Tessivo'][0]\n"
            "assert pool.SetCurrentFolder(b)\n"
            "t = pool.CreateEmptyTimeline('Titre maison'); assert p.SetCurrentTimeline(t)\n"
            "assert t.InsertFusionTitleIntoTimeline('Text+')\n")
    env = dict(lib.env, PYTHONPATH=os.path.join(SCRIPTING, "Modules"), RESOLVE_SCRIPT_API=SCRIPTING,
               RESOLVE_SCRIPT_LIB=os.path.join(os.path.dirname(SCRIPTING), "libs", "Fusion", "fusionscript.so"))
    subprocess.run(["/usr/bin/python3", "-c", code], env=env, check=True)
    out = calls(lib, "fusionSharedLibraryScan")
    assert out[-1][1]["success"] is True and out[-1][1]["found"] == 1
    [found] = shared_ids(lib)
    assert found.startswith("shared-")
    metadata = json.loads((lib.root / found / "metadata.json").read_text())
    assert metadata["name"] == "Titre maison" and "TextPlus" in (lib.root / found / "template.setting").read_text()
    assert [p["message"] for f, p in out if f == PROGRESS] == ["Aperçu 1/1 · calcul dans Resolve…"]


def test_a_title_that_cannot_be_made_leaves_nothing_behind(lib):
    lib.sim("fault", "set", "ImportFusionComp", "none", "--times", "1")
    out = calls(lib, "fusionSharedLibraryCreate")
    assert [f for f, _ in out] == [RESULT] and out[0][1]["success"] is False
    assert "composition" in out[0][1]["message"]
    again = calls(lib, "fusionSharedLibraryCreate")
    assert again[-1][1]["success"] is True and again[-1][1]["created"] == 3
    assert len(shared_ids(lib)) == 3
