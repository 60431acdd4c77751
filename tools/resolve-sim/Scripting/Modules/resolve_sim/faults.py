"""Fault injection: per method name, make a call fail, raise, hang, end the
process, or print unreadable output, as a misbehaving Resolve would."""

import math
import os
import sys
import time

MODES = ("none", "false", "raise", "hang", "exit", "garbage", "badutf8", "value", "nan")

GARBAGE_TEXT = "\x1b[31m##### fusionscript: lost connection {\"__ORVEL_JSON__\" ~~~ \x00\x07 #####"
BAD_UTF8 = b"\xff\xfe\xc3\x28 \xa0\xa1 \xe2\x28\xa1\n"


def take(state, name, args):
    """The fault to apply to this call of `name`, or None. A fault waits out
    its "after" calls first; one with a remaining count is used up one call at
    a time and removed at zero."""
    fault = state.get("faults", {}).get(name)
    if not fault:
        return None
    wanted = fault.get("args")
    if wanted is not None and list(_plain(a) for a in args) != list(wanted):
        return None
    after = fault.get("after")
    if after:
        # The first calls go through untouched.
        fault["after"] = after - 1
        return None
    times = fault.get("times")
    if times is not None:
        if times <= 1:
            del state["faults"][name]
        else:
            fault["times"] = times - 1
    return dict(fault)


def _plain(value):
    if isinstance(value, (str, int, float, bool)) or value is None:
        return value
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    return repr(value)


class InjectedFault(RuntimeError):
    pass


def apply(fault, name):
    """Performs the fault. Returns (handled, value): handled is False when the
    call should then run normally (hang, garbage and badutf8 do that)."""
    mode = fault.get("mode", "none")
    if mode == "none":
        return True, None
    if mode == "false":
        return True, False
    if mode == "value":
        return True, fault.get("value")
    if mode == "nan":
        return True, math.nan
    if mode == "raise":
        raise InjectedFault(fault.get("message") or "simulated failure in %s" % name)
    if mode == "exit":
        try:
            sys.stdout.flush()
            sys.stderr.flush()
        finally:
            os._exit(int(fault.get("code", 1)))
    if mode == "hang":
        time.sleep(float(fault.get("seconds", 3600)))
        return False, None
    if mode == "garbage":
        sys.stdout.write(fault.get("text") or GARBAGE_TEXT)
        sys.stdout.write("\n")
        sys.stdout.flush()
        return False, None
    if mode == "badutf8":
        sys.stdout.flush()
        out = getattr(sys.stdout, "buffer", None)
        if out is not None:
            out.write(BAD_UTF8)
            out.flush()
        else:
            os.write(1, BAD_UTF8)
        return False, None
    return True, None
