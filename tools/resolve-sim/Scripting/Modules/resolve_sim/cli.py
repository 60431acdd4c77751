"""The `resolve-sim` command: builds and inspects the simulated Resolve's state."""

import argparse
import json
import os
import sys

from . import fusion, media, model, store, timecode


class CommandError(Exception):
    pass


def _timeline(state):
    timeline = model.current_timeline(state)
    if timeline is None:
        raise CommandError("no current timeline")
    return timeline


def _bool(text):
    value = str(text).strip().lower()
    if value in ("1", "true", "yes", "on"):
        return True
    if value in ("0", "false", "no", "off"):
        return False
    raise CommandError("expected true or false, got %r" % text)


def cmd_init(args):
    if args.profile not in model.PROFILES:
        raise CommandError("unknown profile %r (known: %s)" % (args.profile, ", ".join(model.PROFILES)))
    rate, df = timecode.parse_rate(args.fps)
    if rate is None:
        raise CommandError("bad frame rate %r" % args.fps)
    try:
        width, height = (int(v) for v in args.resolution.lower().split("x"))
    except ValueError:
        raise CommandError("bad resolution %r" % args.resolution)
    state = model.default_state()
    state["app"]["profile"] = args.profile
    state["app"]["studio"] = args.studio
    state["app"]["page"] = args.page
    project = model.current_project(state)
    project["name"] = args.project
    # "Untitled Project" stands for Resolve's never-saved start-up project.
    project["saved"] = args.project != "Untitled Project"
    project["settings"] = model.default_project_settings(timecode.format_rate(rate), width, height,
                                                        timecode.drop_frame_applies(rate, df))
    if args.timeline:
        if timecode.timecode_to_frames(args.start_timecode, rate, df) is None:
            raise CommandError("bad start timecode %r" % args.start_timecode)
        timeline = model.new_timeline(state, project, args.timeline, args.start_timecode,
                                      args.video_tracks, args.audio_tracks, args.subtitle_tracks)
        project["currentTimeline"] = timeline["id"]
    store.replace_state(state, args.state)
    print("initialised %s" % (args.state or store.state_path()))


def _ensure_tracks(timeline, ttype, count):
    while len(timeline["tracks"][ttype]) < count:
        model.add_track(timeline, ttype, "stereo" if ttype == "audio" else None)
    return timeline["tracks"][ttype][count - 1]


def cmd_load_srt(args):
    cues = media.read_srt(args.file)
    if not cues:
        raise CommandError("no cues in %s" % args.file)
    with store.transaction(args.state) as st:
        timeline = _timeline(st)
        rate, df = model.timeline_rate(st, timeline)
        track = _ensure_tracks(timeline, "subtitle", args.track)
        if args.disabled:
            track["enabled"] = False
        origin = timeline["startFrame"]
        if args.offset:
            origin = timecode.parse_position(args.offset, rate, df, timeline["startFrame"])
        added = 0
        for start_s, end_s, text in cues:
            start = origin + int(round(start_s * rate))
            end = origin + int(round(end_s * rate))
            if end <= start or not model.span_free(track, start, end):
                continue
            model.place_item(track, model.new_item("subtitle", text, start, end, text=text))
            added += 1
    print("%d subtitle items on ST%d" % (added, args.track))


def _span(args, st, timeline, default_duration):
    rate, df = model.timeline_rate(st, timeline)
    start = timeline["startFrame"]
    if args.start is not None:
        start = timecode.parse_position(args.start, rate, df, timeline["startFrame"])
    if args.duration is not None:
        duration = timecode.parse_position(args.duration, rate, df, 0)
        if ":" in str(args.duration) or ";" in str(args.duration):
            duration = timecode.timecode_to_frames(args.duration, rate, False)
    else:
        duration = default_duration(rate)
    if duration is None or duration < 0:
        raise CommandError("bad duration")
    return start, start + duration


