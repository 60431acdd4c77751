"""The simulated Resolve's whole state: one JSON file shared by every process.

Every API call runs inside a transaction: take an exclusive flock on the
sidecar lock file, read the state afresh, run, and write the state back
(temporary file + rename) when it changed. Scripts end with os._exit, which
skips interpreter shutdown, so nothing may be left for a later flush.
The lock lives on a separate file because the rename replaces the state
file's inode, and a lock held on the old inode would not exclude anyone.
"""

import contextlib
import fcntl
import json
import os
import tempfile
import threading

ENV_VAR = "TESSIVO_RESOLVE_SIM_STATE"

_local = threading.local()
_thread_lock = threading.RLock()


def state_path():
    path = os.environ.get(ENV_VAR)
    if path:
        return os.path.abspath(path)
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local", "share")
    return os.path.join(base, "tessivo-resolve-sim", "state.json")


def _read(path):
    try:
        with open(path, "r", encoding="utf-8") as handle:
            text = handle.read()
    except FileNotFoundError:
        return None, None
    if not text.strip():
        return None, None
    return json.loads(text), text


def _dump(state):
    return json.dumps(state, ensure_ascii=False, indent=1)


def write_atomic(path, text):
    folder = os.path.dirname(path) or "."
    os.makedirs(folder, exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix=".resolve-sim-", suffix=".tmp", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as handle:
            handle.write(text)
            handle.flush()
            os.fsync(handle.fileno())
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(tmp)
        raise


@contextlib.contextmanager
def transaction(path=None):
    """Yields the current state (a dict) under the exclusive lock. Nested
    transactions in the same thread share the outer one's state."""
    current = getattr(_local, "current", None)
    if current is not None:
        yield current
        return
    from . import model  # late import: model builds default states

    path = path or state_path()
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with _thread_lock:
        lock_fd = os.open(path + ".lock", os.O_RDWR | os.O_CREAT, 0o644)
        try:
            fcntl.flock(lock_fd, fcntl.LOCK_EX)
            state, original = _read(path)
            if state is None:
                state = model.default_state()
            model.upgrade(state)
            _local.current = state
            try:
                yield state
            finally:
                _local.current = None
            text = _dump(state)
            if text != original:
                write_atomic(path, text)
        finally:
            fcntl.flock(lock_fd, fcntl.LOCK_UN)
            os.close(lock_fd)


def replace_state(state, path=None):
    """Writes a whole new state (used by `resolve-sim init`)."""
    path = path or state_path()
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    lock_fd = os.open(path + ".lock", os.O_RDWR | os.O_CREAT, 0o644)
    try:
        fcntl.flock(lock_fd, fcntl.LOCK_EX)
        write_atomic(path, _dump(state))
    finally:
        fcntl.flock(lock_fd, fcntl.LOCK_UN)
        os.close(lock_fd)
