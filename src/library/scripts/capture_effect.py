# Copies the clip under Resolve's playhead into a library effect: its first
# Fusion composition is exported to the path given as argument 1, and its
# tools are read to describe the effect (tool types, editable Text+ tools,
# plugin risks, duration, track). Prints one result object.
import json
import os
import sys
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"
RISKY_IDS = ("Loader", "Fuse", "FuseTool", "OFX", "OpenFX")


class Failure(Exception):
    pass


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def connect():
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except Exception:
        resolve = None
    if not resolve:
        raise Failure("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé.")
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    if not project:
        raise Failure("Aucun projet DaVinci Resolve ouvert.")
    timeline = project.GetCurrentTimeline()
    if not timeline:
        raise Failure("Aucune timeline active dans DaVinci Resolve.")
    return project, timeline


def read_input(tool, name, default):
    try:
        value = tool.GetInput(name)
    except Exception:
        try:
            value = tool.GetInput(name, 0)
        except Exception:
            value = None
    return default if value is None else value


def channel(value):
    try:
        number = float(value) if value else 0.0
    except (TypeError, ValueError):
        number = 0.0
    return max(0, min(255, int(round(number * 255))))


def center_of(value):
    if isinstance(value, dict):
        values = [value[k] for k in sorted(value)[:2]]
    elif isinstance(value, (list, tuple)):
        values = list(value[:2])
    else:
        values = []
    try:
        return [float(values[0]), float(values[1])] if len(values) == 2 else [0.5, 0.5]
    except (TypeError, ValueError):
        return [0.5, 0.5]


def text_target(tool, name):
    color = "#%02x%02x%02x" % tuple(channel(read_input(tool, key, 1.0)) for key in ("Red1", "Green1", "Blue1"))
    try:
        shading = int(read_input(tool, "Type1", 0) or 0)
    except (TypeError, ValueError):
        shading = 0
    size = read_input(tool, "Size", 0.08)
    try:
        size = float(size) or 0.08
    except (TypeError, ValueError):
        size = 0.08
    return {
        "toolName": name,
        "label": name,
        "text": str(read_input(tool, "StyledText", "")),
        "font": str(read_input(tool, "Font", "")) or "Inter",
        "size": size,
        "color": color,
        "colorInput": "gradient1" if shading == 2 else "fill1",
        "center": center_of(read_input(tool, "Center", None)),
    }


def is_risky(regid):
    lower = regid.lower()
    return regid in RISKY_IDS or lower.startswith("ofx") or "plugin" in lower or "fuse" in lower


def frame_rate(timeline, project):
    value = timeline.GetSetting("timelineFrameRate") or project.GetSetting("timelineFrameRate") or "24"
    try:
        return float(str(value).replace(",", ".").split()[0])
    except (ValueError, IndexError):
        return 24.0


def track_of(timeline, item):
    wanted = item.GetUniqueId()
    count = timeline.GetTrackCount("video") or 0
    for index in range(1, int(count) + 1):
        for other in timeline.GetItemListInTrack("video", index) or []:
            if wanted and other.GetUniqueId() == wanted:
                return index
    return None


def capture(output):
    project, timeline = connect()
    item = timeline.GetCurrentVideoItem()
    if not item:
        raise Failure("Place la tête de lecture sur le clip Fusion à capturer.")
    comp_count = item.GetFusionCompCount() or 0
    if comp_count < 1:
        raise Failure("Le clip sous la tête de lecture ne contient pas de composition Fusion.")
    os.makedirs(os.path.dirname(output), exist_ok=True)
    if not item.ExportFusionComp(output, 1) or not os.path.isfile(output):
        raise Failure("DaVinci n'a pas réussi à copier la composition Fusion du clip courant.")
    comp = item.GetFusionCompByIndex(1)
    if not comp:
        raise Failure("La composition a été copiée, mais son graphe est inaccessible.")

    tools = comp.GetToolList(False) or {}
    tools = list(tools.values()) if isinstance(tools, dict) else list(tools)
    types, risky, targets = set(), set(), []
    for index, tool in enumerate(tools):
        try:
            attrs = tool.GetAttrs() or {}
        except Exception:
            attrs = {}
        regid = str(attrs.get("TOOLS_RegID") or attrs.get("TOOLI_RegID") or type(tool).__name__)
        name = str(attrs.get("TOOLS_Name") or attrs.get("TOOLST_Name") or "Tool%d" % (index + 1))
        if regid:
            types.add(regid)
            if is_risky(regid):
                risky.add(regid)
        if regid == "TextPlus" or "textplus" in regid.lower():
            targets.append(text_target(tool, name))

    risky = sorted(risky)
    warnings = []
    if not targets:
        warnings.append("Ce graphe ne contient pas de Text+ modifiable automatiquement.")
    if risky:
        warnings.append("Ce graphe utilise peut-être des plugins ou Fuses externes: %s." % ", ".join(risky))
    status = "dependency-risk" if risky else ("editable" if targets else "advanced")

    rate = frame_rate(timeline, project)
    frames = item.GetDuration() or int(round(2.5 * rate))
    emit({
        "success": True,
        "clipName": item.GetName() or "Effet Fusion capturé",
        "timelineName": timeline.GetName() or "",
        "trackIndex": track_of(timeline, item),
        "startFrame": item.GetStart() or 0,
        "duration": max(0.04, frames / max(1.0, rate)),
        "fusionCompCount": comp_count,
        "toolTypes": sorted(t for t in types if t),
        "textTargets": targets,
        "primaryTextTarget": targets[0]["toolName"] if targets else "",
        "compatibility": {"status": status, "editableText": bool(targets), "warnings": warnings,
                          "riskyToolTypes": risky},
    })


def main(argv):
    if len(argv) < 2 or not argv[1]:
        emit({"success": False, "message": "Le chemin de capture Fusion est manquant."})
        return
    try:
        capture(argv[1])
    except Failure as failure:
        emit({"success": False, "message": str(failure)})
    except Exception:
        emit({"success": False, "message": "Erreur pendant la capture du clip Fusion courant.",
              "details": traceback.format_exc()})


if __name__ == "__main__":
    main(sys.argv)