def cmd_add_clip(args):
    with store.transaction(args.state) as st:
        timeline = _timeline(st)
        project = model.current_project(st)
        ttype = "audio" if args.audio else "video"
        track = _ensure_tracks(timeline, ttype, args.track)
        clip = None
        if args.media:
            path = os.path.abspath(args.media)
            info = media.probe(path)
            if info is None:
                raise CommandError("cannot read %s with ffprobe" % path)
            ctype = "Video + Audio" if info["hasVideo"] and info["hasAudio"] else ("Video" if info["hasVideo"] else "Audio")
            if media.classify(path, True) == "Still":
                ctype = "Still"
            rate, _ = model.timeline_rate(st, timeline)
            fps = info["fps"] or rate
            frames = info["frames"] or int(info["duration"] * fps)
            if ctype == "Still":
                frames = int(round(model.DEFAULT_STILL_SECONDS * rate))
            clip = model.new_clip(st, project["rootFolder"], os.path.basename(path), ctype, path=path,
                                  fps=float(fps), frames=int(frames), width=info["width"], height=info["height"],
                                  hasVideo=info["hasVideo"], hasAudio=info["hasAudio"])

            def default_duration(rate):
                if ctype == "Still" or not clip["fps"]:
                    return clip["frames"]
                return int(clip["frames"] * rate / clip["fps"])
        else:
            def default_duration(rate):
                return int(round(5 * rate))
        start, end = _span(args, st, timeline, default_duration)
        if end <= start:
            raise CommandError("empty clip")
        if not model.span_free(track, start, end):
            raise CommandError("the span is occupied on %s %d" % (ttype, args.track))
        name = args.name or (clip["name"] if clip else "Clip")
        item = model.new_item(ttype, name, start, end, clip=clip["id"] if clip else None,
                              sourceStart=0, sourceEnd=end - start)
        model.place_item(track, item)
    print(item["id"])


def cmd_add_fusion_title(args):
    with open(args.file, "r", encoding="utf-8") as handle:
        text = handle.read()
    if not fusion.is_valid_comp(text):
        raise CommandError("%s is not a composition" % args.file)
    with store.transaction(args.state) as st:
        timeline = _timeline(st)
        track = _ensure_tracks(timeline, "video", args.track)
        start, end = _span(args, st, timeline, lambda rate: int(round(model.DEFAULT_TITLE_SECONDS * rate)))
        if end <= start or not model.span_free(track, start, end):
            raise CommandError("the span is empty or occupied")
        comp = {"id": model.new_id(), "name": "Composition 1", "setting": text}
        item = model.new_item("title", args.name, start, end, comps=[comp])
        model.place_item(track, item)
    print(item["id"])


def _item_by_position(timeline, ttype, track, index):
    t = model.track_of(timeline, ttype, track)
    if t is None or not 1 <= index <= len(t["items"]):
        raise CommandError("no item %d on %s track %d" % (index, ttype, track))
    return t["items"][index - 1]


def cmd_select(args):
    with store.transaction(args.state) as st:
        timeline = _timeline(st)
        project = model.current_project(st)
        if args.clear:
            timeline["selectedItems"] = []
            project["selectedClips"] = []
        for target in args.item or []:
            ttype, track, index = _parse_item_target(target)
            item = _item_by_position(timeline, ttype, track, index)
            if item["id"] not in timeline["selectedItems"]:
                timeline["selectedItems"].append(item["id"])
        for name in args.pool_clip or []:
            matches = [c for c in st["clips"].values() if c["name"] == name]
            if not matches:
                raise CommandError("no Media Pool clip named %r" % name)
            if matches[0]["id"] not in project["selectedClips"]:
                project["selectedClips"].append(matches[0]["id"])


def _parse_item_target(target):
    """"video:1:2" = the second item of video track 1."""
    try:
        ttype, track, index = target.split(":")
        return ttype, int(track), int(index)
    except ValueError:
        raise CommandError("an item is TYPE:TRACK:INDEX, e.g. video:1:2")


def cmd_playhead(args):
    with store.transaction(args.state) as st:
        timeline = _timeline(st)
        rate, df = model.timeline_rate(st, timeline)
        timeline["playhead"] = timecode.parse_position(args.position, rate, df, timeline["startFrame"])
        print(timecode.frames_to_timecode(timeline["playhead"], rate, df))


def cmd_timeline(args):
    """Makes the named timeline current, creating it when the project has none
    of that name; with --none the project is left without a current timeline."""
    with store.transaction(args.state) as st:
        project = model.current_project(st)
        if project is None:
            raise CommandError("no current project")
        if args.none:
            project["currentTimeline"] = None
            return
        timeline = next((t for t in project["timelines"] if t["name"] == args.name), None)
        if timeline is None:
            timeline = model.new_timeline(st, project, args.name, args.start_timecode)
        project["currentTimeline"] = timeline["id"]


