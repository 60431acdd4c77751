
# Places a rendered caption movie, or its per-block segments, on new video
# tracks of the active Resolve timeline, and the sound effects on a new audio
# track. The placement functions (tessivo_track_lanes...) come before this text.
# Arguments: render path; range start in seconds; clip segments (JSON); "1"
# when the movie was cut; segment files (JSON); sound-effect files (JSON).
import json
import os
import sys
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"
OVERLAY = "Tessivo Overlay"
SFX_TRACK = "Tessivo SFX"
RENDER_PATH = sys.argv[1] if len(sys.argv) > 1 else None
# What stands on the timeline so far: (kind, track) of every placed item, so
# that a failure after some placements can say what was left there.
PLACED = []


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def placed_summary():
    parts = []
    for kind in ("video", "audio"):
        wanted = [(track, 0) for k, track in PLACED if k == kind]
        text = tessivo_placement_summary(kind, wanted, list(range(len(wanted))))
        if text:
            parts.append(text)
    return ("Déjà placé : " + ", ".join(parts)) if parts else None


def fail(message, details=None, filePath=None):
    summary = placed_summary()
    if summary:
        details = summary + ("\n" + details if details else "")
    emit({"success": False, "message": message, "details": details, "filePath": filePath})
    sys.exit(0)


def json_list(index):
    if len(sys.argv) <= index:
        return []
    try:
        value = json.loads(sys.argv[index])
    except ValueError:
        return []
    return [entry for entry in value if isinstance(entry, dict)] if isinstance(value, list) else []






def start_frame(timeline):
    try:
        return int(timeline.GetStartFrame() or 0)
    except Exception:
        return 0


