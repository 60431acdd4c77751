"""The scripting objects of the simulated Resolve: the machinery they share.

Each object is a light handle (an id); every call locks the shared state
file, reads it afresh, acts and writes it back, so several processes see one
Resolve. Calls report failure through their return value (None, False, [],
{}, '') and never raise, unless a fault was injected to make them.

The objects themselves live in one module each: api_resolve (Resolve, the
Fusion application, ProjectManager, Project), api_media_pool (MediaPool,
Folder, MediaPoolItem; api_append places clips on a timeline), api_timeline,
api_timeline_item and api_fusion (compositions and their tools). They refer to
each other through their modules, resolved at call time, so the order in which
they are imported does not matter.
"""

import functools
import math

from . import faults, model, store

_FAIL_FACTORIES = {list: list, dict: dict}


def _fail_value(fail):
    factory = _FAIL_FACTORIES.get(fail) if isinstance(fail, type) else None
    return factory() if factory else fail


def api(fail=None, since=None):
    """Marks a scripting method: `fail` is what it returns on any failure,
    `since` the first Resolve version that has it (earlier profiles see no
    such method, as with any unknown name)."""

    def deco(fn):
        name = fn.__name__

        @functools.wraps(fn)
        def wrapper(self, *args, **kwargs):
            # inferred: keyword arguments across the bridge are undocumented;
            # they are accepted here like positional ones.
            return _invoke(name, fn, fail, self, args, kwargs)

        wrapper._since = since
        return wrapper

    return deco


def _invoke(name, fn, fail, self, args, kwargs):
    try:
        with store.transaction() as st:
            # A Resolve that quit answers nothing on a connection made before.
            if not st["app"].get("running"):
                return _fail_value(fail)
            fault = faults.take(st, name, args)
            if fault is None:
                return fn(self, st, *args, **kwargs)
    except faults.InjectedFault:
        raise
    except Exception:
        return _fail_value(fail)
    handled, value = faults.apply(fault, name)
    if handled:
        return value
    try:
        with store.transaction() as st:
            return fn(self, st, *args, **kwargs)
    except Exception:
        return _fail_value(fail)


def _profile_allows(since):
    try:
        with store.transaction() as st:
            return model.at_least(st, since)
    except Exception:
        return False


class _Proxy:
    """Unknown names resolve to None, as on a direct connection, so hasattr()
    is always True and calling an unknown method raises TypeError."""

    _since_map = {}

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        since = {}
        for klass in reversed(cls.__mro__):
            for key, value in vars(klass).items():
                if callable(value) and getattr(value, "_since", None):
                    since[key] = value._since
        cls._since_map = since

    def __getattribute__(self, name):
        since = type(self)._since_map.get(name)
        if since is not None and not _profile_allows(since):
            return None
        return object.__getattribute__(self, name)

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        return None

    def __repr__(self):
        return "<%s %s>" % (type(self).__name__, getattr(self, "_id", ""))


def _is_int(value):
    if isinstance(value, bool):
        return False
    if isinstance(value, int):
        return True
    return isinstance(value, float) and math.isfinite(value) and value.is_integer()


def _require(value):
    if value is None:
        raise LookupError("object no longer exists")
    return value


def _project(st, pid):
    return _require(model.project_by_id(st, pid))


def _timeline(st, tid):
    return _require(model.timeline_by_id(st, tid)[1])


def _page_has_playhead(st):
    return st["app"].get("page") in ("cut", "edit", "color", "fairlight", "deliver")


# ---------------------------------------------------------------- connection

def scriptapp(app="Resolve", host=None, *rest):
    """Connects to the simulated Resolve; None when it is not running, when
    external scripting is off, or on the free edition of 21.1."""
    try:
        with store.transaction() as st:
            fault = faults.take(st, "scriptapp", (app,))
            if fault is None:
                return _connect(st, app, host)
    except faults.InjectedFault:
        raise
    except Exception:
        return None
    handled, value = faults.apply(fault, "scriptapp")
    if handled:
        return value
    try:
        with store.transaction() as st:
            return _connect(st, app, host)
    except Exception:
        return None


def _connect(st, app, host):
    a = st["app"]
    if not a.get("running") or not a.get("scriptingEnabled"):
        return None
    if host not in (None, "", "127.0.0.1", "localhost", "::1"):
        return None  # inferred: only the local machine runs a simulated Resolve
    if model.at_least(st, "21.1") and not a.get("studio"):
        return None
    # inferred: before 21.1 the free edition still answers external scripts.
    if app == "Resolve":
        return Resolve()
    if app == "Fusion":
        return FusionApp()
    return None


# The scripting objects themselves, re-exported; _connect builds Resolve and FusionApp.
from .api_resolve import FusionApp, Project, ProjectManager, Resolve  # noqa: E402
from .api_media_pool import Folder, MediaPool, MediaPoolItem  # noqa: E402
from .api_timeline import EDIT_TITLES, FUSION_TITLES, GENERATORS, Timeline  # noqa: E402
from .api_timeline_item import TimelineItem  # noqa: E402
from .api_fusion import FusionComp, Tool  # noqa: E402

__all__ = ["api", "scriptapp", "Resolve", "FusionApp", "ProjectManager", "Project", "MediaPool", "Folder",
           "MediaPoolItem", "Timeline", "TimelineItem", "FusionComp", "Tool", "FUSION_TITLES", "EDIT_TITLES",
           "GENERATORS"]