def cmd_page(args):
    if args.name not in model.PAGES + ["photo"]:
        raise CommandError("unknown page %r" % args.name)
    with store.transaction(args.state) as st:
        st["app"]["page"] = args.name


def cmd_fault(args):
    with store.transaction(args.state) as st:
        if args.action == "clear":
            if args.method:
                st["faults"].pop(args.method, None)
            else:
                st["faults"].clear()
        elif args.action == "set":
            if not args.method or args.mode not in (
                    "none", "false", "raise", "hang", "exit", "garbage", "badutf8", "value", "nan"):
                raise CommandError("usage: fault set METHOD MODE")
            fault = {"mode": args.mode}
            if args.seconds is not None:
                fault["seconds"] = args.seconds
            if args.code is not None:
                fault["code"] = args.code
            if args.times is not None:
                fault["times"] = args.times
            if args.after is not None:
                fault["after"] = args.after
            if args.value is not None:
                fault["value"] = json.loads(args.value)
            if args.args is not None:
                fault["args"] = json.loads(args.args)
            if args.text is not None:
                fault["text"] = args.text
            st["faults"][args.method] = fault
        else:
            print(json.dumps(st["faults"], indent=1))


_SETTERS = {
    "running": ("running", _bool),
    "scripting": ("scriptingEnabled", _bool),
    "studio": ("studio", _bool),
    "end-frame-inclusive": ("endFrameInclusive", _bool),
    "overlap-phantom": ("overlapReturnsPhantom", _bool),
    "import-comp-replaces": ("importFusionCompReplaces", _bool),
    "target-follows-new-track": ("targetFollowsNewTrack", _bool),
}


def cmd_set(args):
    with store.transaction(args.state) as st:
        key = args.key
        if key in _SETTERS:
            field, convert = _SETTERS[key]
            st["app"][field] = convert(args.value)
        elif key == "profile":
            if args.value not in model.PROFILES:
                raise CommandError("unknown profile %r" % args.value)
            st["app"]["profile"] = args.value
        elif key == "frame-rate-text":
            # "auto" restores the normal number; anything else is returned verbatim.
            st["app"]["frameRateOverride"] = None if args.value == "auto" else args.value
        elif key == "frame-rate-as-string":
            st["app"]["frameRateAsString"] = None if args.value == "auto" else _bool(args.value)
        elif key == "target-track":
            _timeline(st)["targetVideoTrack"] = int(args.value)
        else:
            raise CommandError("unknown key %r" % key)


def cmd_track(args):
    with store.transaction(args.state) as st:
        timeline = _timeline(st)
        if args.add:
            _ensure_tracks(timeline, args.type, args.index)
        track = model.track_of(timeline, args.type, args.index)
        if track is None:
            raise CommandError("no %s track %d" % (args.type, args.index))
        if args.delete:
            timeline["tracks"][args.type].remove(track)
            return
        if args.enable is not None:
            track["enabled"] = args.enable
        if args.lock is not None:
            track["locked"] = args.lock
        if args.name is not None:
            track["name"] = args.name


def _bin_along(st, path):
    parts = [p for p in path.split("/") if p]
    if not parts or parts[0] not in ("Master", "Power Bins"):
        raise CommandError("a bin path starts with Master or Power Bins")
    folder_id = model.current_project(st)["rootFolder"] if parts[0] == "Master" else st["powerBinRoot"]
    for name in parts[1:]:
        children = [c for c in st["folders"][folder_id]["children"] if st["folders"][c]["name"] == name]
        folder_id = children[0] if children else model.new_folder(st, name, folder_id)["id"]
    return folder_id


def cmd_bin(args):
    with store.transaction(args.state) as st:
        folder_id = _bin_along(st, args.path)
        if args.current:
            model.current_project(st)["currentFolder"] = folder_id
    print(folder_id)


def cmd_pool_clip(args):
    """A Media Pool clip without media, such as a Text+ title kept in a bin."""
    with store.transaction(args.state) as st:
        clip = model.new_clip(st, _bin_along(st, args.bin), args.name, args.type)
    print(clip["id"])


