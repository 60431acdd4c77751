# Imports the dotLottie archives of one export into the Media Pool, places them
# on new video tracks at their blocks' times (one lane track per set of
# overlapping blocks), adds the sound effects on new audio tracks, checks what
# Resolve really placed, and prints one JSON result after the marker.
# Argument 1: the clip records; argument 2: the sound-effect files (JSON lists).
# The placement functions (tessivo_*) are prepended to this text.
import json
import math
import os
import sys
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"
LANE_NAME = "Tessivo Lottie"
SFX_LANE_NAME = "Tessivo SFX"
NOT_ALL_PLACED = "Les animations sont dans le Media Pool, mais Resolve n'a pas placé tous les clips sur la timeline."

# What this run has changed on the timeline so far, for the account a failure gives.
CHANGES = {"tracks": [], "wanted": [], "found": []}


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False, allow_nan=False), flush=True)


def fail(message, details=None, file_path=None):
    payload = {"success": False, "mode": "lottie", "message": message, "details": details}
    if file_path is not None:
        payload["filePath"] = file_path
    emit(payload)
    sys.exit(0)


def parse_list(index):
    try:
        value = json.loads(sys.argv[index])
    except (IndexError, TypeError, ValueError):
        return []
    return value if isinstance(value, list) else []


def as_list(value):
    if isinstance(value, dict):
        return list(value.values())
    return list(value) if isinstance(value, (list, tuple)) else []






def record_frame(start_frame, seconds, rate):
    # round() rounds halves to even.
    return start_frame + int(round(max(0.0, tessivo_number(seconds, 0.0)) * rate))


def media_length(item, seconds, rate):
    """The length in timeline frames Resolve gives the pool item: its own frame
    count converted to the timeline rate (floored, as Resolve converts), else
    the block's duration in frames. At least 1."""
    try:
        frames = tessivo_number(item.GetClipProperty("Frames"), 0.0)
        fps = tessivo_number(item.GetClipProperty("FPS"), 0.0)
    except Exception:
        frames = fps = 0.0
    if frames > 0 and fps > 0:
        return max(1, int(math.floor(frames * rate / fps + 1e-9)))
    return max(1, int(math.ceil(max(0.0, tessivo_number(seconds, 0.0)) * rate - 1e-9)))


def clip_label(clip, index):
    text = str(clip.get("text") or "").strip().replace("\r\n", " ").replace("\n", " ").replace("\r", " ")
    return text[:44] if text else "%03d" % (index + 1)


def changes_summary():
    """What the timeline holds from this run: the items placed per track, or
    the tracks added when nothing was placed."""
    placed = tessivo_placement_summary("video", CHANGES["wanted"], CHANGES["found"])
    if placed:
        return "Placés sur la timeline : " + placed + "."
    if CHANGES["tracks"]:
        return "Pistes vidéo ajoutées, restées vides : " + ", ".join(str(t) for t in CHANGES["tracks"]) + "."
    return "La timeline n'a pas été modifiée."


def items_at(timeline, kind, wanted, found, before):
    """The timeline item standing at each found (track, frame), by entry index;
    items the track held before the append (`before`: starts per track) are not ours."""
    by_track = {}
    result = {}
    for index in found:
        track, frame = wanted[index]
        if track not in by_track:
            try:
                items = [item for item in as_list(timeline.GetItemListInTrack(kind, track)) if item]
            except Exception:
                items = []
            for start in before.get(track, []):
                for item in items:
                    if tessivo_item_start(item) == start:
                        items.remove(item)
                        break
            by_track[track] = items
        for item in by_track[track]:
            if tessivo_item_start(item) == frame:
                result[index] = item
                by_track[track].remove(item)
                break
    return result


def place(pool, timeline, kind, media_type, base_name, entries):
    """Puts (pool item, record frame, length) entries on new lane tracks of
    `kind`, appends them, and returns (lane track indices, wanted (track,
    frame) pairs, indices found in place, items found by index)."""
    lanes = tessivo_track_lanes([(frame, frame + length) for _, frame, length in entries])
    tracks = tessivo_add_lane_tracks(timeline, kind, base_name, max(lanes) + 1 if lanes else 1)
    if kind == "video":
        CHANGES["tracks"] = list(tracks)
    wanted = [(tracks[lane], frame) for lane, (_, frame, _) in zip(lanes, entries)]
    if kind == "video":
        CHANGES["wanted"] = wanted
    infos = [{"mediaPoolItem": item, "trackIndex": track, "recordFrame": frame, "mediaType": media_type}
             for (item, _, _), (track, frame) in zip(entries, wanted)]
    # A lane track Resolve did not add is an existing one: what it held before is not ours.
    before = {track: tessivo_placed_starts(timeline, kind, track) for track in set(tracks)}
    pool.AppendToTimeline(infos)
    found = tessivo_verify_placement(timeline, kind, wanted, before)
    if kind == "video":
        CHANGES["found"] = found
    return tracks, wanted, found, items_at(timeline, kind, wanted, found, before)


