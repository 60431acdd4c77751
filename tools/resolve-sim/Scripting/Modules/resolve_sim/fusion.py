"""Fusion compositions kept as `.setting` text: tool lists, attributes and
inputs read from and written into the parsed document."""

import math

from . import setting
from .setting import Table, Symbol

# inferred: default values of Text+ inputs that a composition does not set
# (Font "Open Sans", white fill, Center (0.5, 0.5), Size 0.08).
TEXTPLUS_DEFAULTS = {
    "StyledText": "",
    "Font": "Open Sans",
    "Style": "Regular",
    "Size": 0.08,
    "Center": [0.5, 0.5],
    "Red1": 1.0, "Green1": 1.0, "Blue1": 1.0, "Alpha1": 1.0, "Opacity1": 1.0,
    # inferred: Type1 enumerates Solid / Image / Gradient as 0 / 1 / 2.
    "Type1": 0.0,
    "Enabled1": 1.0,
    "VerticalJustificationNew": 3.0,
    "HorizontalJustificationNew": 3.0,
}
for _element in range(2, 9):
    TEXTPLUS_DEFAULTS["Enabled%d" % _element] = 0.0

# Names Fusion gives new tools of these types (a number is appended).
_TOOL_BASE_NAMES = {"TextPlus": "Text", "Background": "Background", "Merge": "Merge",
                    "Transform": "Transform", "Loader": "Loader", "Saver": "Saver",
                    "MediaIn": "MediaIn", "MediaOut": "MediaOut", "Blur": "Blur"}


def text_title_setting(text="", name="Template"):
    """The composition of a new "Text+" Fusion title: Template -> MediaOut1."""
    inputs = Table(None, False, [
        ["GlobalOut", Table("Input", False, [["Value", 124]])],
        ["Width", Table("Input", False, [["Value", 1920]])],
        ["Height", Table("Input", False, [["Value", 1080]])],
        ["StyledText", Table("Input", False, [["Value", text]])],
        ["Font", Table("Input", False, [["Value", "Open Sans"]])],
        ["Style", Table("Input", False, [["Value", "Bold"]])],
        ["Size", Table("Input", False, [["Value", 0.08]])],
    ])
    tools = Table("ordered", True, [
        [name, Table("TextPlus", False, [
            ["Inputs", inputs],
            ["ViewInfo", Table("OperatorInfo", False, [["Pos", Table(None, False, [[None, 0], [None, 0]])]])],
        ])],
        ["MediaOut1", Table("MediaOut", False, [
            ["Inputs", Table(None, False, [
                ["Index", Table("Input", False, [["Value", "0"]])],
                ["Input", Table("Input", False, [["SourceOp", name], ["Source", "Output"]])],
            ])],
            ["ViewInfo", Table("OperatorInfo", False, [["Pos", Table(None, False, [[None, 110], [None, 0]])]])],
        ])],
    ])
    return setting.dumps(Table(None, False, [["Tools", tools], ["ActiveTool", name]]))


def empty_comp_setting(media_in=False):
    """A new composition: MediaOut1 alone, or MediaIn1 -> MediaOut1 on a media clip."""
    entries = []
    if media_in:
        entries.append(["MediaIn1", Table("MediaIn", False, [
            ["Inputs", Table(None, False, [])],
            ["ViewInfo", Table("OperatorInfo", False, [["Pos", Table(None, False, [[None, 0], [None, 0]])]])],
        ])])
    out_inputs = Table(None, False, [["Index", Table("Input", False, [["Value", "0"]])]])
    if media_in:
        out_inputs.entries.append(["Input", Table("Input", False, [["SourceOp", "MediaIn1"], ["Source", "Output"]])])
    entries.append(["MediaOut1", Table("MediaOut", False, [
        ["Inputs", out_inputs],
        ["ViewInfo", Table("OperatorInfo", False, [["Pos", Table(None, False, [[None, 110], [None, 0]])]])],
    ])])
    return setting.dumps(Table(None, False, [["Tools", Table("ordered", True, entries)]]))


def tools_table(doc):
    """The table of tools of a document (a `.setting` or a `Composition {}`)."""
    if not isinstance(doc, Table):
        return None
    tools = doc.get("Tools")
    return tools if isinstance(tools, Table) else None


def tool_entries(doc):
    tools = tools_table(doc)
    if tools is None:
        return []
    return [(name, tool) for name, tool in tools.keyed() if isinstance(tool, Table) and isinstance(name, str)]


