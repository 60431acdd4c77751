// The Python text of the timeline watch child. It polls Resolve twice a
// second and prints one marked line each time the playhead or the timeline
// changes; it ends by itself within half a second once its parent is gone.
#include "presence/timeline_watch.h"

namespace tessivo {

const char* timelineWatchScript() {
    return R"PY(import os, re, sys, time, json
sys.path.insert(0, os.path.join(os.environ.get("RESOLVE_SCRIPT_API", ""), "Modules"))
import DaVinciResolveScript as dvr

MARKER = "__ORVEL_WATCH__"
try:
    PARENT = int(sys.argv[1]) if len(sys.argv) > 1 else 0
except ValueError:
    PARENT = 0


def parent_alive():
    if PARENT <= 0:
        return True
    if os.getppid() != PARENT:
        # Reparented: the engine is gone even if its ID was taken again.
        return False
    try:
        os.kill(PARENT, 0)
        return True
    except PermissionError:
        return True
    except OSError:
        return False


def emit(obj):
    sys.stdout.write(MARKER + json.dumps(obj, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def first_number(text):
    match = re.search(r"[0-9]+(?:[.,][0-9]+)?", str(text or ""))
    return float(match.group(0).replace(",", ".")) if match else None


def frame_rate(timeline, project):
    for owner in (timeline, project):
        try:
            value = first_number(owner.GetSetting("timelineFrameRate"))
        except Exception:
            value = None
        if value:
            return value
    return 30.0


def integer(value, default):
    return int(value) if isinstance(value, (int, float)) and value == value else default


def timecode_frames(text, rate):
    parts = re.split(r"[:;]", str(text))
    try:
        hh, mm, ss, ff = [int(p) for p in parts]
    except ValueError:
        return 0
    n = max(1, round(rate))
    frames = (hh * 3600 + mm * 60 + ss) * n + ff
    if ";" in str(text) and n in (30, 60):
        m = hh * 60 + mm
        frames -= (n // 15) * (m - m // 10)
    return frames


def main():
    resolve = dvr.scriptapp("Resolve")
    last = None
    while parent_alive():
        try:
            manager = resolve.GetProjectManager() if resolve else None
            project = manager.GetCurrentProject() if manager else None
            timeline = project.GetCurrentTimeline() if project else None
            if timeline is None:
                name = (project.GetName() or "") if project else ""
                key = ("empty", name)
                if key != last:
                    emit({"success": False, "needsTimeline": project is not None, "projectName": name})
                    last = key
                if resolve is None or manager is None:
                    resolve = dvr.scriptapp("Resolve")
                time.sleep(0.5)
                continue
            rate = frame_rate(timeline, project)
            start = integer(timeline.GetStartFrame(), 0)
            end = max(integer(timeline.GetEndFrame(), start), start + round(rate * 60))
            shown = timeline.GetCurrentTimecode() or "00:00:00:00"
            displayed = timecode_frames(shown, rate)
            relative = displayed < start
            current = start + displayed if relative else displayed
            current = min(max(current, start), end)
            key = (timeline.GetUniqueId(), start, end, current, relative)
            if key != last:
                emit({"success": True, "timelineName": timeline.GetName() or "Timeline Resolve",
                      "timelineId": timeline.GetUniqueId(), "fps": rate, "startFrame": start,
                      "endFrame": end, "currentFrame": current, "currentTimecode": shown,
                      "usesRelativeTimecode": relative})
                last = key
        except BrokenPipeError:
            return
        except Exception:
            resolve = None
            last = None
        time.sleep(0.5)


main()
)PY";
}

}  // namespace tessivo
