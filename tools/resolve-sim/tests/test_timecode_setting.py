import pytest

from resolve_sim import setting, timecode
from resolve_sim.setting import Symbol, Table


@pytest.mark.parametrize("rate, df, tc, frames", [
    (23.976, False, "01:00:00:00", 86400),
    (24, False, "01:00:00:00", 86400),
    (25, False, "01:00:00:00", 90000),
    (29.97, False, "01:00:00:00", 108000),
    (29.97, True, "01:00:00;00", 107892),
    (29.97, True, "00:01:00;02", 1800),
    (29.97, True, "00:10:00;00", 17982),
    (50, False, "01:00:00:00", 180000),
    (59.94, True, "01:00:00;00", 215784),
    (59.94, True, "00:01:00;04", 3600),
    (60, False, "01:00:00:00", 216000),
])
def test_known_timecodes(rate, df, tc, frames):
    assert timecode.timecode_to_frames(tc, rate, df) == frames
    assert timecode.frames_to_timecode(frames, rate, df) == tc


@pytest.mark.parametrize("rate", [29.97, 59.94])
def test_drop_frame_round_trips_and_skips_frame_numbers(rate):
    seen = set()
    for frame in range(0, 40000, 7):
        tc = timecode.frames_to_timecode(frame, rate, True)
        assert timecode.timecode_to_frames(tc, rate, True) == frame
        seen.add(tc)
    drop = 2 if rate < 30 else 4
    for ff in range(drop):
        assert timecode.timecode_to_frames("00:01:00;%02d" % ff, rate, True) is None
    assert timecode.timecode_to_frames("00:10:00;00", rate, True) is not None
    # One frame before a minute boundary is followed by the first kept number.
    before = timecode.timecode_to_frames("00:00:59;%02d" % (round(rate) - 1), rate, True)
    assert timecode.frames_to_timecode(before + 1, rate, True) == "00:01:00;%02d" % drop


@pytest.mark.parametrize("text, expected", [
    ("29.97 DF", (29.97, True)), ("25", (25.0, False)), (23.976, (23.976, False)),
    ("29,97", (29.97, False)), ("", (None, False)), ("abc", (None, False)), (True, (None, False)),
])
def test_parse_rate(text, expected):
    assert timecode.parse_rate(text) == expected


def test_drop_frame_ignored_at_integer_rates():
    assert timecode.frames_to_timecode(90000, 25, True) == "01:00:00:00"


SAMPLE = r'''
-- exported from Fusion
{
	Tools = ordered() {
		Template = TextPlus {
			CtrlWZoom = false,
			Inputs = {
				StyledText = Input { Value = "Ligne \"un\"\nLigne\tdeux \\ fin \195\169", },
				Center = Input { Value = { 0.5, 0.25 }, },
				Size = Input { Value = 1e-01, },
				Font = Input { Value = [[Open Sans]], },
				Type1 = Input { Value = FuID { "Gradient" }, },
				ShadingGradient1 = Input {
					Value = Gradient {
						Colors = {
							[0] = { 1, 1, 1, 1 },
							[1] = { 0, 0, 0, 1 }
						}
					},
				},
				["Transform.Size"] = Input { Value = -2, },
				Red1 = Input { SourceOp = "Red1Spline", Source = "Value", },
			},
			ViewInfo = OperatorInfo { Pos = { 0, 0 } },
		},
		Red1Spline = BezierSpline { KeyFrames = { [0] = { 0.1 }, [10] = { 0.9, Flags = { Linear = true } } } },
		--[[ a block comment { with braces } ]]
		MediaOut1 = MediaOut { Inputs = { Input = Input { SourceOp = "Template", Source = "Output" } } },
	},
	ActiveTool = "Template";
	Mode = SomeConstant,
}
'''


def test_setting_parse_and_round_trip():
    doc = setting.parse(SAMPLE)
    tools = doc.get("Tools")
    assert tools.type == "ordered" and tools.call
    assert [k for k, _ in tools.keyed()] == ["Template", "Red1Spline", "MediaOut1"]
    inputs = tools.get("Template").get("Inputs")
    assert inputs.get("StyledText").get("Value") == 'Ligne "un"\nLigne\tdeux \\ fin é'
    assert inputs.get("Size").get("Value") == 0.1
    assert inputs.get("Font").get("Value") == "Open Sans"
    assert inputs.get("Transform.Size").get("Value") == -2
    assert doc.get("Mode") == Symbol("SomeConstant")
    again = setting.parse(setting.dumps(doc))
    assert again == doc
    assert setting.dumps(again) == setting.dumps(doc)


@pytest.mark.parametrize("text", [
    "{ A = ", "{ A = 1 B = 2 }", '{ A = "open }', "{ A = 1 } extra", "{ [1 = 2 }", '{ A = "\\q" }',
])
def test_setting_rejects_malformed_text(text):
    with pytest.raises(setting.SettingError):
        setting.parse(text)


def test_setting_inputs_through_fusion_helpers():
    from resolve_sim import fusion
    doc = setting.parse(SAMPLE)
    assert fusion.get_input(doc, "Template", "Center") == {1.0: 0.5, 2.0: 0.25, 3.0: 0.0}
    assert fusion.get_input(doc, "Template", "Type1") == "Gradient"
    gradient = fusion.get_input(doc, "Template", "ShadingGradient1")
    assert gradient.ID == "Gradient" and gradient.Value[1.0] == {1.0: 0.0, 2.0: 0.0, 3.0: 0.0, 4.0: 1.0}
    assert fusion.get_input(doc, "Template", "Red1", 12) == 0.9  # animated: the keyframe in force
    assert fusion.get_input(doc, "Template", "Green1") == 1.0  # Text+ default
    assert fusion.get_input(doc, "Template", "NoSuchInput") is None
    fusion.set_input(doc, "Template", "ShadingGradient1", gradient)
    fusion.set_input(doc, "Template", "Center", {1: 0.1, 2: 0.2})
    reread = setting.parse(setting.dumps(doc))
    assert fusion.get_input(reread, "Template", "ShadingGradient1").Value == gradient.Value
    assert fusion.get_input(reread, "Template", "Center")[2.0] == 0.2


def test_setting_writes_control_characters_as_escapes():
    doc = Table(None, False, [["Text", "a\x01b\r\"c\""], ["N", 3.5], [None, True]])
    text = setting.dumps(doc)
    assert "\x01" not in text and "\r" not in text
    assert setting.parse(text) == doc
