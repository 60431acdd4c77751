"""Media files seen by the simulated Media Pool: classification, probing with
ffprobe, SRT parsing, and still frames made with ffmpeg."""

import json
import os
import re
import subprocess
import zipfile

VIDEO_EXT = {".mov", ".mp4", ".m4v", ".mxf", ".avi", ".mkv", ".webm", ".mts", ".m2ts", ".braw", ".r3d"}
AUDIO_EXT = {".wav", ".mp3", ".aac", ".m4a", ".aif", ".aiff", ".flac", ".ogg", ".opus", ".caf"}
STILL_EXT = {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".dpx", ".exr", ".bmp", ".tga", ".gif"}
SUBTITLE_EXT = {".srt"}
LOTTIE_EXT = {".lottie"}
STILL_EXPORT_EXT = {".jpg", ".jpeg", ".png", ".tif", ".tiff", ".dpx", ".exr", ".bmp"}


def classify(path, allow_lottie):
    """The Media Pool type for a file name, or None when Resolve refuses it."""
    ext = os.path.splitext(path)[1].lower()
    if ext in VIDEO_EXT:
        return "Video"
    if ext in AUDIO_EXT:
        return "Audio"
    if ext in STILL_EXT:
        return "Still"
    if ext in SUBTITLE_EXT:
        return "Subtitle"
    if ext in LOTTIE_EXT and allow_lottie:
        return "Lottie"
    return None


def _fraction(text):
    try:
        num, _, den = str(text).partition("/")
        value = float(num) / float(den or 1)
        return value if value > 0 else 0.0
    except (ValueError, ZeroDivisionError):
        return 0.0


def probe(path):
    """Reads streams and duration with ffprobe. Returns None for a file that
    ffprobe cannot read."""
    try:
        result = subprocess.run(
            ["ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path],
            capture_output=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if result.returncode != 0:
        return None
    try:
        data = json.loads(result.stdout.decode("utf-8", "replace"))
    except ValueError:
        return None
    info = {"hasVideo": False, "hasAudio": False, "fps": 0.0, "frames": 0, "width": 0, "height": 0,
            "duration": 0.0}
    try:
        info["duration"] = float(data.get("format", {}).get("duration") or 0.0)
    except ValueError:
        pass
    for stream in data.get("streams", []):
        kind = stream.get("codec_type")
        if kind == "video" and not info["hasVideo"]:
            info["hasVideo"] = True
            info["width"] = int(stream.get("width") or 0)
            info["height"] = int(stream.get("height") or 0)
            info["fps"] = _fraction(stream.get("avg_frame_rate")) or _fraction(stream.get("r_frame_rate"))
            try:
                info["frames"] = int(stream.get("nb_frames") or 0)
            except ValueError:
                info["frames"] = 0
            if not info["duration"]:
                try:
                    info["duration"] = float(stream.get("duration") or 0.0)
                except ValueError:
                    pass
        elif kind == "audio":
            info["hasAudio"] = True
    if not info["hasVideo"] and not info["hasAudio"]:
        return None
    if info["hasVideo"] and not info["frames"] and info["fps"]:
        info["frames"] = int(round(info["duration"] * info["fps"]))
    return info


def lottie_info(path):
    """Frame rate, frame count and size of the first animation of a dotLottie archive."""
    try:
        with zipfile.ZipFile(path) as archive:
            names = [n for n in archive.namelist() if n.startswith("animations/") and n.endswith(".json")]
            if not names:
                return None
            doc = json.loads(archive.read(names[0]).decode("utf-8"))
    except (OSError, zipfile.BadZipFile, ValueError, KeyError):
        return None
    try:
        fps = float(doc.get("fr") or 0)
        frames = int(round(float(doc.get("op", 0)) - float(doc.get("ip", 0))))
        return {"fps": fps, "frames": max(frames, 0), "width": int(doc.get("w") or 0),
                "height": int(doc.get("h") or 0)}
    except (TypeError, ValueError):
        return None


_SRT_TIME = re.compile(r"(\d+):(\d{1,2}):(\d{1,2})[,.](\d{1,3})")


def _seconds(match):
    hh, mm, ss, ms = match.groups()
    return int(hh) * 3600 + int(mm) * 60 + int(ss) + int(ms.ljust(3, "0")) / 1000.0


def parse_srt(text):
    """Cues of an SRT text as [(start seconds, end seconds, text)]."""
    text = text.lstrip("\ufeff").replace("\r\n", "\n").replace("\r", "\n")
    cues = []
    for block in re.split(r"\n\s*\n", text.strip()):
        lines = block.split("\n")
        for i, line in enumerate(lines):
            if "-->" in line:
                left, _, right = line.partition("-->")
                start = _SRT_TIME.search(left)
                end = _SRT_TIME.search(right)
                if start and end:
                    cues.append((_seconds(start), _seconds(end), "\n".join(lines[i + 1:]).strip()))
                break
    return cues


def read_srt(path):
    with open(path, "rb") as handle:
        raw = handle.read()
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError:
        text = raw.decode("latin-1")
    return parse_srt(text)


def write_frame(source, seconds, width, height, out_path):
    """Writes one frame of `source` at `seconds` (or a plain black frame when
    `source` is None) scaled into width x height, as the file type of `out_path`."""
    scale = "scale=%d:%d:force_original_aspect_ratio=decrease,pad=%d:%d:(ow-iw)/2:(oh-ih)/2" % (
        width, height, width, height)
    if source:
        cmd = ["ffmpeg", "-v", "error", "-y", "-ss", "%.3f" % max(0.0, seconds), "-i", source,
               "-frames:v", "1", "-vf", scale, "-update", "1", out_path]
    else:
        cmd = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=black:s=%dx%d:d=1" % (width, height),
               "-frames:v", "1", "-update", "1", out_path]
    try:
        result = subprocess.run(cmd, capture_output=True, timeout=60, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return result.returncode == 0 and os.path.isfile(out_path) and os.path.getsize(out_path) > 0
