// Headless Lottie export: the file side of the Lottie route, driven from a
// request file instead of the editor.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

namespace tessivo {

// Reads the export request (JSON: "sequences", "start", "end", "fps", "width",
// "height", "sfxEvents"...) from `paramsPath`, writes the dotLottie archives
// and the sound-effect files into `outDir`, and prints on `out` one compact
// JSON line {"lottieClips": [...], "sfxFiles": [...]} holding the records the
// import script would receive. On failure prints the French message on `err`
// and returns 1 (2 when the request file cannot be read); 0 on success.
int runLottieCommand(const std::string& paramsPath, const std::filesystem::path& outDir, std::ostream& out,
                     std::ostream& err);

}  // namespace tessivo
