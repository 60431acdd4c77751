"""Fusion compositions held by timeline items, and their tools."""

import os

from . import fusion, model, setting, store
from .api import _Proxy, _require, api


class _CompHandle(_Proxy):
    def _comp(self, st):
        _, _, _, _, item = model.find_item(st, self._item_id)
        _require(item)
        for comp in item["comps"]:
            if comp["id"] == self._comp_id:
                return comp
        raise LookupError("composition no longer exists")

    def _doc(self, st):
        return setting.parse(self._comp(st)["setting"])

    def _save(self, st, doc):
        self._comp(st)["setting"] = setting.dumps(doc)


class FusionComp(_CompHandle):
    def __init__(self, item_id, comp_id):
        self._item_id = item_id
        self._comp_id = comp_id
        self._id = comp_id

    @property
    def CurrentTime(self):
        return 0.0

    @api(fail=dict)
    def GetToolList(self, st, selected=False, regid=None):
        doc = self._doc(st)
        active = doc.get("ActiveTool")
        tools = []
        for name, tool in fusion.tool_entries(doc):
            if selected and name != active:
                continue
            if regid and tool.type != regid:
                continue
            tools.append(Tool(self._item_id, self._comp_id, name))
        # Lua tables arrive keyed by float numbers from 1; an empty comp gives {}.
        # inferred: float keys, in the composition's order.
        return {float(i): tool for i, tool in enumerate(tools, 1)}

    @api()
    def FindTool(self, st, name):
        doc = self._doc(st)
        return Tool(self._item_id, self._comp_id, name) if fusion.find_tool(doc, name) is not None else None

    @api()
    def FindToolByID(self, st, regid):
        for name, tool in fusion.tool_entries(self._doc(st)):
            if tool.type == regid:
                return Tool(self._item_id, self._comp_id, name)
        return None

    @api()
    def AddTool(self, st, regid, *rest):
        if not isinstance(regid, str) or not regid:
            return None
        numbers = [v for v in rest if isinstance(v, (int, float)) and not isinstance(v, bool)]
        x, y = (numbers[-2], numbers[-1]) if len(numbers) >= 2 else (None, None)
        doc = self._doc(st)
        name = fusion.add_tool(doc, regid, x, y)
        self._save(st, doc)
        return Tool(self._item_id, self._comp_id, name)

    @api(fail=dict)
    def GetAttrs(self, st, key=None):
        comp = self._comp(st)
        attrs = {"COMPS_Name": comp["name"], "COMPS_FileName": "", "COMPN_CurrentTime": 0.0,
                 "COMPN_GlobalStart": 0.0, "COMPN_GlobalEnd": 1000.0, "COMPB_Locked": False}
        return attrs.get(key) if key else attrs

    @api(fail=False)
    def Save(self, st, path):
        if not isinstance(path, str):
            return False
        store.write_atomic(os.path.abspath(path), self._comp(st)["setting"])
        return True

    @api()
    def Lock(self, st):
        self._comp(st)
        return None

    @api()
    def Unlock(self, st):
        self._comp(st)
        return None

    @api()
    def StartUndo(self, st, name=""):
        return None

    @api()
    def EndUndo(self, st, keep=True):
        return None


class Tool(_CompHandle):
    def __init__(self, item_id, comp_id, name):
        self._item_id = item_id
        self._comp_id = comp_id
        self._name = name
        self._id = name

    @property
    def Name(self):
        return self._name

    @api(fail=dict)
    def GetAttrs(self, st, key=None):
        doc = self._doc(st)
        index = [n for n, _ in fusion.tool_entries(doc)].index(self._name) + 1
        attrs = fusion.tool_attrs(doc, self._name, index)
        if attrs is None:
            return None if key else {}
        return attrs.get(key) if key else attrs

    @api()
    def SetAttrs(self, st, attrs):
        if not isinstance(attrs, dict):
            return None
        doc = self._doc(st)
        if fusion.find_tool(doc, self._name) is None:
            return None
        new_name = attrs.get("TOOLS_Name")
        if new_name is not None and new_name != self._name:
            if fusion.rename_tool(doc, self._name, new_name):
                self._name = new_name
                self._id = new_name
        tool = fusion.find_tool(doc, self._name)
        if "TOOLB_PassThrough" in attrs:
            tool.set("PassThrough", bool(attrs["TOOLB_PassThrough"]))
        if "TOOLB_Locked" in attrs:
            tool.set("Locked", bool(attrs["TOOLB_Locked"]))
        self._save(st, doc)
        return None

    @api()
    def GetInput(self, st, input_id, time=None):
        return fusion.get_input(self._doc(st), self._name, input_id, time)

    @api()
    def SetInput(self, st, input_id, value, time=None):
        # SetInput reports nothing, whatever happens.
        doc = self._doc(st)
        if fusion.set_input(doc, self._name, input_id, value, time):
            self._save(st, doc)
        return None

    @api(fail=False)
    def ConnectInput(self, st, input_id, source):
        doc = self._doc(st)
        tool = fusion.find_tool(doc, self._name)
        if tool is None or not isinstance(input_id, str):
            return False
        inputs = tool.get("Inputs")
        if not isinstance(inputs, setting.Table):
            inputs = setting.Table(None, False, [])
            tool.set("Inputs", inputs)
        if source is None:
            inputs.remove(input_id)
        elif isinstance(source, Tool) and fusion.find_tool(doc, source._name) is not None:
            inputs.set(input_id, setting.Table("Input", False, [["SourceOp", source._name], ["Source", "Output"]]))
        else:
            return False
        self._save(st, doc)
        return True

    @api()
    def Delete(self, st):
        doc = self._doc(st)
        if fusion.delete_tool(doc, self._name):
            self._save(st, doc)
        return None
