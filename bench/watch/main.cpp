// The timeline watch's figures against the Resolve simulator: the time from a
// playhead change (the simulator's command has written its state) to the
// "window.onFusionPlayheadChanged" callback, over changes spread across the
// poll's half-second phase; then the CPU time of the watch child and of the
// engine while Resolve stays idle.
//
//   build/bench/bench-watch [CHANGES] [IDLE_SECONDS]
#include "app/engine.h"
#include "presence/timeline_watch.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

using namespace tessivo;
namespace fs = std::filesystem;

namespace {
using Clock = std::chrono::steady_clock;

double millis(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

class WatchView final : public MainWebView {
public:
    void evaluateScript(const std::string&) override {}
    void deliverCallback(const std::string& function, const std::string& payload, const std::string&) override {
        if (function != "window.onFusionPlayheadChanged") return;
        auto value = parseJson(payload);
        if (value && value->value("success", false)) frames.emplace_back(value->value("currentFrame", -1), Clock::now());
    }
    std::vector<std::pair<long, Clock::time_point>> frames;
};

// User and system CPU seconds of a process, from /proc.
double processCPUSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stod(field);
        if (i == 15) {
            stime = std::stod(field);
            break;
        }
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCPUSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int changes = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
    const double idleSeconds = argc > 2 ? std::max(2.0, std::atof(argv[2])) : 20.0;
    const fs::path scratch = fs::temp_directory_path() / ("tessivo-bench-watch-" + makeUUID());
    fs::create_directories(scratch);
    const std::string state = (scratch / "resolve.json").string();
    setenv("HOME", (scratch / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / "home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "home/.local/share").c_str(), 1);
    setenv("TMPDIR", scratch.c_str(), 1);
    setenv("TESSIVO_SETTINGS_FILE", (scratch / "settings.ini").c_str(), 1);
    setenv("TESSIVO_RESOLVE_SIM_STATE", state.c_str(), 1);
    setenv("TESSIVO_RESOLVE_SCRIPT_API", TESSIVO_SOURCE_DIR "/tools/resolve-sim/Scripting", 1);
    unsetenv("PYTHONPATH");
    unsetenv("RESOLVE_SCRIPT_LIB");
    const std::string sim = "/usr/bin/python3 " TESSIVO_SOURCE_DIR "/tools/resolve-sim/resolve-sim --state '" + state + "' ";
    if (std::system((sim + "init --fps 25 --timeline Montage >/dev/null").c_str()) != 0) return 1;

    auto engine = ExportEngine::create();
    auto view = std::make_shared<WatchView>();
    engine->setup(view);
    engine->handleWebMessage(Json{{"type", "fusionTimelineWatchStart"}});
    runMainContextUntil([&] { return !view->frames.empty(); }, 0.001);

    std::mt19937 random(15);
    std::uniform_int_distribution<int> phase(0, 499);
    std::vector<double> latencies;
    for (int c = 1; c <= changes; ++c) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        if (std::system((sim + "playhead " + std::to_string(c * 7) + " >/dev/null").c_str()) != 0) return 1;
        const auto changed = Clock::now();
        const long expected = 90000 + c * 7;
        const auto deadline = changed + std::chrono::seconds(5);
        runMainContextUntil([&] { return view->frames.back().first == expected || Clock::now() > deadline; }, 0.001);
        if (view->frames.back().first != expected) {
            std::fprintf(stderr, "change %d not seen within 5 s\n", c);
            return 1;
        }
        latencies.push_back(millis(view->frames.back().second - changed));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("playhead change to callback over %d changes: median %.0f ms, worst %.0f ms (targets: below 400 and 700 ms)\n",
                changes, latencies[latencies.size() / 2], latencies.back());

    const auto child = engine->timelineWatch().childProcess();
    if (!child) {
        std::fprintf(stderr, "no watch child\n");
        return 1;
    }
    const double childBefore = processCPUSeconds(*child);
    const double selfBefore = selfCPUSeconds();
    const auto idleStart = Clock::now();
    runMainContextUntil([&] { return millis(Clock::now() - idleStart) >= idleSeconds * 1000; }, 0.05);
    const double wall = millis(Clock::now() - idleStart) / 1000;
    const double childCPU = processCPUSeconds(*child) - childBefore;
    const double selfCPU = selfCPUSeconds() - selfBefore;
    std::printf("idle Resolve for %.0f s: watch child %.2f %% of one core, engine %.2f %% (target: below 1 %%)\n", wall,
                100 * childCPU / wall, 100 * selfCPU / wall);

    engine->shutdown();
    engine.reset();
    fs::remove_all(scratch);
    return 0;
}
