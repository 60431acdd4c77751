# Applies a library effect to the one Text+ title selected in the timeline:
# backs up its composition, imports the effect's (recoloured for a gradient),
# applies the style and text, and restores the backup when the import fails or
# the title moved. Argument 1: the job {"templatePath", "instance", ...}.
import json
import os
import re
import sys
import tempfile
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"


class Failure(Exception):
    pass


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def remove(path):
    try:
        if path:
            os.remove(path)
    except OSError:
        pass


def temporary(prefix):
    handle, path = tempfile.mkstemp(prefix=prefix, suffix=".setting")
    os.close(handle)
    return path


def channels(text):
    match = re.match(r"^#([0-9a-fA-F]{6})$", str(text or ""))
    if not match:
        return None
    return [int(match.group(1)[i:i + 2], 16) / 255.0 for i in (0, 2, 4)]


def recoloured(text, instance):
    """The template with its first gradient's stops spread from color to color2, or None."""
    if "ShadingGradient1" not in text:
        return None
    pattern = re.compile(r"(ShadingGradient1\s*=\s*Input\s*\{\s*Value\s*=\s*Gradient\s*\{\s*Colors\s*=\s*\{)(.*?)"
                         r"(\n\s*\}\s*\n\s*\}\s*,\s*\n\s*\}\s*,)", re.S)
    block = pattern.search(text)
    first = channels(instance.get("color"))
    last = channels(instance.get("color2")) or first
    if not block or not first:
        return None
    stop = re.compile(r"(\[[^\]]+\]\s*=\s*\{)\s*[^}]+(\})")
    count = max(1, len(stop.findall(block.group(2))))
    index = [0]

    def colour(match):
        i = index[0]
        index[0] += 1
        t = i / max(1, count - 1)
        values = [a + (b - a) * t for a, b in zip(first, last)]
        return "%s %.9f, %.9f, %.9f, %.1f %s" % (match.group(1), values[0], values[1], values[2], 1.0, match.group(2))

    body = stop.sub(colour, block.group(2))
    return text[:block.start(2)] + body + text[block.end(2):]


def text_tool(comp):
    try:
        tools = comp.GetToolList(False) or {}
    except Exception:
        return None
    for tool in (tools.values() if isinstance(tools, dict) else tools):
        try:
            reg = str(tool.GetAttrs("TOOLS_RegID") or "")
        except Exception:
            continue
        if reg == "TextPlus" or "textplus" in reg.lower():
            return tool
    return None


def main():
    try:
        job = json.loads(sys.argv[1]) if len(sys.argv) > 1 else {}
    except ValueError:
        job = {}
    if not isinstance(job, dict):
        job = {}
    template = str(job.get("templatePath") or "")
    instance = job.get("instance") if isinstance(job.get("instance"), dict) else {}
    if not template or not os.path.isfile(template):
        raise Failure("Le modèle Fusion est introuvable.")
    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except Exception:
        resolve = None
    if not resolve:
        raise Failure("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé.")
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    timeline = project.GetCurrentTimeline() if project else None
    if not timeline:
        raise Failure("Aucune timeline active dans DaVinci Resolve.")

    selected = timeline.GetSelectedClips() or []
    if len(selected) != 1:
        raise Failure("Sélectionne exactement un titre Text+ dans la timeline Resolve, puis relance cette action.")
    clip = selected[0]
    if int(clip.GetFusionCompCount() or 0) < 1:
        raise Failure("Le plan sélectionné n'est pas un titre Text+ Fusion.")
    if clip.GetMediaPoolItem():
        raise Failure("Le plan sélectionné est un média avec Fusion attaché. Sélectionne le vrai titre Text+ beige dans Resolve.")

    backup = temporary("tessivo-title-backup-")
    if not clip.ExportFusionComp(backup, 1) or not os.path.isfile(backup):
        remove(backup)
        raise Failure("Resolve n'a pas pu sécuriser le titre sélectionné avant la modification.")
    with open(backup, "r", encoding="utf-8", errors="replace") as handle:
        saved = handle.read()
    if 'TEMPLATE_ID = "Text+"' not in saved and str(clip.GetName() or "").strip().lower() not in ("text+", "texte+"):
        remove(backup)
        raise Failure("Le plan sélectionné contient Fusion, mais ce n'est pas un vrai titre Text+. "
                      "Utilise un titre Text+ de la bibliothèque Effets.")

    track = clip.GetTrackTypeAndIndex()
    start, end = clip.GetStart(), clip.GetEnd()

    source, gradient = template, None
    try:
        with open(template, "r", encoding="utf-8") as handle:
            changed = recoloured(handle.read(), instance)
        if changed is not None:
            gradient = temporary("tessivo-title-gradient-")
            with open(gradient, "w", encoding="utf-8") as handle:
                handle.write(changed)
            source = gradient
    except Exception:
        remove(gradient)
        source, gradient = template, None

    comp = clip.ImportFusionComp(source)
    remove(gradient)
    if not comp:
        clip.ImportFusionComp(backup)
        remove(backup)
        raise Failure("Resolve n'a pas pu remplacer la composition du titre; le titre d'origine a été restauré.")

    applied, warnings = [], []
    tool = text_tool(comp)
    if tool is None:
        warnings.append("Le graphe appliqué ne contient aucun Text+ modifiable automatiquement.")
    else:
        rgb = channels(instance.get("color")) or [1.0, 1.0, 1.0]
        values = [("StyledText", str(instance.get("text") or "")), ("Font", str(instance.get("font") or "Inter")),
                  ("Size", instance.get("size", 0.08)), ("Red1", rgb[0]), ("Green1", rgb[1]), ("Blue1", rgb[2]),
                  ("Center", [instance.get("x", 0.5), instance.get("y", 0.5)])]
        for name, value in values:
            try:
                tool.SetInput(name, value)
                ok = tool.GetInput(name) is not None
            except Exception:
                ok = False
            if ok:
                applied.append(name)
            else:
                warnings.append("Le réglage %s n'a pas pu être appliqué automatiquement." % name)

    if clip.GetStart() != start or clip.GetEnd() != end or clip.GetTrackTypeAndIndex() != track:
        clip.ImportFusionComp(backup)
        remove(backup)
        raise Failure("Resolve a modifié le placement du titre pendant l'opération; le graphe d'origine a été restauré.")
    remove(backup)
    try:
        manager.SaveProject()
    except Exception:
        pass
    emit({
        "success": True, "operation": "applySelectedTitle", "nativeTitleInspector": True,
        "message": "Effet appliqué au vrai titre Text+; l'onglet Titre reste entièrement modifiable.",
        "timelineName": timeline.GetName(), "trackIndex": track[1], "recordFrame": start,
        "actualStartFrame": clip.GetStart(), "timingExact": True, "trackExact": True,
        "durationFrames": end - start, "actualDurationFrames": clip.GetEnd() - clip.GetStart(),
        "appliedFields": applied, "warnings": warnings,
    })


try:
    main()
except Failure as failure:
    emit({"success": False, "message": str(failure)})
except Exception:
    emit({"success": False, "message": "Erreur pendant l'application au titre Text+ sélectionné.",
          "details": traceback.format_exc()})