def describe(state):
    lines = []
    a = state["app"]
    lines.append("Resolve %s%s, page %s, running %s, external scripting %s" % (
        a["profile"], " Studio" if a["studio"] else "", a["page"], a["running"], a["scriptingEnabled"]))
    project = model.current_project(state)
    if project is None:
        lines.append("no current project")
        return "\n".join(lines)
    timeline = model.current_timeline(state)
    lines.append("Project %r, %d timeline(s)" % (project["name"], len(project["timelines"])))
    if state["faults"]:
        lines.append("Faults: " + ", ".join("%s=%s" % (k, v["mode"]) for k, v in sorted(state["faults"].items())))
    if timeline is None:
        lines.append("no current timeline")
        return "\n".join(lines)
    rate, df = model.timeline_rate(state, timeline)
    settings = model.timeline_settings(state, timeline)

    def tc(frame):
        return timecode.frames_to_timecode(frame, rate, df)

    lines.append("Timeline %r  %s fps%s  %sx%s  start %s (frame %d)  playhead %s" % (
        timeline["name"], timecode.format_rate(rate), " DF" if df else "",
        settings.get("timelineResolutionWidth"), settings.get("timelineResolutionHeight"),
        tc(timeline["startFrame"]), timeline["startFrame"], tc(timeline["playhead"])))
    for ttype, prefix in (("video", "V"), ("audio", "A"), ("subtitle", "ST")):
        for index, track in enumerate(timeline["tracks"][ttype], 1):
            flags = ("" if track["enabled"] else " disabled") + (" locked" if track["locked"] else "")
            lines.append("%s%d %r%s" % (prefix, index, model.track_name(ttype, index, track), flags))
            for pos, item in enumerate(track["items"], 1):
                label = item.get("text", item["name"]) if item["kind"] == "subtitle" else item["name"]
                if item["comps"]:
                    shown = fusion.title_text(item["comps"][min(item.get("activeComp", 0), len(item["comps"]) - 1)]["setting"])
                    if shown:
                        label += "  [" + shown + "]"
                lines.append("  %3d  %s - %s  %6d-%-6d  %-9s %s" % (
                    pos, tc(item["start"]), tc(item["end"]), item["start"], item["end"], item["kind"],
                    label.replace("\n", " / ")))
    return "\n".join(lines)


def cmd_show(args):
    with store.transaction(args.state) as st:
        print(describe(st))


def cmd_dump(args):
    with store.transaction(args.state) as st:
        print(json.dumps(st, ensure_ascii=False, indent=1))


