"""DaVinciResolveScript for the simulated Resolve.

Scripts import it exactly as they import Resolve's own module (from
$RESOLVE_SCRIPT_API/Modules on PYTHONPATH) and call scriptapp("Resolve").
"""

import os
import sys

_here = os.path.dirname(os.path.abspath(__file__))
if _here not in sys.path:
    sys.path.insert(0, _here)

from resolve_sim.api import scriptapp  # noqa: E402,F401
