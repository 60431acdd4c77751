"""The Fusion effect library end to end: the library's messages through the
headless bridge, the real runner, the comfort module and the embedded scripts,
against the Resolve simulator, whose state is read back after each run."""
import base64
import json
import os
import shutil
import subprocess

import pytest

ROOT = os.environ.get("TESSIVO_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
CLI = os.environ.get("TESSIVO_CLI") or os.path.join(ROOT, "build", "tessivo-cli")
RESOURCES = os.path.join(os.path.dirname(CLI), "resources")
SIM = os.path.join(ROOT, "tools", "resolve-sim", "resolve-sim")
SCRIPTING = os.path.join(ROOT, "tools", "resolve-sim", "Scripting")
INSERTED = "window.onFusionEffectInserted"
LIVE = "window.onFusionLiveResult"
TEMPLATE = "window.onFusionNativeTemplateStatus"
PREVIEW = "window.onResolvePreviewCaptured"


class Library:
    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.state = str(tmp_path / "resolve.json")
        self.data = tmp_path / "data"
        self.env = dict(os.environ)
        self.env.update({
            "TESSIVO_RESOLVE_SIM_STATE": self.state,
            "TESSIVO_RESOLVE_SCRIPT_API": SCRIPTING,
            "TESSIVO_SETTINGS_FILE": str(tmp_path / "settings.ini"),
            "TESSIVO_RESOURCES": RESOURCES,
            "HOME": str(tmp_path),
            "XDG_CONFIG_HOME": str(tmp_path / "config"),
            "XDG_DATA_HOME": str(self.data),
            "TMPDIR": str(tmp_path),
        })
        self.env.pop("PYTHONPATH", None)

    @property
    def root(self):
        return self.data / "Tessivo" / "FusionEffects"

    def sim(self, *args):
        done = subprocess.run(["/usr/bin/python3", SIM, "--state", self.state] + [str(a) for a in args],
                              check=True, capture_output=True, env=self.env)
        return done.stdout.decode().strip()

    def timeline(self):
        state = json.loads(self.sim("dump"))
        project = next(p for p in state["projects"] if p["id"] == state["currentProject"])
        return next(t for t in project["timelines"] if t["id"] == project["currentTimeline"])

    def video(self):
        """Per video track: its items as (start, end, StyledText of the active composition)."""
        tracks = []
        for track in self.timeline()["tracks"]["video"]:
            items = []
            for item in track["items"]:
                comps = item.get("comps") or []
                text = comps[item.get("activeComp", 0)]["setting"] if comps else ""
                styled = text.split("StyledText = Input { Value = ", 1)[1].split(",", 1)[0] if "StyledText" in text else None
                items.append((item["start"], item["end"], styled))
            tracks.append(items)
        return tracks

    def run(self, lines, extra_env=None):
        env = dict(self.env)
        env.update(extra_env or {})
        text = "".join(json.dumps(line) + "\n" for line in lines)
        done = subprocess.run([CLI, "bridge"], input=text.encode(), capture_output=True, env=env, timeout=120)
        assert done.returncode == 0, done.stderr.decode()
        return [json.loads(l) for l in done.stdout.decode().splitlines() if l.strip()]

    def comfort(self, command, request):
        """One run of the comfort module straight against the simulator."""
        env = dict(self.env, PYTHONPATH=os.path.join(SCRIPTING, "Modules"), RESOLVE_SCRIPT_API=SCRIPTING,
                   RESOLVE_SCRIPT_LIB=os.path.join(ROOT, "tools", "resolve-sim", "libs", "Fusion", "fusionscript.so"))
        done = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "resources", "resolve_comfort.py"), command,
                               json.dumps(request)], capture_output=True, env=env, timeout=60)
        return json.loads(done.stdout.decode().rsplit("__ORVEL_JSON__", 1)[1])

    def ask(self, kind, payload=None, callback=INSERTED, **kwargs):
        message = {"type": kind}
        if payload is not None:
            message["payload"] = payload
        out = [c for c in self.run([message], **kwargs) if "function" in c]
        assert [c["function"] for c in out] == [callback], out
        return out[0]["payload"]