def build_parser():
    parser = argparse.ArgumentParser(prog="resolve-sim", description="Simulated DaVinci Resolve state.")
    parser.add_argument("--state", help="state file (default: $%s)" % store.ENV_VAR)
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("init", help="start a fresh state")
    p.add_argument("--fps", default="24")
    p.add_argument("--resolution", default="1920x1080")
    p.add_argument("--start-timecode", default="01:00:00:00")
    p.add_argument("--profile", default="21.1")
    p.add_argument("--studio", dest="studio", action="store_true", default=True)
    p.add_argument("--no-studio", dest="studio", action="store_false")
    p.add_argument("--project", default="Tessivo Demo")
    p.add_argument("--timeline", default="Timeline 1", help="empty text: no timeline")
    p.add_argument("--video-tracks", type=int, default=1)
    p.add_argument("--audio-tracks", type=int, default=1)
    p.add_argument("--subtitle-tracks", type=int, default=0)
    p.add_argument("--page", default="edit")
    p.set_defaults(func=cmd_init)

    p = sub.add_parser("load-srt", help="subtitle items from an SRT file")
    p.add_argument("file")
    p.add_argument("--track", type=int, default=1)
    p.add_argument("--disabled", action="store_true")
    p.add_argument("--offset", help="where 00:00:00,000 lands (timecode, or frames from the start)")
    p.set_defaults(func=cmd_load_srt)

    p = sub.add_parser("add-clip", help="a video (or audio) item")
    p.add_argument("--media", help="media file (read with ffprobe)")
    p.add_argument("--name", help="item name (a synthetic clip when --media is absent)")
    p.add_argument("--start", help="timecode, or frames / seconds (5s) from the timeline start")
    p.add_argument("--duration", help="frames, seconds (5s) or a timecode-style length")
    p.add_argument("--track", type=int, default=1)
    p.add_argument("--audio", action="store_true", help="put it on an audio track")
    p.set_defaults(func=cmd_add_clip)

    p = sub.add_parser("add-fusion-title", help="a Fusion title item from a .setting file")
    p.add_argument("file")
    p.add_argument("--name", default="Text+")
    p.add_argument("--start")
    p.add_argument("--duration")
    p.add_argument("--track", type=int, default=1)
    p.set_defaults(func=cmd_add_fusion_title)

    p = sub.add_parser("select", help="select timeline items (TYPE:TRACK:INDEX) or Media Pool clips")
    p.add_argument("item", nargs="*")
    p.add_argument("--pool-clip", action="append")
    p.add_argument("--clear", action="store_true")
    p.set_defaults(func=cmd_select)

    p = sub.add_parser("playhead", help="move the playhead")
    p.add_argument("position")
    p.set_defaults(func=cmd_playhead)

    p = sub.add_parser("timeline", help="switch the current timeline (created when absent)")
    p.add_argument("name", nargs="?", default="Timeline 2")
    p.add_argument("--start-timecode", default="01:00:00:00")
    p.add_argument("--none", action="store_true", help="no current timeline")
    p.set_defaults(func=cmd_timeline)

    p = sub.add_parser("page", help="switch the current page")
    p.add_argument("name")
    p.set_defaults(func=cmd_page)

    p = sub.add_parser("fault", help="inject or clear faults")
    p.add_argument("action", choices=["set", "clear", "list"])
    p.add_argument("method", nargs="?")
    p.add_argument("mode", nargs="?")
    p.add_argument("--seconds", type=float)
    p.add_argument("--code", type=int)
    p.add_argument("--times", type=int, help="apply to this many calls, then clear")
    p.add_argument("--after", type=int, help="let this many calls through first")
    p.add_argument("--value", help="JSON value returned in mode 'value'")
    p.add_argument("--args", help="JSON list: only calls with exactly these arguments")
    p.add_argument("--text", help="text printed in mode 'garbage'")
    p.set_defaults(func=cmd_fault)

    p = sub.add_parser("set", help="set a flag: " + ", ".join(
        sorted(list(_SETTERS) + ["profile", "frame-rate-text", "frame-rate-as-string", "target-track"])))
    p.add_argument("key")
    p.add_argument("value")
    p.set_defaults(func=cmd_set)

    p = sub.add_parser("track", help="change a track")
    p.add_argument("type", choices=list(model.TRACK_TYPES))
    p.add_argument("index", type=int)
    p.add_argument("--add", action="store_true", help="create tracks up to this index")
    p.add_argument("--enable", dest="enable", action="store_true", default=None)
    p.add_argument("--disable", dest="enable", action="store_false")
    p.add_argument("--lock", dest="lock", action="store_true", default=None)
    p.add_argument("--unlock", dest="lock", action="store_false")
    p.add_argument("--name")
    p.add_argument("--delete", action="store_true")
    p.set_defaults(func=cmd_track)

    p = sub.add_parser("bin", help="create Media Pool bins along a path (Master/... or Power Bins/...)")
    p.add_argument("path")
    p.add_argument("--current", action="store_true", help="make the bin the current folder")
    p.set_defaults(func=cmd_bin)

    p = sub.add_parser("pool-clip", help="a Media Pool clip without media in a bin (a Text+ title: --type 'Fusion Title')")
    p.add_argument("bin")
    p.add_argument("name")
    p.add_argument("--type", default="Fusion Title")
    p.set_defaults(func=cmd_pool_clip)

    p = sub.add_parser("show", help="tracks and items as a table")
    p.set_defaults(func=cmd_show)
    p = sub.add_parser("dump", help="the state as JSON")
    p.set_defaults(func=cmd_dump)
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    if args.state:
        args.state = os.path.abspath(args.state)
        os.environ[store.ENV_VAR] = args.state
    try:
        args.func(args)
    except (CommandError, ValueError, OSError) as error:
        print("resolve-sim: %s" % error, file=sys.stderr)
        return 2
    return 0
