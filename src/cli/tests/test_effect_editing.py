"""Capture, preview refresh, rename and archive of library effects, through the
headless bridge and the embedded scripts, against the Resolve simulator."""
import json
import os

import pytest

from test_library import ROOT, Library

CAPTURED = "window.onFusionEffectCaptured"
PREVIEWED = "window.onFusionEffectPreviewed"
UPDATED = "window.onFusionEffectUpdated"
DELETED = "window.onFusionEffectDeleted"
SHINE = os.path.join(ROOT, "resources", "BundledFusionEffects", "included-shine", "template.setting")


@pytest.fixture
def lib(tmp_path):
    library = Library(tmp_path)
    library.sim("init", "--fps", "24", "--start-timecode", "01:00:00:00")
    return library


def effect_folders(lib):
    if not lib.root.is_dir():
        return []
    return sorted(n for n in os.listdir(lib.root) if n.startswith("captured-"))


def capture(lib, **payload):
    return lib.ask("fusionCaptureCurrent", payload, callback=CAPTURED)


def test_capture_of_a_text_plus_title_and_its_refresh(lib):
    lib.sim("add-fusion-title", SHINE, "--name", "Shine", "--start", "0", "--duration", "12", "--track", "1")
    lib.sim("playhead", "10")
    out = capture(lib, name="  ", category="")
    assert out["success"] is True, out
    effect = out["effect"]
    assert effect["id"].startswith("captured-") and effect["id"] == effect["id"].lower()
    assert (effect["name"], effect["category"], effect["source"]) == ("Shine", "Mes effets", "captured")
    assert effect["compatibility"]["status"] == "editable" and effect["primaryTextTarget"]
    assert "TextPlus" in effect["toolTypes"] and effect["trackIndex"] == 1
    assert effect["duration"] == pytest.approx(0.5)
    # Half a second at 24 fps: the minimum of 12 samples, shrunk and inlined.
    assert len(effect["previewFramePaths"]) == 12 and effect["previewFps"] == 24
    assert len(effect["previewFrames"]) == 12 and effect["hasResolvePreview"] is True
    assert lib.timeline()["playhead"] == 86400 + 10, "the playhead goes back where it was"
    stored = json.loads((lib.root / effect["id"] / "metadata.json").read_text())
    assert stored["templatePath"] == str(lib.root / effect["id"] / "template.setting")

    refreshed = lib.ask("fusionRefreshPreview", {"id": effect["id"]}, callback=PREVIEWED)
    assert refreshed["success"] is True and len(refreshed["effect"]["previewFrames"]) == 12


@pytest.mark.parametrize("setup, message", [
    (["add-clip", "--name", "Plan", "--start", "0", "--duration", "48"],
     "Le clip sous la tête de lecture ne contient pas de composition Fusion."),
    (None, "Place la tête de lecture sur le clip Fusion à capturer."),
])
def test_capture_refused_leaves_no_folder(lib, setup, message):
    if setup:
        lib.sim(*setup)
    lib.sim("playhead", "5")
    out = capture(lib, name="X")
    assert out == {"success": False, "error": message}
    assert effect_folders(lib) == []


def test_capture_whose_preview_fails_is_still_a_usable_effect(lib):
    lib.sim("add-fusion-title", SHINE, "--name", "Shine", "--start", "0", "--duration", "12")
    lib.sim("playhead", "3")
    lib.sim("fault", "set", "ExportCurrentFrameAsStill", "false")
    out = capture(lib, name="Sans aperçu")
    assert out["success"] is True
    assert out["effect"]["compatibility"]["warnings"][-1].startswith("L'aperçu réel n'a pas pu être prélevé")
    assert out["effect"]["hasResolvePreview"] is False
    listed = lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")["effects"]
    assert "Sans aperçu" in [e["name"] for e in listed]


@pytest.mark.parametrize("effect, error", [
    ("builtin-pop-clean", "Les modèles intégrés n'ont pas de clip Resolve source à prélever."),
    ("included-shine", "Les effets inclus dans Tessivo n'ont pas de clip Resolve source à prélever."),
    ("../x", "Identifiant d'effet Fusion invalide."),
])
def test_refresh_refused_before_resolve(lib, effect, error):
    out = lib.ask("fusionRefreshPreview", {"id": effect}, callback=PREVIEWED)
    assert out == {"success": False, "error": error}


def test_rename_accepts_and_refuses(lib):
    metadata = lib.root / "builtin-typewriter" / "metadata.json"
    lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")
    out = lib.ask("fusionUpdateEffect", {"id": "builtin-typewriter", "name": " Machine ", "category": "C" * 100},
                  callback=UPDATED)
    assert out["success"] is True
    assert (out["effect"]["name"], out["effect"]["category"]) == ("Machine", "C" * 80)
    before = metadata.read_text()
    for payload in ({"name": ""}, {"name": "n" * 10000}, {"category": "a\u0007b"}):
        payload["id"] = "builtin-typewriter"
        refused = lib.ask("fusionUpdateEffect", payload, callback=UPDATED)
        assert refused["success"] is False and refused["error"], payload
        assert metadata.read_text() == before


def test_archive_twice_never_merges_in_trash(lib):
    lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")
    trash = lib.root / ".Trash"
    for n in range(2):
        # The same built-in archived, restored by hand, archived again: two folders.
        if n:
            (lib.root / ".hidden-effects.json").unlink()
            lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")
        out = lib.ask("fusionDeleteEffect", {"id": "builtin-pop-clean"}, callback=DELETED)
        assert out == {"success": True, "id": "builtin-pop-clean"}
        assert json.loads((lib.root / ".hidden-effects.json").read_text()) == ["builtin-pop-clean"]
    archived = sorted(os.listdir(trash))
    assert len(archived) == 2 and all(a.startswith("builtin-pop-clean-") for a in archived)
    assert all((trash / a / "metadata.json").is_file() for a in archived)
    assert not (lib.root / "builtin-pop-clean").exists()


def test_capture_cut_off_during_its_preview_leaves_a_usable_effect(lib):
    import signal
    import subprocess
    import time
    from test_library import CLI
    lib.sim("add-fusion-title", SHINE, "--name", "Coupé", "--start", "0", "--duration", "12")
    lib.sim("playhead", "3")
    # The preview run opens the edit page first: held there, the program is ended.
    lib.sim("fault", "set", "OpenPage", "hang", "--seconds", "20")
    bridge = subprocess.Popen([CLI, "bridge"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=lib.env,
                              start_new_session=True)
    bridge.stdin.write(json.dumps({"type": "fusionCaptureCurrent", "payload": {"name": "Coupé"}}).encode() + b"\n")
    bridge.stdin.flush()
    deadline = time.time() + 20
    while time.time() < deadline and not effect_folders(lib):
        time.sleep(0.1)
    time.sleep(1.5)
    os.killpg(bridge.pid, signal.SIGKILL)
    bridge.wait()
    lib.sim("fault", "clear")
    folders = effect_folders(lib)
    assert len(folders) == 1
    metadata = json.loads((lib.root / folders[0] / "metadata.json").read_text())
    assert metadata["name"] == "Coupé" and metadata["templatePath"].endswith("template.setting")
    listed = lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")["effects"]
    assert "Coupé" in [e["name"] for e in listed]
