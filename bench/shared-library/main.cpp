// The shared library's figures: "fusionSharedLibraryCreate" from the editor's
// message to its final result, with 20 captured effects mirrored into the
// simulator's Power Bin and their 20 previews computed one after the other;
// then the engine's own cost per preview run: the time between two progress
// messages of the chain minus the lifetime of that run's interpreter process
// (the interpreter is a small wrapper that notes when each process starts and
// ends).
//
//   build/bench/bench-shared-library [EFFECTS]
#include "app/engine.h"
#include "library/preview_frames.h"
#include "library/shared_library.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace tessivo;
namespace fs = std::filesystem;

namespace {
using Clock = std::chrono::steady_clock;

double millis(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

class ChainView final : public MainWebView {
public:
    void evaluateScript(const std::string&) override {}
    void deliverCallback(const std::string& function, const std::string& payload, const std::string&) override {
        if (function == "window.onFusionSharedLibraryProgress") {
            auto value = parseJson(payload);
            if (value && !value->value("warning", false)) progress.push_back(Clock::now());
            if (value && value->value("warning", false)) ++warnings;
        } else if (function == "window.onFusionSharedLibraryResult") {
            finished = Clock::now();
            result = parseJson(payload).value_or(Json());
            done = true;
        }
    }
    std::vector<Clock::time_point> progress;
    Clock::time_point finished;
    Json result;
    int warnings = 0;
    bool done = false;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int effects = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const fs::path scratch = fs::temp_directory_path() / ("tessivo-bench-shared-" + makeUUID());
    fs::create_directories(scratch);
    const std::string state = (scratch / "resolve.json").string();
    const std::string scripting = TESSIVO_SOURCE_DIR "/tools/resolve-sim/Scripting";
    setenv("HOME", (scratch / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / "home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "home/.local/share").c_str(), 1);
    setenv("TMPDIR", scratch.c_str(), 1);
    setenv("TESSIVO_SETTINGS_FILE", (scratch / "settings.ini").c_str(), 1);
    setenv("TESSIVO_RESOLVE_SIM_STATE", state.c_str(), 1);
    // An installation whose ResolvePython notes each process's start and end.
    const fs::path installation = scratch / "resolve";
    const fs::path lifetimes = scratch / "lifetimes.txt";
    fs::create_directories(installation / "bin");
    fs::create_directory_symlink(scripting, installation / "Scripting");
    fs::create_directory_symlink(TESSIVO_SOURCE_DIR "/tools/resolve-sim/libs", installation / "libs");
    writeFileAtomically(installation / "bin" / "ResolvePython",
                        "#!/bin/sh\ndate +%s%N >> '" + lifetimes.string() + "'\n/usr/bin/python3 \"$@\"\ncode=$?\ndate +%s%N >> '" +
                            lifetimes.string() + "'\nexit $code\n");
    fs::permissions(installation / "bin" / "ResolvePython", fs::perms::owner_all);
    setenv("TESSIVO_RESOLVE_SCRIPT_API", (installation / "Scripting").c_str(), 1);
    unsetenv("PYTHONPATH");
    unsetenv("RESOLVE_SCRIPT_LIB");

    const std::string sim = "/usr/bin/python3 " TESSIVO_SOURCE_DIR "/tools/resolve-sim/resolve-sim --state '" + state + "' ";
    if (std::system((sim + "init --fps 24 >/dev/null && " + sim + "bin 'Power Bins' --current >/dev/null").c_str()) != 0)
        return 1;

    auto engine = ExportEngine::create();
    auto view = std::make_shared<ChainView>();
    engine->setup(view);
    const fs::path resources = engine->configuration().resourcesFolder;
    const fs::path root = applicationSupportDirectory() / "Tessivo" / "FusionEffects";
    // The three built-ins are seeded too: hide them, so that exactly `effects` are mirrored.
    fs::create_directories(root);
    writeFileAtomically(root / ".hidden-effects.json",
                        R"(["builtin-pop-clean", "builtin-slide-kinetic", "builtin-typewriter"])");
    for (int e = 0; e < effects; ++e) {
        char id[32];
        std::snprintf(id, sizeof id, "captured-bench-%02d", e);
        const fs::path folder = root / id;
        fs::create_directories(folder);
        fs::copy_file(resources / "BundledFusionEffects" / "included-shine" / "template.setting", folder / "template.setting");
        const Json metadata = {{"id", id}, {"name", std::string("Effet ") + id}, {"source", "captured"},
                               {"templatePath", (folder / "template.setting").string()}};
        writeFileAtomically(folder / "metadata.json", metadata.dump(2));
    }

    const auto start = Clock::now();
    engine->handleWebMessage(Json{{"type", "fusionSharedLibraryCreate"}});
    runMainContextUntil([&] { return view->done; }, 0.001);
    const double total = millis(view->finished - start);
    if (!view->result.value("success", false) || static_cast<int>(view->progress.size()) != effects) {
        std::fprintf(stderr, "create failed or incomplete: %s\n", view->result.dump().c_str());
        return 1;
    }
    std::vector<double> chained;
    for (std::size_t i = 0; i + 1 < view->progress.size(); ++i) chained.push_back(millis(view->progress[i + 1] - view->progress[i]));
    std::printf("create with %d effects: %.0f ms in all (scan and titles %.0f ms, %d preview warnings)\n", effects, total,
                millis(view->progress.front() - start), view->warnings);

    // Lines of the lifetimes file, in pairs: the create run, then the preview runs.
    std::vector<double> stamps;
    std::ifstream in(lifetimes);
    for (long long nanos = 0; in >> nanos;) stamps.push_back(static_cast<double>(nanos) / 1e6);
    std::vector<double> runs, overhead;
    for (std::size_t i = 0; i < chained.size() && 2 * (i + 1) + 1 < stamps.size(); ++i) {
        const double lifetime = stamps[2 * (i + 1) + 1] - stamps[2 * (i + 1)];
        runs.push_back(lifetime);
        overhead.push_back(chained[i] - lifetime);
    }
    if (runs.empty()) {
        std::fprintf(stderr, "no process lifetimes noted in %s\n", lifetimes.c_str());
        return 1;
    }
    // A preview run again, so that full-size frames are there to shrink.
    const fs::path script = scratch / "library.py";
    writeFileAtomically(script, resolveLibraryScript(resources));
    const Json request = {{"libraryRoot", root.string()}, {"id", "shared-captured-bench-00"}};
    const std::string command = "RESOLVE_SCRIPT_API='" + scripting + "' RESOLVE_SCRIPT_LIB='" + scripting +
                                "/../libs/Fusion/fusionscript.so' PYTHONPATH='" + scripting + "/Modules' /usr/bin/python3 '" +
                                script.string() + "' preview '" + request.dump() + "' >/dev/null";
    if (std::system(command.c_str()) != 0) return 1;
    // That run left full-size frames: what shrinking one preview costs
    // (done on the export queue while Resolve computes the next preview).
    std::vector<fs::path> frames;
    for (const auto& entry : fs::directory_iterator(root / "shared-captured-bench-00" / "preview")) frames.push_back(entry.path());
    const auto shrinkStart = Clock::now();
    const auto shrunk = optimizeFusionPreviewFrames(frames);
    std::printf("shrinking one preview's %zu frames: %.0f ms of CPU beside the next run\n", shrunk.size(),
                millis(Clock::now() - shrinkStart));
    std::printf("preview run in the chain: median %.0f ms, of which the interpreter process: median %.0f ms\n",
                median(chained), median(runs));
    std::sort(overhead.begin(), overhead.end());
    std::printf("engine overhead per preview run: median %.1f ms, max %.1f ms over %zu runs (target: below 50 ms)\n",
                median(overhead), overhead.back(), overhead.size());
    engine->shutdown();
    engine.reset();
    fs::remove_all(scratch);
    return 0;
}
