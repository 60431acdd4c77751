# Inserts one Fusion composition clip per caption block into the active
# timeline and places the sound effects on their own audio track. Argument 1:
# the clip records [{"filePath", "start", "end", "duration", "text"}];
# argument 2: the sound-effect files [{"filePath", "start", "name", "volume"}].
# Starts with the placement functions (lanes, named tracks, placement check).
import json
import os
import sys
import traceback

RESOLVE_SCRIPT_API = os.environ.get("RESOLVE_SCRIPT_API") or "/opt/resolve/Developer/Scripting"
RESOLVE_MODULES = os.path.join(RESOLVE_SCRIPT_API, "Modules")
if RESOLVE_MODULES not in sys.path:
    sys.path.insert(0, RESOLVE_MODULES)

MARKER = "__ORVEL_JSON__"
TRACK_NAME = "Tessivo Fusion"
SFX_TRACK_NAME = "Tessivo SFX"
# Placed so far, as (track, record frame) pairs, for the account of a failure.
PLACED = []


def emit(payload):
    print(MARKER + json.dumps(payload, ensure_ascii=False), flush=True)


def fail(message, details=None, file_path=None):
    placed = tessivo_placement_summary("video", PLACED, list(range(len(PLACED))))
    if placed:
        note = "Déjà placés : " + placed
        details = note if details is None else "%s\n%s" % (details, note)
    payload = {"success": False, "message": message, "details": details}
    if file_path is not None:
        payload["filePath"] = file_path
    emit(payload)
    sys.exit(0)


def load_list(position):
    """Argument `position` as a list of dictionaries; missing or unreadable is empty."""
    try:
        value = json.loads(sys.argv[position])
    except (IndexError, ValueError, TypeError):
        return []
    if not isinstance(value, list):
        return []
    return [entry for entry in value if isinstance(entry, dict)]




def frame_rate(timeline, project):
    """The timeline rate and whether its timecode drops frames."""
    rate, text = tessivo_timeline_rate(timeline, project)
    drop = "DF" in [t.upper() for t in text.replace(",", ".").split()[1:]]
    if not drop:
        for source in (timeline, project):
            try:
                flag = source.GetSetting("timelineDropFrameTimecode")
            except Exception:
                flag = None
            if flag not in (None, ""):
                drop = str(flag).strip() in ("1", "True", "true")
                break
    # Only the 29.97 and 59.94 families drop frame numbers.
    nominal = int(round(rate))
    drop = drop and nominal in (30, 60) and abs(rate - nominal) > 1e-6
    return rate, drop


def frames_at(seconds, rate):
    """Frames of `seconds` at `rate`, halves rounded to even."""
    return int(round(seconds * rate))