def find_tool(doc, name):
    for tool_name, tool in tool_entries(doc):
        if tool_name == name:
            return tool
    return None


def tool_attrs(doc, name, index):
    tool = find_tool(doc, name)
    if tool is None:
        return None
    active = doc.get("ActiveTool") if isinstance(doc, Table) else None
    return {
        "TOOLS_Name": name,
        "TOOLS_RegID": tool.type or "",
        "TOOLB_Visible": True,
        "TOOLB_Locked": bool(tool.get("Locked", False)),
        "TOOLB_PassThrough": bool(tool.get("PassThrough", False)),
        "TOOLB_HoldOutput": False,
        "TOOLB_CtrlWZoom": bool(tool.get("CtrlWZoom", False)),
        "TOOLB_NameSet": bool(tool.get("NameSet", False)),
        "TOOLB_CacheToDisk": False,
        "TOOLB_ShowControls": False,
        "TOOLB_Selected": active == name,
        # inferred: TOOLI_ID is a per-comp serial number; its real meaning is unknown.
        "TOOLI_ID": float(index),
        "TOOLN_LastFrameTime": 0.0,
        "TOOLI_Number_o_Inputs": 0.0,
        "TOOLNT_EnabledRegion_Start": {1.0: -1000000000.0},
        "TOOLNT_EnabledRegion_End": {1.0: 1000000000.0},
        "TOOLNT_Region_Start": {1.0: 0.0},
        "TOOLNT_Region_End": {1.0: 1000.9999},
    }


class Parameter:
    """A non-scalar input value such as a gradient (`.ID`, `.Value`)."""

    def __init__(self, ident, value):
        self.ID = ident
        self.Value = value

    def __repr__(self):
        return "Parameter(%r)" % self.ID


def to_python(value):
    """A setting value as the scripting bridge hands it out."""
    if isinstance(value, bool):
        return value
    if isinstance(value, (int, float)):
        return float(value)
    if isinstance(value, Table):
        if value.type == "FuID":
            items = value.positional()
            return str(items[0]) if items else ""
        if value.type == "Gradient":
            colors = value.get("Colors")
            stops = {}
            if isinstance(colors, Table):
                for key, color in colors.entries:
                    stops[float(key) if isinstance(key, (int, float)) else key] = to_python(color)
            return Parameter("Gradient", stops)
        positional = value.positional()
        if positional and not value.keyed() and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in positional):
            point = {float(i): float(v) for i, v in enumerate(positional, 1)}
            if len(point) == 2:
                # inferred: points carry a third (z) component of 0.
                point[3.0] = 0.0
            return point
        if value.type:
            return Parameter(value.type, {k if k is not None else float(i): to_python(v)
                                          for i, (k, v) in enumerate(value.entries, 1)})
        return {(float(i) if k is None else k): to_python(v) for i, (k, v) in enumerate(value.entries, 1)}
    if isinstance(value, Symbol):
        return str(value)
    return value


def from_python(value):
    """A Python value written into a setting."""
    if isinstance(value, bool):
        return 1 if value else 0
    if isinstance(value, (int, float)):
        if isinstance(value, float) and not math.isfinite(value):
            raise ValueError("non-finite input value")
        return value
    if isinstance(value, str):
        return value
    if isinstance(value, Parameter):
        if value.ID == "Gradient" and isinstance(value.Value, dict):
            colors = Table(None, False, [[_num_key(k), from_python(v)] for k, v in value.Value.items()])
            return Table("Gradient", False, [["Colors", colors]])
        return from_python(value.Value)
    if isinstance(value, (list, tuple)):
        return Table(None, False, [[None, from_python(v)] for v in value])
    if isinstance(value, dict):
        if all(isinstance(k, (int, float)) and not isinstance(k, bool) for k in value):
            ordered = [value[k] for k in sorted(value)]
            return Table(None, False, [[None, from_python(v)] for v in ordered])
        return Table(None, False, [[k, from_python(v)] for k, v in value.items()])
    raise ValueError("unsupported input value %r" % (value,))


def _num_key(key):
    if isinstance(key, float) and key.is_integer():
        return int(key)
    return key


