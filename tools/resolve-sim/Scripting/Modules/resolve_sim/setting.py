"""Parser and writer of Fusion's `.setting` text (a Lua table constructor).

The text is only ever parsed, never executed. Example:

    { Tools = ordered() { Template = TextPlus { Inputs = {
        StyledText = Input { Value = "Bonjour" } } } }, ActiveTool = "Template" }

A table is a `Table`: an optional constructor name (`TextPlus`, `Input`,
`ordered()`), and its entries in order, each a [key, value] pair whose key is
None for positional entries. Bare identifiers used as values become `Symbol`.
"""

import math
import re


class SettingError(ValueError):
    pass


class Symbol(str):
    """A bare identifier used as a value (e.g. a constant name)."""


class Table:
    __slots__ = ("type", "call", "entries")

    def __init__(self, type=None, call=False, entries=None):
        self.type = type
        self.call = call
        self.entries = entries if entries is not None else []

    def get(self, key, default=None):
        for k, v in self.entries:
            if k == key and k is not None and type(k) is type(key):
                return v
        return default

    def set(self, key, value):
        for entry in self.entries:
            if entry[0] == key and type(entry[0]) is type(key):
                entry[1] = value
                return
        self.entries.append([key, value])

    def remove(self, key):
        self.entries = [e for e in self.entries if not (e[0] == key and type(e[0]) is type(key))]

    def rename(self, old, new):
        for entry in self.entries:
            if entry[0] == old and type(entry[0]) is type(old):
                entry[0] = new
                return True
        return False

    def keyed(self):
        return [(k, v) for k, v in self.entries if k is not None]

    def positional(self):
        return [v for k, v in self.entries if k is None]

    def __eq__(self, other):
        return (isinstance(other, Table) and self.type == other.type and self.call == other.call
                and self.entries == other.entries)

    def __repr__(self):
        return "Table(%r, %r)" % (self.type if not self.call else self.type + "()", self.entries)


_TOKEN_RE = re.compile(r"""
    (?P<ws>\s+)
  | (?P<longcomment>--\[(?P<lceq>=*)\[.*?\](?P=lceq)\])
  | (?P<comment>--[^\n]*)
  | (?P<longstring>\[(?P<lseq>=*)\[.*?\](?P=lseq)\])
  | (?P<number>-?(?:0[xX][0-9a-fA-F]+|(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?))
  | (?P<name>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<string>"(?:[^"\\\n]|\\.|\\\n)*"|'(?:[^'\\\n]|\\.|\\\n)*')
  | (?P<punct>[{}()\[\]=,;])
""", re.VERBOSE | re.DOTALL)

_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "b": "\b", "f": "\f", "v": "\v",
            "\\": "\\", '"': '"', "'": "'", "\n": "\n"}


def _unescape(body):
    out = []
    i = 0
    while i < len(body):
        ch = body[i]
        if ch != "\\":
            out.append(ch)
            i += 1
            continue
        i += 1
        esc = body[i]
        if esc.isdigit():
            j = i
            while j < len(body) and j < i + 3 and body[j].isdigit():
                j += 1
            out.append(chr(int(body[i:j])))
            i = j
            continue
        if esc not in _ESCAPES:
            raise SettingError("invalid escape \\%s" % esc)
        out.append(_ESCAPES[esc])
        i += 1
    # Lua strings are bytes; \ddd escapes of UTF-8 text arrive as single
    # code points below 256 and are folded back into UTF-8 characters.
    text = "".join(out)
    if any(0x80 <= ord(c) < 0x100 for c in text):
        try:
            text = text.encode("latin-1").decode("utf-8")
        except (UnicodeEncodeError, UnicodeDecodeError):
            pass
    return text


def _tokenize(text):
    tokens = []
    pos = 0
    while pos < len(text):
        match = _TOKEN_RE.match(text, pos)
        if not match:
            raise SettingError("unexpected character %r at offset %d" % (text[pos], pos))
        kind = match.lastgroup
        if kind in ("lceq", "lseq"):
            kind = "longcomment" if match.group("longcomment") else "longstring"
        value = match.group(0)
        if kind == "longstring":
            eq = match.group("lseq")
            body = value[2 + len(eq):-2 - len(eq)]
            if body.startswith("\n"):
                body = body[1:]
            tokens.append(("string", body, pos))
        elif kind == "string":
            tokens.append(("string", _unescape(value[1:-1]), pos))
        elif kind == "number":
            if value.lstrip("-").lower().startswith("0x"):
                number = int(value, 16)
            elif re.fullmatch(r"-?\d+", value):
                number = int(value)
            else:
                number = float(value)
            tokens.append(("number", number, pos))
        elif kind in ("name", "punct"):
            tokens.append((kind, value, pos))
        pos = match.end()
    tokens.append(("eof", None, pos))
    return tokens