def add_sound_effects(pool, timeline, sfx_list, start_frame, rate):
    """Returns (sfxCount, warning)."""
    entries, names, volumes = [], [], []
    for sfx in sfx_list:
        if not isinstance(sfx, dict):
            continue
        path = sfx.get("filePath")
        if not isinstance(path, str) or not path or not os.path.exists(path):
            continue
        imported = as_list(orvel_import_project_media(pool, [path]))
        if not imported or not imported[0]:
            continue
        frame = record_frame(start_frame, sfx.get("start"), rate)
        entries.append((imported[0], frame, media_length(imported[0], 0.0, rate)))
        names.append(str(sfx.get("name") or "SFX"))
        volumes.append(tessivo_number(sfx.get("volume", 0.85), 0.85))
    if not entries:
        return 0, "Les clips Lottie sont placés, mais DaVinci n'a pas importé les SFX."
    _, _, found, items = place(pool, timeline, "audio", 2, SFX_LANE_NAME, entries)
    for index, item in items.items():
        try:
            item.SetName("Tessivo SFX - %s" % names[index])
        except Exception:
            pass
        tessivo_set_volume(item, min(max(volumes[index], 0.0), 1.0))
    if not found:
        return 0, "Les clips Lottie sont placés, mais DaVinci n'a pas importé les SFX."
    missing = [names[i] for i in range(len(entries)) if i not in set(found)]
    if missing:
        return len(found), "Les clips Lottie sont placés, mais DaVinci n'a pas placé ces SFX : %s." % ", ".join(missing)
    return len(found), None


def main():
    clips = [c for c in parse_list(1) if isinstance(c, dict)]
    sfx_list = parse_list(2)
    if not clips:
        fail("Aucun clip Lottie à importer.")
    for clip in clips:
        path = clip.get("filePath")
        if not isinstance(path, str) or not path or not os.path.exists(path):
            fail("Une animation Lottie Tessivo est introuvable.", file_path=path if isinstance(path, str) else "")

    try:
        import DaVinciResolveScript as bmd
        resolve = bmd.scriptapp("Resolve")
    except ImportError:
        resolve = None
    if not resolve:
        fail("DaVinci Resolve n'est pas ouvert ou le scripting externe n'est pas activé.")
    manager = resolve.GetProjectManager()
    project = manager.GetCurrentProject() if manager else None
    if not project:
        fail("Aucun projet DaVinci Resolve ouvert.")
    timeline = project.GetCurrentTimeline()
    if not timeline:
        fail("Aucune timeline active dans DaVinci Resolve.")
    pool = project.GetMediaPool()
    if not pool:
        fail("Media Pool DaVinci indisponible.")

    # Every archive is imported before the timeline is touched: a refused one leaves it as it was.
    pool_items = []
    for clip in clips:
        imported = as_list(orvel_import_project_media(pool, [clip["filePath"]]))
        if not imported or not imported[0]:
            fail("DaVinci a refusé une animation .lottie. Utilise Exact Web pour ce bloc ou vérifie Resolve 21.",
                 file_path=clip["filePath"])
        pool_items.append(imported[0])

    rate = tessivo_timeline_rate(timeline, project)[0]
    start_frame = int(tessivo_number(timeline.GetStartFrame(), 0.0))

    entries = []
    for clip, item in zip(clips, pool_items):
        seconds = max(0.0, tessivo_number(clip.get("end"), 0.0) - max(0.0, tessivo_number(clip.get("start"), 0.0)))
        entries.append((item, record_frame(start_frame, clip.get("start"), rate), media_length(item, seconds, rate)))
    tracks, wanted, found, items = place(pool, timeline, "video", 1, LANE_NAME, entries)
    labels = [clip_label(clip, i) for i, clip in enumerate(clips)]
    if len(found) != len(clips):
        missing = [labels[i] for i in range(len(clips)) if i not in set(found)]
        fail(NOT_ALL_PLACED, "Blocs absents : %s. %s" % (", ".join("« %s »" % m for m in missing), changes_summary()))
    for index, item in items.items():
        try:
            item.SetName("Tessivo Lottie %03d - %s" % (index + 1, labels[index]))
        except Exception:
            pass
        try:
            item.SetClipColor("Green")
        except Exception:
            pass

    subtitle_disabled = False
    try:
        if (timeline.GetTrackCount("subtitle") or 0) >= 1:
            subtitle_disabled = bool(timeline.SetTrackEnable("subtitle", 1, False))
    except Exception:
        subtitle_disabled = False

    sfx_count, warning = 0, None
    if sfx_list:
        try:
            sfx_count, warning = add_sound_effects(pool, timeline, sfx_list, start_frame, rate)
        except Exception as error:
            warning = "Les clips Lottie sont placés, mais l'import SFX a échoué: %s" % error

    try:
        manager.SaveProject()
    except Exception:
        pass

    emit({
        "success": True,
        "mode": "lottie",
        "renderer": "lottie",
        "message": "%d animations Lottie envoyées dans DaVinci sans encodage vidéo." % len(found),
        "timelineName": timeline.GetName(),
        "videoTrack": tracks[0],
        "videoTracks": tracks,
        "clipCount": len(found),
        "sfxCount": sfx_count,
        "warning": warning,
        "subtitleTrackDisabled": subtitle_disabled,
        "filePaths": [clip["filePath"] for clip in clips],
    })


if __name__ == "__main__":
    try:
        main()
    except SystemExit:
        raise
    except Exception:
        fail("Erreur pendant l'envoi Lottie vers DaVinci Resolve.", traceback.format_exc() + "\n" + changes_summary())