def _keyframe_value(spline, time):
    keyframes = spline.get("KeyFrames")
    if not isinstance(keyframes, Table):
        return None
    frames = [(k, v) for k, v in keyframes.entries if isinstance(k, (int, float))]
    if not frames:
        return None
    frames.sort(key=lambda kv: kv[0])
    chosen = frames[0]
    if time is not None:
        for key, value in frames:
            if key <= time:
                chosen = (key, value)
    value = chosen[1]
    if isinstance(value, Table):
        positional = value.positional()
        return positional[0] if positional else None
    return value


def get_input(doc, name, input_id, time=None):
    tool = find_tool(doc, name)
    if tool is None or not isinstance(input_id, str):
        return None
    inputs = tool.get("Inputs")
    entry = inputs.get(input_id) if isinstance(inputs, Table) else None
    if isinstance(entry, Table):
        if entry.get("Value") is not None:
            return to_python(entry.get("Value"))
        source = entry.get("SourceOp")
        if isinstance(source, str):
            spline = find_tool(doc, source)
            if isinstance(spline, Table) and spline.type and spline.type.endswith("Spline"):
                value = _keyframe_value(spline, time)
                return to_python(value) if value is not None else None
            return None
    elif entry is not None:
        return to_python(entry)
    if tool.type == "TextPlus" and input_id in TEXTPLUS_DEFAULTS:
        default = TEXTPLUS_DEFAULTS[input_id]
        if isinstance(default, list):
            return to_python(Table(None, False, [[None, v] for v in default]))
        return default
    # inferred: an unknown input id reads as None.
    return None


def set_input(doc, name, input_id, value, time=None):
    tool = find_tool(doc, name)
    if tool is None or not isinstance(input_id, str):
        return False
    converted = from_python(value)
    inputs = tool.get("Inputs")
    if not isinstance(inputs, Table):
        inputs = Table(None, False, [])
        tool.set("Inputs", inputs)
    entry = inputs.get(input_id)
    if time is not None and isinstance(entry, Table) and isinstance(entry.get("SourceOp"), str):
        spline = find_tool(doc, entry.get("SourceOp"))
        keyframes = spline.get("KeyFrames") if isinstance(spline, Table) else None
        if isinstance(keyframes, Table):
            key = int(time) if float(time).is_integer() else float(time)
            keyframes.set(key, Table(None, False, [[None, converted]]))
            return True
    inputs.set(input_id, Table("Input", False, [["Value", converted]]))
    return True


def unique_tool_name(doc, regid):
    base = _TOOL_BASE_NAMES.get(regid, regid)
    names = {n for n, _ in tool_entries(doc)}
    n = 1
    while "%s%d" % (base, n) in names:
        n += 1
    return "%s%d" % (base, n)


def add_tool(doc, regid, x=None, y=None):
    tools = tools_table(doc)
    if tools is None:
        tools = Table("ordered", True, [])
        doc.set("Tools", tools)
    name = unique_tool_name(doc, regid)
    pos = Table(None, False, [[None, x if isinstance(x, (int, float)) else 0],
                              [None, y if isinstance(y, (int, float)) else 0]])
    tools.entries.append([name, Table(regid, False, [["Inputs", Table(None, False, [])],
                                                     ["ViewInfo", Table("OperatorInfo", False, [["Pos", pos]])]])])
    return name


def rename_tool(doc, old, new):
    tools = tools_table(doc)
    if tools is None or not isinstance(new, str) or not new or find_tool(doc, new) is not None:
        return False
    if not tools.rename(old, new):
        return False
    for _, tool in tool_entries(doc):
        inputs = tool.get("Inputs")
        if isinstance(inputs, Table):
            for _, entry in inputs.entries:
                if isinstance(entry, Table) and entry.get("SourceOp") == old:
                    entry.set("SourceOp", new)
    if doc.get("ActiveTool") == old:
        doc.set("ActiveTool", new)
    return True


def delete_tool(doc, name):
    tools = tools_table(doc)
    if tools is None or find_tool(doc, name) is None:
        return False
    tools.remove(name)
    return True


def is_valid_comp(text):
    try:
        doc = setting.parse(text)
    except setting.SettingError:
        return False
    return isinstance(doc, Table) and tools_table(doc) is not None


def title_text(text):
    """The StyledText of the first Text+ tool, for display."""
    try:
        doc = setting.parse(text)
    except setting.SettingError:
        return ""
    for name, tool in tool_entries(doc):
        if tool.type == "TextPlus":
            value = get_input(doc, name, "StyledText")
            return value if isinstance(value, str) else ""
    return ""
