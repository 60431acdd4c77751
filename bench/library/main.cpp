// The effect library's figures: "fusionLibraryLoad" from the editor's message
// to the delivered callback over a library of 200 captured effects with 12
// preview frames each (the included effects' frames copied, so each frame has
// a real preview's size), cold once and then warm; and one "fusionInsertEffect"
// round trip into a fresh Resolve simulator state.
//
//   build/bench/bench-library [RUNS]
#include "app/engine.h"
#include "library/library_store.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

using namespace tessivo;
namespace fs = std::filesystem;

namespace {
using Clock = std::chrono::steady_clock;


double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class AnswerView final : public MainWebView {
public:
    void evaluateScript(const std::string&) override {}
    void deliverCallback(const std::string& function, const std::string& payload, const std::string&) override {
        delivered = Clock::now();
        name = function;
        size = payload.size();
        answer = parseJson(payload);
    }
    Clock::time_point delivered;
    std::string name;
    std::size_t size = 0;
    std::optional<Json> answer;
};

bool makeLibrary(const fs::path& root, const fs::path& frames) {
    std::vector<fs::path> sources;
    for (const auto& entry : fs::directory_iterator(frames))
        if (entry.path().extension() == ".jpg") sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end());
    if (sources.empty()) return false;
    for (int e = 0; e < 200; ++e) {
        char id[32];
        std::snprintf(id, sizeof id, "captured-bench-%03d", e);
        const fs::path folder = root / id;
        fs::create_directories(folder);
        Json paths = Json::array();
        for (int f = 0; f < 12; ++f) {
            const fs::path frame = folder / ("preview-" + std::to_string(f + 1) + ".jpg");
            fs::copy_file(sources[static_cast<std::size_t>(f) % sources.size()], frame, fs::copy_options::overwrite_existing);
            paths.push_back(frame.string());
        }
        fs::copy_file(frames / "template.setting", folder / "template.setting", fs::copy_options::overwrite_existing);
        const Json metadata = {{"id", id}, {"name", std::string("Effet ") + id}, {"source", "captured"},
                               {"templatePath", (folder / "template.setting").string()}, {"previewFramePaths", paths},
                               {"textTargets", Json::array({{{"toolName", "Template"}, {"text", "Bench"}}})}};
        if (!writeFileAtomically(folder / "metadata.json", metadata.dump(4))) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const fs::path scratch = fs::temp_directory_path() / ("tessivo-bench-library-" + makeUUID());
    fs::create_directories(scratch);
    setenv("HOME", (scratch / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / "home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "home/.local/share").c_str(), 1);
    setenv("TMPDIR", scratch.c_str(), 1);
    setenv("TESSIVO_SETTINGS_FILE", (scratch / "settings.ini").c_str(), 1);
    setenv("TESSIVO_RESOLVE_SIM_STATE", (scratch / "resolve.json").c_str(), 1);
    setenv("TESSIVO_RESOLVE_SCRIPT_API", TESSIVO_SOURCE_DIR "/tools/resolve-sim/Scripting", 1);
    unsetenv("PYTHONPATH");
    unsetenv("RESOLVE_SCRIPT_LIB");

    auto engine = ExportEngine::create();
    auto view = std::make_shared<AnswerView>();
    engine->setup(view);
    const fs::path frames = engine->configuration().resourcesFolder / "BundledFusionEffects" / "included-shine";
    if (!makeLibrary(applicationSupportDirectory() / "Tessivo" / "FusionEffects", frames)) {
        std::fprintf(stderr, "no preview frames in %s\n", frames.c_str());
        return 1;
    }

    std::vector<double> loads;
    for (int i = 0; i <= runs; ++i) {
        view->answer.reset();
        const auto start = Clock::now();
        engine->handleWebMessage(Json{{"type", "fusionLibraryLoad"}});
        runMainContextUntil([&] { return view->answer.has_value(); }, 0.0005);
        // Up to the page's call: parsing the payload is the page's work.
        const double ms = std::chrono::duration<double, std::milli>(view->delivered - start).count();
        if (!view->answer || !view->answer->value("success", false)) {
            std::fprintf(stderr, "listing failed\n");
            return 1;
        }
        if (i == 0) {
            std::printf("fusionLibraryLoad cold (seeding included): %.1f ms, %zu effects, callback %.1f MB\n", ms,
                        (*view->answer)["effects"].size(), view->size / 1e6);
        } else {
            loads.push_back(ms);
        }
    }
    std::sort(loads.begin(), loads.end());
    std::printf("fusionLibraryLoad warm: median %.1f ms, min %.1f ms, max %.1f ms over %d runs\n",
                loads[loads.size() / 2], loads.front(), loads.back(), runs);

    // The stages alone: both listings, then the payload's text.
    {
        const FusionLibraryStore store(applicationSupportDirectory(), engine->configuration().resourcesFolder);
        auto start = Clock::now();
        auto lists = store.fusionEffectLists();
        const double listing = millisSince(start);
        Json payload = Json::object();
        payload["success"] = true;
        payload["effects"] = std::move(lists.value().first);
        payload["renderEffects"] = std::move(lists.value().second);
        start = Clock::now();
        auto text = serializeJson(payload);
        const double ours = millisSince(start);
        start = Clock::now();
        const std::string reference = payload.dump();
        const double theirs = millisSince(start);
        std::printf("stages: both listings %.1f ms, payload text %.1f ms (the JSON library's own dump: %.1f ms, %s)\n",
                    listing, ours, theirs, text && *text == reference ? "same text" : "TEXT DIFFERS");
    }

    const std::string command = "/usr/bin/python3 " TESSIVO_SOURCE_DIR "/tools/resolve-sim/resolve-sim --state '" +
                                (scratch / "resolve.json").string() + "' init --fps 24 --start-timecode 01:00:00:00 >/dev/null";
    if (std::system(command.c_str()) != 0) return 1;
    view->answer.reset();
    const auto start = Clock::now();
    engine->handleWebMessage(Json{{"type", "fusionInsertEffect"},
                                  {"payload", {{"id", "included-shine"}, {"requestId", "bench"}, {"recordFrame", 86400},
                                               {"instance", {{"text", "Bench"}}}}}});
    runMainContextUntil([&] { return view->answer.has_value(); }, 0.0005);
    const bool inserted = view->answer && view->answer->value("success", false);
    std::printf("fusionInsertEffect round trip into the simulator: %.1f ms (%s)\n", millisSince(start),
                inserted ? "inserted" : "failed");
    engine->shutdown();
    engine.reset();
    fs::remove_all(scratch);
    return inserted ? 0 : 1;
}
