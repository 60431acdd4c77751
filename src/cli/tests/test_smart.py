"""The smart route ("exportResolveSmart") end to end against the Resolve
simulator: `tessivo-cli deliver smart` and the bridge, then what the simulated
timeline holds. Lottie-capable blocks go as dotLottie clips, the others are
rendered (natively: there is no display), cut and inserted by Exact Web."""
import json
import os
import subprocess

import pytest

from test_bridge import CLI
from test_deliver_lottie import wav_data_url
from test_exact_web import HEADLESS, ExactBridge

SMART_DONE = "Sous-titres ajoutés avec routage automatique dans DaVinci."
DIRECT_DONE = "Sous-titres directs ajoutés dans DaVinci sans encodage vidéo."
FALLBACK = "Lottie indisponible, repli Exact Web sans perte : "
LOTTIE_REFUSED = "DaVinci a refusé une animation .lottie. Utilise Exact Web pour ce bloc ou vérifie Resolve 21."
LOTTIE_PRESENT = "Les clips Lottie directs sont déjà présents, mais l'insertion Exact Web a échoué."


def block(text, start, duration, lottie):
    b = {"id": text, "text": text, "startTime": start, "duration": duration, "trackId": 0, "animIn": "none",
         "animOut": "none", "fontSize": 40}
    if lottie:
        b["lottieCapability"] = {"status": "supported"}
    return b


# Two Lottie-capable blocks and two others; the editor's rate (60) is not the timeline's.
MIXED = [block("Un", 0.5, 1.0, True), block("Deux", 2.0, 1.0, False), block("Trois", 3.5, 1.0, True),
         block("Quatre", 4.0, 1.0, False)]


class SmartDelivery(ExactBridge):
    def request(self, blocks, sfx=True):
        params = {"width": 320, "height": 180, "start": 0, "end": 6, "fps": 60, "sequences": blocks}
        if sfx:
            params["sfxEvents"] = [{"start": 1.0, "name": "Boum", "volume": 0.5, "dataUrl": wav_data_url()}]
        return params

    def deliver(self, params):
        path = self.tmp / "params.json"
        path.write_text(json.dumps(params), encoding="utf-8")
        done = subprocess.run([CLI, "deliver", "smart", str(path)], capture_output=True, env=self.env, timeout=120)
        return done.returncode, json.loads(done.stdout) if done.stdout.strip() else None, done.stderr.decode()


@pytest.fixture
def smart(tmp_path):
    delivery = SmartDelivery(tmp_path)
    delivery.sim("init", "--fps", "25", "--start-timecode", "01:00:00:00")
    return delivery


def exact_items(*names):
    """Segments of the Exact Web render, which starts with its first block at 2.0 s (frame 90050)."""
    return [("Tessivo %03d - %s" % (n, name), start, end, "Tessivo_%03d.mov" % n)
            for n, (name, start, end) in enumerate(names, 1)]


def test_mixed_export_sends_each_block_by_its_route(smart):
    code, result, err = smart.deliver(smart.request(MIXED))
    assert code == 0, err
    assert result["success"] is True and result["message"] == SMART_DONE
    assert {k: result[k] for k in ("directCount", "exactCount", "createdClipCount", "plannedExactCount", "fps",
                                   "timelineWidth", "timelineHeight", "codec", "recordFrame", "sfxCount")} == {
        "directCount": 2, "exactCount": 2, "createdClipCount": 4, "plannedExactCount": 2, "fps": 25.0,
        "timelineWidth": 1920, "timelineHeight": 1080, "codec": "ProRes 4444", "recordFrame": 90050, "sfxCount": 1}
    assert result["warning"] == HEADLESS
    # Rendered at the timeline's rate over 2.0 s to 5.0 s only.
    assert result["metrics"]["totalFrames"] == 75
    tracks = smart.timeline()
    assert [name for name, *_ in tracks["video 2 Tessivo Lottie"]] == ["Tessivo Lottie 001 - Un",
                                                                       "Tessivo Lottie 002 - Trois"]
    assert [(s, e) for _, s, e, _ in tracks["video 2 Tessivo Lottie"]] == [(90012, 90037), (90088, 90113)]
    assert tracks["video 3 Tessivo Overlay"] == exact_items(("Deux", 90050, 90075), ("Quatre", 90100, 90125))
    # The sound effect travels with Exact Web, once.
    assert [(name, start) for name, start, _, _ in tracks["audio 2 Tessivo SFX"]] == [("Tessivo SFX - Boum", 90025)]
    assert len(tracks) == 5


