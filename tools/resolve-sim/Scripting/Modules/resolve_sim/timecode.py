"""Frame and timecode arithmetic of the simulated timelines.

Frames are absolute timeline frames. A timecode is derived from a frame count,
the timeline's frame rate and its drop-frame flag. Drop frame applies only to
the 29.97 and 59.94 families (nominal 30 and 60): two frame numbers (four at
59.94) are skipped at the start of every minute except each tenth minute.
"""

import math
import re

_RATE_RE = re.compile(r"(\d+(?:[.,]\d+)?)")


def parse_rate(value):
    """Reads a frame-rate setting ("25", "29.97 DF", 23.976, "29,97") as
    (rate, drop_frame). Returns (None, False) for text without a number."""
    if isinstance(value, bool):
        return None, False
    if isinstance(value, (int, float)):
        rate = float(value)
        return (rate if math.isfinite(rate) and rate > 0 else None), False
    text = str(value or "")
    match = _RATE_RE.search(text)
    if not match:
        return None, False
    rate = float(match.group(1).replace(",", "."))
    if not math.isfinite(rate) or rate <= 0:
        return None, False
    return rate, "DF" in text.upper().split()


def nominal_rate(rate):
    """The integer frame count of one timecode second (23.976 -> 24,
    29.97 -> 30, 59.94 -> 60)."""
    return max(1, int(round(float(rate))))


def drop_frame_applies(rate, drop_frame):
    return bool(drop_frame) and nominal_rate(rate) in (30, 60) and abs(rate - nominal_rate(rate)) > 1e-6


def format_rate(rate):
    """Writes a rate the way the settings store it: 25 -> "25", 29.97 -> "29.97"."""
    rate = float(rate)
    if rate.is_integer():
        return str(int(rate))
    return ("%.3f" % rate).rstrip("0").rstrip(".")


def frames_to_timecode(frames, rate, drop_frame=False):
    """Timecode of an absolute frame count. Drop-frame timecodes use ';'
    before the frame field."""
    # inferred: Resolve's separator for drop-frame timecodes is unverified;
    # the conventional ';' is emitted here and both are accepted on input.
    n = nominal_rate(rate)
    frames = int(frames)
    negative = frames < 0
    frames = abs(frames)
    df = drop_frame_applies(rate, drop_frame)
    if df:
        drop = n // 15  # 2 at 29.97, 4 at 59.94
        per_10min = n * 600 - drop * 9
        per_min = n * 60 - drop
        tens, rest = divmod(frames, per_10min)
        if rest < drop:
            extra = 0
        else:
            extra = drop * ((rest - drop) // per_min)
        frames = frames + drop * 9 * tens + extra
    ff = frames % n
    total_seconds = frames // n
    ss = total_seconds % 60
    mm = (total_seconds // 60) % 60
    hh = total_seconds // 3600
    sep = ";" if df else ":"
    text = "%02d:%02d:%02d%s%02d" % (hh, mm, ss, sep, ff)
    return "-" + text if negative else text


_TC_RE = re.compile(r"^\s*(\d{1,2})[:;.](\d{1,2})[:;.](\d{1,2})[:;.](\d{1,3})\s*$")


def timecode_to_frames(text, rate, drop_frame=False):
    """Absolute frame of a timecode "HH:MM:SS:FF" (';' accepted anywhere).
    Returns None for text that is not a valid timecode at this rate."""
    match = _TC_RE.match(str(text or ""))
    if not match:
        return None
    hh, mm, ss, ff = (int(g) for g in match.groups())
    n = nominal_rate(rate)
    if mm > 59 or ss > 59 or ff >= n:
        return None
    frames = (hh * 3600 + mm * 60 + ss) * n + ff
    if drop_frame_applies(rate, drop_frame):
        drop = n // 15
        total_minutes = hh * 60 + mm
        if mm % 10 != 0 and ss == 0 and ff < drop:
            return None  # these frame numbers do not exist in drop frame
        frames -= drop * (total_minutes - total_minutes // 10)
    return frames


def parse_position(text, rate, drop_frame=False, origin=0):
    """Reads a position or duration given on the command line: a timecode
    (absolute), a number of frames, or seconds with an "s" suffix. Plain
    numbers and seconds are counted from `origin`."""
    text = str(text).strip()
    if text.endswith("s") and _is_number(text[:-1]):
        return origin + int(round(float(text[:-1]) * rate))
    if _is_number(text):
        return origin + int(round(float(text)))
    frames = timecode_to_frames(text, rate, drop_frame)
    if frames is None:
        raise ValueError("not a timecode or frame count: %r" % text)
    return frames


def _is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False
