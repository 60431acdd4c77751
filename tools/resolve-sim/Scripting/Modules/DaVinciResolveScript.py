"""DaVinciResolveScript for the simulated Resolve.

Scripts import it exactly as they import Resolve's own module (from
$RESOLVE_SCRIPT_API/Modules on PYTHONPATH) and call scriptapp("Resolve").

Like Resolve's module, it first needs its native library: the file named by
RESOLVE_SCRIPT_LIB, else the one at Resolve's default Linux path. The
simulator's library is the stand-in file libs/Fusion/fusionscript.so of its
tree; a file that is missing, unreadable or not that stand-in does not load,
and when none loads the import fails with Resolve's own ImportError.
"""

import os
import sys

_DEFAULT_LIBRARY = "/opt/resolve/libs/Fusion/fusionscript.so"
_SIGNATURE = b"resolve-sim fusionscript stand-in\n"


def _loads(path):
    try:
        with open(path, "rb") as handle:
            return handle.read(len(_SIGNATURE)) == _SIGNATURE
    except OSError:
        return False


if not any(path and _loads(path) for path in (os.environ.get("RESOLVE_SCRIPT_LIB"), _DEFAULT_LIBRARY)):
    raise ImportError("Could not locate module dependencies")

_here = os.path.dirname(os.path.abspath(__file__))
if _here not in sys.path:
    sys.path.insert(0, _here)

from resolve_sim.api import scriptapp  # noqa: E402,F401