def clip_frames(clip, rate):
    """The clip's length in timeline frames (at least 1): its frame count
    converted from its own rate, rounded up so lanes never under-estimate."""
    try:
        frames = float(str(clip.GetClipProperty("Frames")).split()[0])
        fps = float(clip.GetClipProperty("FPS") or 0) or rate
    except Exception:
        return 1
    return max(1, int(-(-frames * rate // fps)))


def import_one(pool, path):
    items = orvel_import_project_media(pool, [path])
    if isinstance(items, dict):
        items = list(items.values())
    return items[0] if items else None


def place(timeline, pool, kind, base, entries, media_type):
    """Appends the entries on new tracks of `kind`, one lane a track, so that no
    two of them overlap on a track. Each entry has "clip", "frame", "length".
    Every append is checked against what the track really holds. Returns the
    track of each lane and, per entry, the placed item or None."""
    spans = [(e["frame"], e["frame"] + e["length"]) for e in entries]
    lanes = tessivo_track_lanes(spans)
    tracks = tessivo_add_lane_tracks(timeline, kind, base, (max(lanes) + 1) if lanes else 1)
    items = []
    for entry, lane in zip(entries, lanes):
        track = tracks[lane]
        before = {track: tessivo_placed_starts(timeline, kind, track)}
        info = {"mediaPoolItem": entry["clip"], "mediaType": media_type, "trackIndex": track,
                "recordFrame": entry["frame"]}
        result = pool.AppendToTimeline([info])
        if isinstance(result, dict):
            result = list(result.values())
        found = tessivo_verify_placement(timeline, kind, [(track, entry["frame"])], before)
        if found:
            PLACED.append((kind, track))
            items.append(result[0] if result else None)
            entry["placed"] = True
        else:
            items.append(None)
            entry["placed"] = False
    return tracks, items


def rename(item, name):
    if not item:
        return
    try:
        item.SetName(name)
    except Exception:
        pass


def main():
    if len(sys.argv) < 2:
        fail("Chemin du rendu manquant.")
    render_path = sys.argv[1]
    start_seconds = tessivo_number(sys.argv[2], 0.0) if len(sys.argv) > 2 else 0.0
    segments = json_list(3)
    split = len(sys.argv) > 4 and sys.argv[4] == "1"
    segment_files = json_list(5)
    sfx_files = json_list(6)

    if not os.path.isfile(render_path):
        fail("Le fichier rendu est introuvable.", filePath=render_path)

    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except ImportError:
        resolve = None
    if not resolve:
        fail("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas active.", filePath=render_path)
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    if not project:
        fail("Aucun projet DaVinci Resolve ouvert.", filePath=render_path)
    timeline = project.GetCurrentTimeline()
    if not timeline:
        fail("Aucune timeline active dans DaVinci Resolve.", filePath=render_path)
    pool = project.GetMediaPool()
    if not pool:
        fail("Media Pool DaVinci indisponible.", filePath=render_path)

    # Everything is imported before the timeline is touched.
    imported = []
    if split and segment_files:
        for record in segment_files:
            path = str(record.get("filePath") or "")
            if not path or not os.path.isfile(path):
                fail("Un segment Tessivo est introuvable.", filePath=path or render_path)
            clip = import_one(pool, path)
            if not clip:
                fail("DaVinci n'a pas pu importer un segment Tessivo.", filePath=path)
            seg_start = tessivo_number(record.get("start", start_seconds), start_seconds)
            imported.append({"clip": clip, "start": seg_start, "end": tessivo_number(record.get("end"), seg_start),
                             "text": str(record.get("text") or "").strip()})
    else:
        clip = import_one(pool, render_path)
        if not clip:
            fail("DaVinci n'a pas pu importer le rendu transparent.", filePath=render_path)
        imported.append({"clip": clip, "start": start_seconds, "text": ""})
    use_segments = bool(split and segment_files)

    subtitle_disabled = False
    try:
        if (timeline.GetTrackCount("subtitle") or 0) > 0:
            subtitle_disabled = bool(timeline.SetTrackEnable("subtitle", 1, False))
    except Exception:
        subtitle_disabled = False

    rate = tessivo_timeline_rate(timeline, project)[0]
    first = start_frame(timeline)
    record_frame = first + round(max(0.0, start_seconds) * rate)

    for n, entry in enumerate(imported, 1):
        # A segment stands where its frames stand in the whole render, which
        # begins at the record frame: counted from there, a range starting
        # between two frames cannot shift the segments by one.
        entry["frame"] = record_frame + round(max(0.0, entry["start"] - max(0.0, start_seconds)) * rate)
        entry["length"] = clip_frames(entry["clip"], rate)
        if use_segments:
            entry["name"] = ("Tessivo %03d - %s" % (n, entry["text"][:44])) if entry["text"] else "%03d" % n
        else:
            entry["name"] = "Tessivo %03d" % n
    tracks, items = place(timeline, pool, "video", OVERLAY, imported, 1)
    placed = [e for e in imported if e["placed"]]
    missing = [e for e in imported if not e["placed"]]
    if not placed:
        names = ", ".join(e["name"] for e in missing)
        if use_segments:
            fail("Les segments sont importes, mais DaVinci n'a pas pu les placer sur la timeline.",
                 "Non placés : " + names, filePath=render_path)
        fail("Le rendu est importe, mais DaVinci n'a pas pu le placer sur la timeline.",
             "Non placé : " + names, filePath=render_path)
    for entry, item in zip(imported, items):
        if entry["placed"]:
            rename(item, entry["name"])

    warnings = []
    if missing:
        warnings.append("DaVinci n'a pas placé %d segment%s : %s." % (
            len(missing), "s" if len(missing) > 1 else "", ", ".join(e["name"] for e in missing)))

    sfx_count = 0
    if sfx_files:
        try:
            sounds = []
            for record in sfx_files:
                path = str(record.get("filePath") or "")
                if not path or not os.path.isfile(path):
                    continue
                clip = import_one(pool, path)
                if not clip:
                    continue
                name = str(record.get("name") or "").strip() or "SFX"
                volume = tessivo_number(record.get("volume", 0.85), 0.85)
                sounds.append({"clip": clip, "frame": first + round(max(0.0, tessivo_number(record.get("start", start_seconds),
                                                                                         start_seconds)) * rate),
                               "length": clip_frames(clip, rate), "name": name, "volume": volume})
            if sounds:
                _, sound_items = place(timeline, pool, "audio", SFX_TRACK, sounds, 2)
                for sound, item in zip(sounds, sound_items):
                    if not sound["placed"] or not item:
                        continue
                    sfx_count += 1
                    rename(item, "Tessivo SFX - %s" % sound["name"])
                    tessivo_set_volume(item, min(max(sound["volume"], 0.0), 1.0))
                lost = [s["name"] for s in sounds if not s["placed"]]
                if lost and sfx_count:
                    warnings.append("DaVinci n'a pas placé %d SFX : %s." % (len(lost), ", ".join(lost)))
            if sfx_count == 0:
                warnings.append("Les captions sont placées, mais DaVinci n'a pas importé les SFX.")
        except Exception as error:
            warnings.append("Les captions sont placées, mais l'import SFX a échoué: %s" % error)

    try:
        manager.SaveProject()
    except Exception:
        pass

    emit({
        "success": True,
        "message": "Rendu ajoute et decoupe dans DaVinci Resolve." if use_segments
        else "Rendu transparent ajoute dans DaVinci Resolve.",
        "filePath": render_path,
        "timelineName": str(timeline.GetName() or ""),
        "videoTrack": tracks[0],
        "videoTracks": tracks,
        "recordFrame": record_frame,
        "startSeconds": start_seconds,
        "clipCount": len(placed),
        "splitRequested": split,
        "splitApplied": use_segments,
        "segmentCount": len(segments),
        "sfxCount": sfx_count,
        "warning": " ".join(warnings) if warnings else None,
        "subtitleTrackDisabled": subtitle_disabled,
    })


try:
    main()
except SystemExit:
    raise
except Exception:
    fail("Erreur pendant l'envoi du rendu vers DaVinci Resolve.", traceback.format_exc(), filePath=RENDER_PATH)
