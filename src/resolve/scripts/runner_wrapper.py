# Runs the script file named by the first argument as the main module. The
# caller's arguments arrive in the file named by the second argument, each one
# ended by a NUL byte (a command line would be limited in size and readable by
# every local user); the file is removed once read. The script sees its own
# path as sys.argv[0] and those arguments after it, decoded as the interpreter
# decodes a command line. The process always ends with a hard exit (the
# Resolve module can hang the interpreter's shutdown).
import os, runpy, sys, traceback
path = sys.argv[1]
code = 0
try:
    with open(sys.argv[2], "rb") as handle:
        packed = handle.read()
    try:
        os.remove(sys.argv[2])
    except OSError:
        pass
    sys.argv[:] = [path] + [os.fsdecode(item) for item in packed.split(b"\0")[:-1]]
    del packed
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