def test_all_lottie_capable_blocks_need_no_render(smart):
    code, result, err = smart.deliver(smart.request([block("Un", 0.5, 1.0, True), block("Trois", 3.5, 1.0, True)]))
    assert code == 0, err
    assert (result["success"], result["message"], result["codec"]) == (True, DIRECT_DONE, "Sans encodage")
    assert (result["directCount"], result["exactCount"], result["createdClipCount"]) == (2, 0, 2)
    assert not smart.renders.exists() or not list(smart.renders.glob("*.mov"))
    tracks = smart.timeline()
    assert len(tracks["video 2 Tessivo Lottie"]) == 2
    # With no Exact Web block the sound effect goes with the Lottie clips.
    assert [start for _, start, _, _ in tracks["audio 2 Tessivo SFX"]] == [90025]
    assert "video 3 Tessivo Overlay" not in tracks


def test_a_refused_lottie_archive_sends_every_block_by_exact_web(smart):
    smart.sim("set", "profile", "20.2")
    code, result, err = smart.deliver(smart.request(MIXED))
    assert code == 0, err
    assert result["success"] is True and result["message"] == SMART_DONE
    assert (result["directCount"], result["exactCount"], result["createdClipCount"],
            result["plannedExactCount"]) == (0, 4, 4, 4)
    assert result["warning"] == HEADLESS + "\n" + FALLBACK + LOTTIE_REFUSED
    assert result["recordFrame"] == 90012
    tracks = smart.timeline()
    assert not any("Lottie" in name for name in tracks)
    # The render starts at frame 90012 (0.5 s); each segment stands where its
    # first frame stands in it: Trois (3.0 s in) at 90012 + 75, Quatre
    # (3.5 s in, between two frames) from frame 88. Quatre overlaps Trois and
    # takes a second lane.
    assert tracks["video 2 Tessivo Overlay"] == [
        ("Tessivo 001 - Un", 90012, 90037, "Tessivo_001.mov"), ("Tessivo 002 - Deux", 90050, 90075, "Tessivo_002.mov"),
        ("Tessivo 003 - Trois", 90087, 90112, "Tessivo_003.mov")]
    assert tracks["video 3 Tessivo Overlay 2"] == [("Tessivo 004 - Quatre", 90100, 90125, "Tessivo_004.mov")]
    assert [start for _, start, _, _ in tracks["audio 2 Tessivo SFX"]] == [90025]


def test_exact_web_insertion_failing_after_the_lottie_clips(smart):
    # The two archives import; the first segment does not.
    smart.sim("fault", "set", "ImportMedia", "value", "--value", "[]", "--after", 2, "--times", 1)
    code, result, err = smart.deliver(smart.request(MIXED))
    assert code == 1 and result is not None, err
    assert result["success"] is False
    assert result["message"] == "DaVinci n'a pas pu importer un segment Tessivo."
    assert (result["directCount"], result["exactCount"], result["createdClipCount"],
            result["plannedExactCount"]) == (2, 0, 2, 2)
    assert LOTTIE_PRESENT in result["warning"].split("\n")
    tracks = smart.timeline()
    assert len(tracks["video 2 Tessivo Lottie"]) == 2
    assert not any("Overlay" in name or "SFX" in name for name in tracks)


def test_no_timeline_fails_before_any_work(smart):
    smart.sim("init", "--timeline", "")
    code, result, err = smart.deliver(smart.request(MIXED))
    assert code == 1
    assert result == {"success": False, "message": "Aucune timeline active dans DaVinci Resolve."}


def test_a_request_while_a_smart_export_runs_gets_no_answer(smart):
    second = smart.request([block("Second", 0.5, 1.0, False)], sfx=False)
    out, _ = smart.run([{"type": "exportResolveSmart", "payload": smart.request(MIXED, sfx=False)},
                        {"type": "exportResolveSmart", "payload": second}])
    assert [c["function"] for c in out] == ["window.onResolveExportComplete"], out
    assert out[0]["payload"]["createdClipCount"] == 4
    tracks = smart.timeline()
    names = [name for items in tracks.values() for name, *_ in items]
    assert not any("Second" in name for name in names)
    assert len(tracks["video 3 Tessivo Overlay"]) == 2
