# Runs the script file named by the first argument as the main module, so that
# it sees its own path as sys.argv[0] and the caller's arguments after it, and
# always ends the process with a hard exit (the Resolve module can hang the
# interpreter's shutdown).
import os, runpy, sys, traceback
path = sys.argv[1]
del sys.argv[0]
code = 0
try:
    runpy.run_path(path, run_name="__main__")
except SystemExit as stop:
    if isinstance(stop.code, int):
        code = stop.code
    elif stop.code is not None and stop.code != "":
        print(stop.code, file=sys.stderr, flush=True)
        code = 1
except BaseException:
    traceback.print_exc()
    code = 1
finally:
    try:
        sys.stdout.flush()
        sys.stderr.flush()
    finally:
        os._exit(code)