class _Parser:
    def __init__(self, text):
        self.tokens = _tokenize(text)
        self.i = 0

    def peek(self, offset=0):
        return self.tokens[min(self.i + offset, len(self.tokens) - 1)]

    def take(self):
        tok = self.tokens[self.i]
        self.i += 1
        return tok

    def expect(self, kind, value=None):
        tok = self.take()
        if tok[0] != kind or (value is not None and tok[1] != value):
            raise SettingError("expected %s at offset %d, found %r" % (value or kind, tok[2], tok[1]))
        return tok

    def value(self):
        kind, val, pos = self.peek()
        if kind in ("string", "number"):
            self.take()
            return val
        if kind == "punct" and val == "{":
            return self.table(None, False)
        if kind == "punct" and val == "-" :
            raise SettingError("unexpected '-' at offset %d" % pos)
        if kind == "name":
            self.take()
            if val == "true":
                return True
            if val == "false":
                return False
            if val == "nil":
                return None
            nxt = self.peek()
            if nxt[0] == "punct" and nxt[1] == "(":
                self.take()
                self.expect("punct", ")")
                return self.table(val, True)
            if nxt[0] == "punct" and nxt[1] == "{":
                return self.table(val, False)
            return Symbol(val)
        raise SettingError("unexpected %r at offset %d" % (val, pos))

    def table(self, type_name, call):
        self.expect("punct", "{")
        table = Table(type_name, call)
        while True:
            kind, val, pos = self.peek()
            if kind == "punct" and val == "}":
                self.take()
                return table
            if kind == "eof":
                raise SettingError("unterminated table")
            if kind == "name" and self.peek(1)[:2] == ("punct", "="):
                self.take()
                self.take()
                table.entries.append([val, self.value()])
            elif kind == "punct" and val == "[":
                self.take()
                key = self.value()
                self.expect("punct", "]")
                self.expect("punct", "=")
                table.entries.append([key, self.value()])
            else:
                table.entries.append([None, self.value()])
            kind, val, pos = self.peek()
            if kind == "punct" and val in (",", ";"):
                self.take()
            elif not (kind == "punct" and val == "}"):
                raise SettingError("expected ',' or '}' at offset %d" % pos)


def parse(text):
    """Parses a `.setting` document; raises SettingError on malformed text."""
    if text.startswith("\ufeff"):
        text = text[1:]
    parser = _Parser(text)
    result = parser.value()
    if parser.peek()[0] != "eof":
        raise SettingError("trailing text at offset %d" % parser.peek()[2])
    return result


_NAME_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
_RESERVED = {"true", "false", "nil", "and", "or", "not", "function", "end", "local", "return",
             "if", "then", "else", "elseif", "for", "while", "do", "repeat", "until", "in", "break"}


def _quote(text):
    out = ['"']
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif ord(ch) < 32 or ord(ch) == 127:
            out.append("\\%03d" % ord(ch))
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def _scalar(value):
    if value is None:
        return "nil"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, Symbol):
        return str(value)
    if isinstance(value, str):
        return _quote(value)
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if not math.isfinite(value):
            raise SettingError("non-finite number")
        if value.is_integer() and abs(value) < 1e15:
            return str(int(value))
        return repr(value)
    raise SettingError("cannot write %r" % (value,))


def _key(key):
    if isinstance(key, str) and not isinstance(key, Symbol) and _NAME_RE.match(key) and key not in _RESERVED:
        return key
    return "[" + _scalar(key) + "]"


def _inline(table):
    return all(k is None and not isinstance(v, Table) for k, v in table.entries) and len(table.entries) <= 8


def _write(value, indent, out):
    if not isinstance(value, Table):
        out.append(_scalar(value))
        return
    head = ""
    if value.type:
        head = value.type + ("() " if value.call else " ")
    if not value.entries:
        out.append(head + "{ }")
        return
    if _inline(value):
        out.append(head + "{ " + ", ".join(_scalar(v) for _, v in value.entries) + " }")
        return
    if len(value.entries) <= 3 and all(k is not None and not isinstance(v, Table) for k, v in value.entries):
        out.append(head + "{ " + " ".join(_key(k) + " = " + _scalar(v) + "," for k, v in value.entries) + " }")
        return
    out.append(head + "{\n")
    pad = "\t" * (indent + 1)
    for key, item in value.entries:
        out.append(pad)
        if key is not None:
            out.append(_key(key) + " = ")
        _write(item, indent + 1, out)
        out.append(",\n")
    out.append("\t" * indent + "}")


def dumps(value):
    """Writes a value back as `.setting` text."""
    out = []
    _write(value, 0, out)
    return "".join(out) + "\n"
