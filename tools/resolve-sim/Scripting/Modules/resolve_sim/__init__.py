"""A stand-in for DaVinci Resolve's scripting interface, for tests and demos.

The whole state lives in the JSON file named by TESSIVO_RESOLVE_SIM_STATE.
"""

from .api import scriptapp  # noqa: F401