@pytest.fixture
def lib(tmp_path):
    library = Library(tmp_path)
    library.sim("init", "--fps", "24", "--start-timecode", "01:00:00:00")
    return library


def insert(lib, **payload):
    payload.setdefault("id", "included-shine")
    payload.setdefault("requestId", "R")
    return lib.ask("fusionInsertEffect", payload)


def test_listing_holds_builtins_included_and_inlined_frames(lib):
    out = lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")
    assert out["success"] is True
    names = [e["name"] for e in out["effects"]]
    assert names == ["Pop Clean", "Slide Kinetic", "Typewriter Native", "Morph Elastic", "Shine Sweep"]
    assert [e["id"] for e in out["renderEffects"]] == [e["id"] for e in out["effects"]]
    shine = out["effects"][-1]
    assert shine["hasResolvePreview"] is True and len(shine["previewFrames"]) == 12
    jpeg = base64.b64decode(shine["previewFrames"][0].split(",", 1)[1])
    assert shine["previewFrames"][0].startswith("data:image/jpeg;base64,") and jpeg[:2] == b"\xff\xd8"
    assert shine["textTargets"][0]["colorInput"] == "gradient1"
    assert sorted(os.listdir(lib.root)) == [".Trash", "builtin-pop-clean", "builtin-slide-kinetic", "builtin-typewriter"]


def test_listing_failure_is_answered(lib):
    os.makedirs(lib.data / "Tessivo")
    (lib.data / "Tessivo" / "FusionEffects").write_text("a file where the folder goes")
    out = lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")
    assert out["success"] is False and out["effects"] == [] and out["error"]


