"""The timecode and frame-rate reading of the Fusion insert script, against the
simulator's own timecode arithmetic."""

import os

import pytest

from resolve_sim import timecode as sim_timecode

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
# The script runs with the shared placement functions in front of it.
_text = ""
for _path in (("src", "resolve", "scripts", "placement.py"), ("src", "fusion", "scripts", "fusion_insert.py")):
    with open(os.path.join(REPO, *_path), encoding="utf-8") as _handle:
        _text += _handle.read() + "\n"
# The functions only: the script's body starts at main().
SCRIPT = {}
exec(compile(_text.split("\ndef main():")[0], "fusion_insert.py", "exec"), SCRIPT)  # noqa: S102


@pytest.mark.parametrize("rate, drop", [(29.97, True), (59.94, True), (29.97, False), (25.0, False),
                                         (23.976, False), (30.0, False)])
def test_timecodes_match_the_timeline_counting(rate, drop):
    start = sim_timecode.timecode_to_frames("01:00:00:00", rate, drop)
    for offset in list(range(0, 4000, 7)) + list(range(0, int(rate * 3600 * 2), 997)):
        frame = start + offset
        text = SCRIPT["timecode"](frame, rate, drop)
        assert text == sim_timecode.frames_to_timecode(frame, rate, drop)
        assert sim_timecode.timecode_to_frames(text, rate, drop) == frame


class Settings:
    def __init__(self, values):
        self.values = values

    def GetSetting(self, name):
        return self.values.get(name)


@pytest.mark.parametrize("timeline, project, expected", [
    ({"timelineFrameRate": 29.97, "timelineDropFrameTimecode": "1"}, {}, (29.97, True)),
    ({"timelineFrameRate": "29.97 DF"}, {}, (29.97, True)),
    ({"timelineFrameRate": "59,94 DF"}, {}, (59.94, True)),
    ({"timelineFrameRate": 29.97, "timelineDropFrameTimecode": "0"}, {}, (29.97, False)),
    ({"timelineFrameRate": 23.976, "timelineDropFrameTimecode": "1"}, {}, (23.976, False)),  # no DF at 24
    ({"timelineFrameRate": ""}, {"timelineFrameRate": "25"}, (25.0, False)),
    ({}, {}, (24.0, False)),
    ({"timelineFrameRate": "n/a"}, {}, (24.0, False)),
])
def test_frame_rate_and_drop_frame(timeline, project, expected):
    assert SCRIPT["frame_rate"](Settings(timeline), Settings(project)) == expected
