// The headless render command: renders one "startRender" payload to a movie
// file through the same engine as the program, without a window.
#pragma once

namespace tessivo {

// `argv[0]` is the command's own name ("render"); then PARAMS.json (a
// "startRender" payload) and "-o OUT" (or "--output OUT"). Shows progress on
// standard error (a redrawn bar on a terminal, plain lines otherwise), prints
// the render metrics as one JSON object on standard output, and returns 0 when
// the movie was written, 1 when the render was cancelled (the reason on
// standard error), 2 for bad arguments or an unreadable params file, and
// 128 + the signal's number when SIGINT, SIGTERM or SIGHUP interrupted it
// (the job is cancelled and leaves no file; a second signal exits at once).
int runRenderCommand(int argc, char** argv);

}  // namespace tessivo