@pytest.mark.parametrize("target, record, expected_track, tracks_after", [
    ("auto", 86400 + 48, 1, 1),
    ("new", None, 2, 2),
    ("track:1", 86400 + 240, 1, 1),
])
def test_insert_on_each_target_kind(lib, target, record, expected_track, tracks_after):
    lib.sim("playhead", "01:00:01:00")
    payload = {"targetTrack": target, "durationFrames": 36,
               "instance": {"text": "Bonjour", "color": "#FF0000", "size": 0.2}}
    if record is not None:
        payload["recordFrame"] = record
    result = insert(lib, **payload)
    start = record if record is not None else 86400 + 24
    assert result["success"] is True, result
    assert (result["trackIndex"], result["recordFrame"], result["durationFrames"]) == (expected_track, start, 36)
    assert result["timecode"] == "01:00:%02d:%02d" % ((start - 86400) // 24, (start - 86400) % 24)
    tracks = lib.video()
    assert len(tracks) == tracks_after
    assert tracks[expected_track - 1] == [(start, start + 36, '"Bonjour"')]
    assert "StyledText" in result["appliedFields"] and result["warnings"] == []
    assert lib.timeline()["marks"] == {}


def test_auto_takes_a_new_track_when_the_place_is_taken_and_track_n_is_checked(lib):
    first = insert(lib, recordFrame=86400, durationFrames=48)
    second = insert(lib, recordFrame=86424, durationFrames=48)
    assert (first["trackIndex"], second["trackIndex"]) == (1, 2)
    busy = insert(lib, recordFrame=86430, durationFrames=10, targetTrack="track:1")
    assert busy == {"success": False, "message": "La piste V1 est occupée à cet endroit.", "requestId": "R",
                    "error": "La piste V1 est occupée à cet endroit."}
    missing = insert(lib, targetTrack="track:7")
    assert missing["error"] == "La piste V7 n'existe pas dans la timeline."
    # Resolve inserts on its destination track only: V1 is not V2.
    elsewhere = insert(lib, recordFrame=90000, targetTrack="track:1")
    assert elsewhere["success"] is False and "destination" in elsewhere["error"]
    assert [len(t) for t in lib.video()] == [1, 1]


@pytest.mark.parametrize("colors, stops", [
    ({"color": "#FF0000", "color2": "#0000ff"}, ["[0] = { 1, 0, 0, 1 }", "[1] = { 0, 0, 1, 1 }"]),
    ({"color": "#00ff00"}, ["[0] = { 0, 1, 0, 1 }", "[1] = { 0, 1, 0, 1 }"]),
    # The effect's own colours keep its gradient, highlight included.
    ({"color": "#ffcc40", "color2": "#d98c1a"}, ["[0.5] = { 1, 1, 1, 1 }"]),
])
def test_gradient_effects_take_the_users_colours(lib, colors, stops):
    result = insert(lib, recordFrame=86400, instance=dict(colors, text="Or"))
    assert result["success"] is True, result
    item = lib.timeline()["tracks"]["video"][0]["items"][0]
    text = item["comps"][item["activeComp"]]["setting"]
    for stop in stops:
        assert stop in text
    assert not [f for f in os.listdir(lib.tmp) if f.startswith("tessivo-native-gradient-")]


@pytest.mark.parametrize("target", ["auto", "new"])
def test_a_refused_insert_leaves_the_timeline_as_it_was(lib, target):
    lib.sim("fault", "set", "InsertFusionTitleIntoTimeline", "none")
    result = insert(lib, targetTrack=target)
    assert result["success"] is False and result["error"] == "Resolve n'a pas pu créer le titre Text+."
    assert lib.video() == [[]]
    assert lib.timeline()["marks"] == {}


@pytest.mark.parametrize("payload, message", [
    ({"id": "../etc"}, "Identifiant d'effet Fusion invalide."),
    ({"id": "effet spécial"}, "Identifiant d'effet Fusion invalide."),
    ({"id": "captured-missing"}, None),
])
def test_bad_requests_get_one_french_answer(lib, payload, message):
    result = lib.ask("fusionInsertEffect", dict(payload, requestId="X"))
    assert result["success"] is False and result["requestId"] == "X"
    if message:
        assert result["error"] == message
    assert lib.video() == [[]]


def test_template_outside_its_folder_is_refused_before_resolve(lib):
    lib.ask("fusionLibraryLoad", callback="window.onFusionLibraryLoaded")
    outside = lib.tmp / "outside.setting"
    shutil.copy(os.path.join(RESOURCES, "BundledFusionEffects", "included-shine", "template.setting"), outside)
    folder = lib.root / "captured-evil"
    folder.mkdir()
    os.symlink(outside, folder / "template.setting")
    for path in (str(outside), str(folder / ".." / ".." / "outside.setting"), str(folder / "template.setting")):
        (folder / "metadata.json").write_text(json.dumps({"id": "captured-evil", "templatePath": path}))
        result = insert(lib, id="captured-evil")
        assert result == {"requestId": "R", "success": False, "error": "Le fichier source de cet effet est introuvable."}
        applied = lib.ask("fusionApplyToSelectedTitle", {"id": "captured-evil"})
        assert applied == {"success": False, "error": "Le fichier source de cet effet est introuvable."}
    assert lib.video() == [[]]


def test_two_inserts_at_once_are_both_answered(lib):
    out = lib.run([{"type": "fusionInsertEffect", "payload": {"id": "included-shine", "requestId": "A", "recordFrame": 86400}},
                   {"type": "fusionInsertEffect", "payload": {"id": "included-morph-elastic", "requestId": "B", "recordFrame": 86400}}])
    results = {c["payload"]["requestId"]: c["payload"] for c in out}
    assert sorted(results) == ["A", "B"]
    assert results["A"]["success"] and results["B"]["success"]
    assert sorted((results["A"]["trackIndex"], results["B"]["trackIndex"])) == [1, 2]


def test_missing_comfort_module_without_seed_is_error_18(lib, tmp_path):
    resources = tmp_path / "resources"
    shutil.copytree(RESOURCES, resources, ignore=shutil.ignore_patterns("resolve_comfort.py", "web", "fonts"))
    result = lib.ask("fusionInsertEffect", {"id": "included-shine", "requestId": "Z"},
                     extra_env={"TESSIVO_RESOURCES": str(resources)})
    assert result == {"requestId": "Z", "success": False, "error": "Le modèle Text+ intégré manque dans l\u2019application."}


def test_apply_to_the_selected_title(lib):
    setting = os.path.join(RESOURCES, "BundledFusionEffects", "included-morph-elastic", "template.setting")
    lib.sim("add-fusion-title", "--name", "Text+", "--start", "0", "--duration", "2", setting)
    nothing = lib.ask("fusionApplyToSelectedTitle", {"id": "included-shine"})
    assert nothing == {"success": False, "error": "Sélectionne exactement un titre Text+ dans la timeline Resolve, "
                                                  "puis relance cette action."}
    lib.sim("select", "video:1:1")
    before = lib.video()[0][0]
    result = lib.ask("fusionApplyToSelectedTitle",
                     {"id": "included-shine", "instance": {"text": "Nouveau", "color": "#00ff00", "color2": "#0000ff"}})
    assert result["success"] is True and result["operation"] == "applySelectedTitle", result
    assert result["appliedFields"] == ["StyledText", "Font", "Size", "Red1", "Green1", "Blue1", "Center"]
    after = lib.video()[0][0]
    assert after[:2] == before[:2] and after[2] == '"Nouveau"'
    item = lib.timeline()["tracks"]["video"][0]["items"][0]
    setting_text = item["comps"][item["activeComp"]]["setting"]
    # The gradient runs from the first colour to the second.
    assert "[0] = { 0, 1, 0, 1 }" in setting_text and "[1] = { 0, 0, 1, 1 }" in setting_text


def test_apply_refuses_a_composition_that_is_no_text_plus(lib):
    plain = lib.tmp / "plain.setting"
    plain.write_text(open(os.path.join(RESOURCES, "BundledFusionEffects", "included-shine", "template.setting"))
                     .read().replace('CustomData = { TEMPLATE_ID = "Text+" },', ""))
    lib.sim("add-fusion-title", "--name", "Fusion Composition", "--start", "0", "--duration", "2", str(plain))
    lib.sim("select", "video:1:1")
    result = lib.ask("fusionApplyToSelectedTitle", {"id": "included-shine"})
    assert result["success"] is False and "pas un vrai titre Text+" in result["error"]


def test_native_template_registration_in_two_presses(lib):
    status = lib.ask("fusionNativeTemplateStatus", callback=TEMPLATE)
    assert status == {"success": False, "source": {},
                      "message": "Choisis un vrai Text+ dans un chutier Resolve, puis mémorise-le ici."}
    lib.sim("bin", "Master/Titres", "--current")
    lib.sim("pool-clip", "Master/Titres", "Mon Text+")
    lib.sim("pool-clip", "Master/Titres", "Autre Text+")
    lib.sim("select", "--pool-clip", "Mon Text+", "--pool-clip", "Autre Text+")
    two = lib.ask("fusionNativeTemplateRegister", callback=TEMPLATE)
    assert two["message"] == "Dans le Media Pool Resolve, sélectionne un seul Text ou Text+ à enregistrer."
    assert two["notify"] is True and two["source"] == {}

    lib.sim("select", "--clear", "--pool-clip", "Mon Text+")
    first = lib.ask("fusionNativeTemplateRegister", callback=TEMPLATE)
    assert first["success"] is False and first["message"].startswith("Titre prêt.")
    lib.sim("select", "--clear")
    lib.sim("bin", "Power Bins", "--current")
    second = lib.ask("fusionNativeTemplateRegister", callback=TEMPLATE)
    assert second["success"] is True, second
    assert second["message"] == "« Mon Text+ » est enregistré dans le chutier partagé Tessivo."
    assert second["source"]["folderName"] == "Tessivo" and second["source"]["nativeCompatible"] == "1"
    state = json.loads(lib.sim("dump"))
    tessivo = [f for f in state["folders"].values() if f["name"] == "Tessivo"]
    assert len(tessivo) == 1 and [state["clips"][c]["name"] for c in tessivo[0]["clips"]] == ["Mon Text+"]
    assert lib.ask("fusionNativeTemplateStatus", callback=TEMPLATE)["message"] == "Modèle Text+ natif prêt."


def test_a_plain_text_is_shared_but_keeps_the_registered_template(lib):
    lib.sim("bin", "Power Bins/Tessivo", "--current")
    lib.sim("pool-clip", "Power Bins/Tessivo", "Mon Text+")
    lib.sim("pool-clip", "Master", "Text", "--type", "Generator")
    lib.sim("select", "--pool-clip", "Mon Text+")
    registered = lib.ask("fusionNativeTemplateRegister", callback=TEMPLATE)
    assert registered["success"] is True and registered["source"]["name"] == "Mon Text+"
    lib.sim("select", "--clear", "--pool-clip", "Text")
    plain = lib.ask("fusionNativeTemplateRegister", callback=TEMPLATE)
    assert plain["success"] is True and "C'est un Text standard" in plain["message"]
    assert plain["source"]["name"] == "Mon Text+"
    state = json.loads(lib.sim("dump"))
    [tessivo] = [f for f in state["folders"].values() if f["name"] == "Tessivo"]
    # The title already there stayed once; the plain Text joined it.
    assert sorted(state["clips"][c]["name"] for c in tessivo["clips"]) == ["Mon Text+", "Text"]


def test_still_preview_of_an_empty_frame_and_of_a_title(lib):
    empty = lib.ask("exportResolveStillPreview", {"requestId": 7}, callback=PREVIEW)
    assert empty == {"success": True, "emptyFrame": True, "requestId": 7}
    setting = os.path.join(RESOURCES, "BundledFusionEffects", "included-shine", "template.setting")
    lib.sim("add-fusion-title", "--start", "0", "--duration", "48", setting)
    lib.sim("playhead", "01:00:01:00")
    shot = lib.ask("exportResolveStillPreview", {}, callback=PREVIEW)
    assert shot["success"] is True and "requestId" not in shot
    jpeg = base64.b64decode(shot["image"].split(",", 1)[1])
    assert shot["image"].startswith("data:image/jpeg;base64,") and jpeg[:2] == b"\xff\xd8"
    assert not [f for f in os.listdir(lib.tmp) if f.startswith("orvel_davinci_preview_")]


def test_two_previews_at_once_give_one_answer(lib):
    out = lib.run([{"type": "exportResolveStillPreview", "payload": {"requestId": "a"}},
                   {"type": "exportResolveStillPreview", "payload": {"requestId": "b"}}])
    assert [(c["function"], c["payload"]["requestId"]) for c in out] == [(PREVIEW, "a")]


def test_live_upsert_replace_and_delete(lib):
    def upsert(request, text, **extra):
        return dict({"id": "included-shine", "requestId": request, "ownerId": "owner-1", "isLive": False,
                     "liveSequence": {"index": 0}, "recordFrame": 86400, "durationFrames": 24,
                     "instance": {"text": text}}, **extra)

    out = lib.run([{"type": "fusionLiveBuildBegin"}, {"type": "fusionLiveUpsert", "payload": upsert("L1", "Un")}])
    assert [c["function"] for c in out] == [LIVE]
    assert out[0]["payload"]["success"] is True and out[0]["payload"]["requestId"] == "L1"
    replaced = lib.ask("fusionLiveUpsert", upsert("L2", "Deux", recordFrame=86424), callback=LIVE)
    assert replaced["success"] is True and replaced["ownerId"] == "owner-1"
    assert lib.video() == [[(86424, 86448, '"Deux"')]]
    snapshot = lib.comfort("snapshot", {})
    assert snapshot["videoTracks"][0]["items"][0]["ownerId"] == "owner-1"
    gone = lib.ask("fusionLiveDelete", {"requestId": "D", "ownerId": "owner-1"}, callback=LIVE)
    assert gone == {"operation": "nativeDelete", "requestId": "D", "itemId": "", "ownerId": "owner-1",
                    "success": True, "deleted": 1}
    assert lib.video() == [[]]


def test_live_delete_failure_is_forwarded_as_is_and_build_end_restores_the_window(lib):
    lib.sim("add-fusion-title", "--start", "0", "--duration", "2",
            os.path.join(RESOURCES, "BundledFusionEffects", "included-shine", "template.setting"))
    item = lib.timeline()["tracks"]["video"][0]["items"][0]["id"]
    lib.sim("fault", "set", "DeleteClips", "false")
    failed = lib.ask("fusionLiveDelete", {"requestId": "D", "itemId": item}, callback=LIVE)
    assert failed == {"operation": "nativeDelete", "requestId": "D", "itemId": item, "ownerId": "", "success": False,
                      "message": "Resolve n'a pas pu retirer l'élément en direct."}
    out = lib.run([{"type": "fusionLiveBuildEnd"}])
    assert out == [{"window": {"opacity": 1.0, "acceptsMouseEvents": True}}]


def test_snapshot_reports_the_timeline_and_tessivos_items(lib):
    lib.sim("playhead", "01:00:02:12")
    insert(lib, recordFrame=86400, durationFrames=24, ownerId="o")
    lib.sim("add-fusion-title", "--start", "100", "--duration", "10",
            os.path.join(RESOURCES, "BundledFusionEffects", "included-shine", "template.setting"))
    snapshot = lib.comfort("snapshot", {})
    assert {k: snapshot[k] for k in ("success", "timelineName", "frameRate", "startFrame")} == {
        "success": True, "timelineName": "Timeline 1", "frameRate": 24.0, "startFrame": 86400}
    assert snapshot["timelineId"] == lib.timeline()["id"]
    # The insert put the playhead back where the user had it.
    assert (snapshot["playheadFrame"], snapshot["playheadTimecode"]) == (86460, "01:00:02:12")
    [track] = snapshot["videoTracks"]
    assert [(i["effectId"], i["ownerId"], i["start"], i["end"]) for i in track["items"]] == [
        ("included-shine", "o", 86400, 86424)]


@pytest.mark.parametrize("command, request_text, message", [
    ("bogus", "{}", "Commande du module Resolve inconnue."),
    ("native", "[1]", "Le modèle Fusion est introuvable."),
    ("preview", json.dumps({"outputPath": "/tmp/x.png"}), "Chemin de capture invalide."),
])
def test_comfort_module_refuses_bad_requests(lib, command, request_text, message):
    env = dict(lib.env, PYTHONPATH=os.path.join(SCRIPTING, "Modules"), RESOLVE_SCRIPT_API=SCRIPTING,
               RESOLVE_SCRIPT_LIB=os.path.join(ROOT, "tools", "resolve-sim", "libs", "Fusion", "fusionscript.so"))
    done = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "resources", "resolve_comfort.py"), command,
                           request_text], capture_output=True, env=env, timeout=60)
    result = json.loads(done.stdout.decode().rsplit("__ORVEL_JSON__", 1)[1])
    assert result == {"success": False, "message": message}