def timecode(frame, rate, drop):
    """Timecode of an absolute frame. A drop-frame timeline skips two frame
    numbers (four at 59.94) at each minute except every tenth, so its
    timecode is counted with those gaps, and written with ';' before the frames."""
    r = int(round(rate)) or 24
    f = int(round(frame))
    separator = ":"
    if drop and r in (30, 60) and f >= 0:
        dropped = r // 15
        per_ten_minutes = r * 600 - 9 * dropped
        per_minute = r * 60 - dropped
        tens, rest = divmod(f, per_ten_minutes)
        f += 9 * dropped * tens
        if rest >= dropped:
            f += dropped * ((rest - dropped) // per_minute)
        separator = ";"
    hours, rest = divmod(f, r * 3600)
    minutes, rest = divmod(rest, r * 60)
    seconds, frames = divmod(rest, r)
    return "%02d:%02d:%02d%s%02d" % (hours, minutes, seconds, separator, frames)


def move_playhead(timeline, frame, rate, drop):
    text = timecode(frame, rate, drop)
    try:
        if timeline.SetCurrentTimecode(text):
            return
        if ";" in text:
            timeline.SetCurrentTimecode(text.replace(";", ":"))
    except Exception:
        pass


def block_label(clip, index):
    text = str(clip.get("text") or "").strip()[:44]
    return text or "%03d" % (index + 1)


def block_name(index, clip):
    return "%03d « %s »" % (index + 1, block_label(clip, index))


def item_place(item):
    """Where an item stands: "piste vidéo N, image F" as far as Resolve tells."""
    try:
        kind_index = item.GetTrackTypeAndIndex()
        track = int(kind_index[1])
    except Exception:
        track = None
    start = tessivo_item_start(item)
    parts = []
    if track is not None:
        parts.append("piste vidéo %d" % track)
    if start is not None:
        parts.append("image %d" % start)
    return ", ".join(parts) or "position inconnue"


def track_listing_readable(timeline, kind, track):
    try:
        items = timeline.GetItemListInTrack(kind, track)
    except Exception:
        return False
    return isinstance(items, (list, tuple, dict))


def item_stands_at(item, kind, track, frame):
    """What the item itself reports, for builds whose track listing is unreadable."""
    try:
        place = item.GetTrackTypeAndIndex()
        return place[0] == kind and int(place[1]) == track and tessivo_item_start(item) == frame
    except Exception:
        return False


def is_placed(timeline, kind, track, frame, item, before):
    """Whether Resolve holds a new item on `track` at `frame`: read from the
    track, or from the item when the track cannot be listed."""
    if track_listing_readable(timeline, kind, track):
        return bool(tessivo_verify_placement(timeline, kind, [(track, frame)], before))
    return item_stands_at(item, kind, track, frame)


def insert_clip(timeline, index, clip, track, record, length, start_frame, rate, drop):
    path = str(clip.get("filePath") or "")
    if not path or not os.path.exists(path):
        fail("Un fichier Fusion Tessivo est introuvable.", file_path=path)
    # Marks are counted from the timeline start; the playhead takes the
    # absolute frame as a timecode.
    try:
        timeline.SetMarkInOut(record - start_frame, record + length - 1 - start_frame, "video")
    except Exception:
        pass
    move_playhead(timeline, record, rate, drop)

    before = {track: tessivo_placed_starts(timeline, "video", track)}
    try:
        item = timeline.InsertFusionCompositionIntoTimeline()
    except Exception as error:
        fail("DaVinci a refusé la création d'une composition Fusion.", str(error), path)
    if not item:
        fail("DaVinci n'a pas créé le clip Fusion. Vérifie que tu es sur la page Edit et qu'une timeline est active.",
             file_path=path)
    if not is_placed(timeline, "video", track, record, item, before):
        where = item_place(item)
        try:
            timeline.DeleteClips([item])
        except Exception:
            pass
        fail("DaVinci n'a pas placé le bloc Fusion %s sur la piste vidéo %d à l'image %d (reçu : %s)."
             % (block_name(index, clip), track, record, where), file_path=path)

    comp = None
    try:
        comp = item.ImportFusionComp(path)
    except Exception:
        comp = None
    if not comp:
        try:
            if (item.GetFusionCompCount() or 0) < 1:
                item.AddFusionComp()
            comp = item.ImportFusionComp(path)
        except Exception:
            comp = None
    if not comp:
        PLACED.append((track, record))
        fail("Le clip Fusion est créé, mais Resolve n'a pas importé le style Tessivo.", file_path=path)

    try:
        item.SetName("Tessivo Fusion %03d - %s" % (index + 1, block_label(clip, index)))
    except Exception:
        pass
    try:
        item.SetClipColor("Teal")
    except Exception:
        pass
    PLACED.append((track, record))
    return item


def place_sound(pool, timeline, lanes, effect, frame):
    """Appends one sound at `frame`, on the first sound lane that takes it (a
    new lane when every existing one refuses). Returns (item, track) or None."""
    try:
        imported = orvel_import_project_media(pool, [effect["filePath"]])
    except Exception:
        return None
    media = imported[0] if imported else None
    if not media:
        return None
    entry = {"mediaPoolItem": media, "mediaType": 2, "recordFrame": frame}
    tried_new = False
    index = 0
    while index < len(lanes) or not tried_new:
        if index >= len(lanes):
            lanes.append(tessivo_add_track(timeline, "audio", tessivo_lane_name(SFX_TRACK_NAME, len(lanes))))
            tried_new = True
        track = lanes[index]
        before = {track: tessivo_placed_starts(timeline, "audio", track)}
        appended = pool.AppendToTimeline([dict(entry, trackIndex=track)])
        if appended and is_placed(timeline, "audio", track, frame, appended[0], before):
            return appended[0], track
        index += 1
    if tried_new and len(lanes) > 1 and not tessivo_placed_starts(timeline, "audio", lanes[-1]):
        try:
            if timeline.DeleteTrack("audio", lanes[-1]):
                lanes.pop()
        except Exception:
            pass
    return None


def place_sounds(pool, timeline, effects, start_frame, rate):
    """Returns (placed count, warning or None)."""
    lanes = [tessivo_add_track(timeline, "audio", SFX_TRACK_NAME)]
    placed = 0
    missing = []
    for effect in effects:
        path = str(effect.get("filePath") or "")
        name = str(effect.get("name") or "").strip() or "SFX"
        if not path or not os.path.exists(path):
            missing.append(name)
            continue
        frame = start_frame + frames_at(max(0.0, tessivo_number(effect.get("start"), 0.0)), rate)
        result = place_sound(pool, timeline, lanes, dict(effect, filePath=path), frame)
        if result is None:
            missing.append(name)
            continue
        item, _ = result
        volume = min(max(tessivo_number(effect.get("volume"), 0.85), 0.0), 1.0)
        try:
            item.SetName("Tessivo SFX - %s" % name)
        except Exception:
            pass
        tessivo_set_volume(item, volume)
        placed += 1
    if placed == 0:
        return 0, "Les clips Fusion sont placés, mais DaVinci n'a pas importé les SFX."
    if missing:
        return placed, "Les clips Fusion sont placés, mais DaVinci n'a pas placé ces SFX : %s." % ", ".join(missing)
    return placed, None


def main():
    clips = load_list(1)
    effects = load_list(2)
    if not clips:
        fail("Aucun bloc Fusion à importer dans DaVinci.")
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

    rate, drop = frame_rate(timeline, project)
    start_frame = int(tessivo_number(timeline.GetStartFrame(), 0))

    subtitle_disabled = False
    if (timeline.GetTrackCount("subtitle") or 0) > 0:
        try:
            subtitle_disabled = bool(timeline.SetTrackEnable("subtitle", 1, False))
        except Exception:
            subtitle_disabled = False

    spans = []
    for clip in clips:
        start = tessivo_number(clip.get("start"), 0.0)
        end = tessivo_number(clip.get("end"), start)
        length = max(1, frames_at(max(0.01, end - start), rate))
        record = start_frame + frames_at(max(0.0, start), rate)
        spans.append((record, record + length))
    lanes = tessivo_track_lanes(spans)

    # Titles go in at the playhead on the Edit page's target track: each lane
    # gets its own track, and its blocks are inserted right after it is added.
    tracks = [tessivo_add_track(timeline, "video", TRACK_NAME)]
    try:
        resolve.OpenPage("edit")
    except Exception:
        pass
    wanted = []
    for lane in range(max(lanes) + 1):
        if lane > 0:
            tracks.append(tessivo_add_track(timeline, "video", tessivo_lane_name(TRACK_NAME, lane)))
        for index, clip in enumerate(clips):
            if lanes[index] != lane:
                continue
            record, end = spans[index]
            item = insert_clip(timeline, index, clip, tracks[lane], record, end - record, start_frame, rate, drop)
            wanted.append((index, tracks[lane], record, item))
    try:
        timeline.ClearMarkInOut("video")
    except Exception:
        pass

    # What the timeline holds now, block by block.
    if all(track_listing_readable(timeline, "video", track) for track in tracks):
        found = set(tessivo_verify_placement(timeline, "video", [(t, f) for _, t, f, _ in wanted]))
    else:
        found = {n for n, (_, t, f, item) in enumerate(wanted) if item_stands_at(item, "video", t, f)}
    missing = [block_name(wanted[n][0], clips[wanted[n][0]]) for n in range(len(wanted)) if n not in found]
    if missing:
        PLACED[:] = [(t, f) for n, (_, t, f, _) in enumerate(wanted) if n in found]
        fail("DaVinci n'a pas gardé ces blocs Fusion sur la timeline : %s." % ", ".join(missing))

    sfx_count = 0
    warning = None
    if effects:
        try:
            sfx_count, warning = place_sounds(pool, timeline, effects, start_frame, rate)
        except Exception as error:
            warning = "Les clips Fusion sont placés, mais l'import SFX a échoué: %s" % error

    try:
        manager.SaveProject()
    except Exception:
        pass

    emit({
        "success": True,
        "message": "Blocs Fusion natifs ajoutés dans DaVinci.",
        "timelineName": str(timeline.GetName() or ""),
        "videoTrack": tracks[0],
        "videoTracks": tracks,
        "clipCount": len(found),
        "fusionClipCount": len(found),
        "sfxCount": sfx_count,
        "warning": warning,
        "subtitleTrackDisabled": subtitle_disabled,
        "renderer": "resolve-fusion",
    })


try:
    main()
except Exception:
    fail("Erreur pendant l'envoi Fusion vers DaVinci Resolve.", traceback.format_exc())