def test_a_capture_past_its_limit_frees_the_next_one(lib):
    lib.sim("add-fusion-title", "--start", "0", "--duration", "48",
            os.path.join(RESOURCES, "BundledFusionEffects", "included-shine", "template.setting"))
    lib.sim("fault", "set", "ExportCurrentFrameAsStill", "hang", "--times", "1")
    env = dict(lib.env, TESSIVO_TIME_LIMIT_SCALE="0.1")
    bridge = subprocess.Popen([CLI, "bridge"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    try:
        def send(request_id):
            line = {"type": "exportResolveStillPreview", "payload": {"requestId": request_id}}
            bridge.stdin.write((json.dumps(line) + "\n").encode())
            bridge.stdin.flush()

        send("slow")
        first = json.loads(bridge.stdout.readline())
        assert first["payload"]["requestId"] == "slow" and first["payload"]["success"] is False
        assert first["payload"]["message"]
        send("next")
        bridge.stdin.close()
        rest = [json.loads(l) for l in bridge.stdout.read().decode().splitlines() if l.strip()]
    finally:
        bridge.wait(timeout=60)
    assert [(c["payload"]["requestId"], c["payload"]["success"]) for c in rest] == [("next", True)]
    assert rest[0]["payload"]["image"].startswith("data:image/jpeg;base64,")
