// A smart export of the 20 blocks of the 60-second 1080p60 fixture (every
// other block Lottie-capable) into a fresh Resolve simulator state, through
// the engine's own steps with a stopwatch around each. Prints the time of each
// stage (timeline facts, Lottie files, Lottie insert, render, cut, insert) and
// the total, for the mixed export and for the fallback where Resolve refuses
// the Lottie archives and all 20 blocks are rendered and cut. The cut and the
// insertion are also run again alone on the export's render, so that each has
// its own figure.
//
//   build/bench/bench-deliver
#include "app/engine.h"
#include "bridge/coercion.h"
#include "delivery/exact_web_delivery.h"
#include "delivery/segment_cutter.h"
#include "delivery/smart_delivery.h"
#include "delivery/smart_steps.h"
#include "lottie/lottie_route.h"
#include "platform/files.h"
#include "render/render_job.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace tessivo;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Stages {
    double facts = 0, lottieFiles = 0, lottieInsert = 0, exact = 0;
    Json exactRequest;
};

// The engine's steps, each timed.
class TimedSteps final : public SmartDeliverySteps {
public:
    TimedSteps(EngineSmartSteps& inner, LottieDelivery& lottie, Stages& stages)
        : inner_(inner), lottie_(lottie), stages_(stages) {}

    bool isRendering() const override { return inner_.isRendering(); }
    void restartMetrics() override { inner_.restartMetrics(); }
    Json metricsPayload() const override { return inner_.metricsPayload(); }
    std::string codecName() const override { return inner_.codecName(); }

    void readTimelineFacts(Outcome done) override {
        const auto start = Clock::now();
        inner_.readTimelineFacts([this, start, done](Result<Json> r) {
            stages_.facts = since(start);
            done(std::move(r));
        });
    }
    void runLottie(const Json& request, const Json& sfxEvents, Outcome done) override {
        auto start = Clock::now();
        auto clips = makeResolveLottieClips(request);
        stages_.lottieFiles = since(start);
        if (!clips || clips.value().empty()) {
            done(clips ? Error{"Tessivo", -101, "Aucun clip Lottie n'a pu être créé."} : clips.error());
            return;
        }
        start = Clock::now();
        lottie_.insertResolveLottieClips(clips.value(), sfxEvents, [this, start, done](Result<Json> r) {
            stages_.lottieInsert = since(start);
            done(std::move(r));
        });
    }
    void runExactWeb(const Json& request, std::function<void(ExactWebOutcome)> done) override {
        stages_.exactRequest = request;
        const auto start = Clock::now();
        inner_.runExactWeb(request, [this, start, done](ExactWebOutcome o) {
            stages_.exact = since(start);
            done(std::move(o));
        });
    }

private:
    EngineSmartSteps& inner_;
    LottieDelivery& lottie_;
    Stages& stages_;
};

class AnswerView final : public MainWebView {
public:
    void evaluateScript(const std::string&) override {}
    void deliverCallback(const std::string& function, const std::string& payload, const std::string&) override {
        if (function == "window.onResolveExportComplete") answer = parseJson(payload);
    }
    std::optional<Result<Json>> answer;
};

bool sim(const fs::path& state, const std::string& arguments) {
    const std::string command = "/usr/bin/python3 " TESSIVO_SOURCE_DIR "/tools/resolve-sim/resolve-sim --state '" +
                                state.string() + "' " + arguments + " > /dev/null";
    return std::system(command.c_str()) == 0;
}

bool run(const char* title, const fs::path& state, const Json& project, bool refuseLottie) {
    if (!sim(state, "init --fps 60 --resolution 1920x1080 --start-timecode 01:00:00:00")) return false;
    if (refuseLottie && !sim(state, "set profile 20.2")) return false;

    auto engine = ExportEngine::create();
    auto view = std::make_shared<AnswerView>();
    engine->setup(view);
    LottieDelivery lottie(*engine);
    EngineSmartSteps steps(*engine, engine->renderJob(), lottie, engine->exactWebDelivery());
    Stages stages;
    TimedSteps timed(steps, lottie, stages);
    SmartDelivery planner(*engine, timed);

    const auto start = Clock::now();
    planner.startResolveSmartExport(project);
    runMainContextUntil([&] { return view->answer.has_value() && engine->isIdle(); });
    const double total = since(start);
    if (!view->answer->ok()) return false;
    const Json& answer = view->answer->value();
    if (!boolValue(answer, "success", false)) {
        std::fprintf(stderr, "%s: %s\n", title, answer.dump().c_str());
        return false;
    }
    const Json& metrics = answer["metrics"];
    const double render = doubleValue(metrics, "preparationSeconds", 0) + doubleValue(metrics, "renderSeconds", 0);
    const double cutAndInsert = doubleValue(metrics, "insertionSeconds", 0);

    // The cut again, alone, on the same render and blocks.
    const double renderStart = doubleValue(stages.exactRequest, "start", 0);
    const auto segments = makeResolveClipSegments(stages.exactRequest);
    const auto cutStart = Clock::now();
    auto files = createResolveSegmentFiles(stringValue(answer, "filePath", ""), segments, renderStart);
    const double cut = since(cutStart);
    if (!files.ok()) {
        std::fprintf(stderr, "%s: %s\n", title, files.error().message.c_str());
        return false;
    }

    // The insertion again, alone, with those files, into a fresh state.
    if (!sim(state, "init --fps 60 --resolution 1920x1080 --start-timecode 01:00:00:00")) return false;
    std::optional<Result<Json>> inserted;
    const auto insertStart = Clock::now();
    engine->runner().runResolvePython(
        exactWebInsertScript(),
        resolveInsertArguments(stringValue(answer, "filePath", ""), renderStart, segments, true, files.value(),
                               Json::array()),
        ExactWebDelivery::kInsertTimeLimitSeconds, [&](Result<Json> r) { inserted = std::move(r); });
    runMainContextUntil([&] { return inserted.has_value(); });
    const double insert = since(insertStart);
    if (!inserted->ok() || !boolValue(inserted->value(), "success", false)) {
        std::fprintf(stderr, "%s: insertion refused\n", title);
        return false;
    }

    std::printf("%s: %lld Lottie clips, %lld Exact Web clips, %lld frames rendered\n", title,
                static_cast<long long>(intValue(answer, "directCount", 0)),
                static_cast<long long>(intValue(answer, "exactCount", 0)),
                static_cast<long long>(intValue(metrics, "totalFrames", 0)));
    std::printf("  timeline facts       %7.3f s\n", stages.facts);
    std::printf("  Lottie files         %7.3f s\n", stages.lottieFiles);
    std::printf("  Lottie insert        %7.3f s\n", stages.lottieInsert);
    std::printf("  render               %7.3f s\n", render);
    std::printf("  cut (%2zu segments)    %7.3f s   (target < 1 s)\n", segments.size(), cut);
    std::printf("  insert (Exact Web)   %7.3f s   (cut + insert during the export %.3f s)\n", insert, cutAndInsert);
    std::printf("  total                %7.3f s   all but the render %.3f s, sum of the stages but the render "
                "%.3f s (target < 3 s)\n",
                total, total - render, stages.facts + stages.lottieFiles + stages.lottieInsert + cut + insert);
    return true;
}

}  // namespace

int main() {
    const fs::path scratch = fs::temp_directory_path() / ("tessivo-bench-deliver-" + makeUUID());
    fs::create_directories(scratch / "home");
    // Everything the export writes stays in the scratch folder.
    setenv("HOME", (scratch / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / "home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "home/.local/share").c_str(), 1);
    setenv("TMPDIR", scratch.c_str(), 1);
    setenv("TESSIVO_SETTINGS_FILE", (scratch / "settings.ini").c_str(), 1);
    setenv("TESSIVO_RESOLVE_SIM_STATE", (scratch / "resolve.json").c_str(), 1);
    setenv("TESSIVO_RESOLVE_SCRIPT_API", TESSIVO_SOURCE_DIR "/tools/resolve-sim/Scripting", 1);
    unsetenv("PYTHONPATH");
    unsetenv("RESOLVE_SCRIPT_LIB");

    auto text = readFile(TESSIVO_BENCH_FIXTURE);
    auto project = text ? parseJson(*text) : std::nullopt;
    if (!project || !project->is_object()) {
        std::fprintf(stderr, "fixture illisible\n");
        return 1;
    }
    int n = 0;
    for (Json& block : (*project)["sequences"])
        if (n++ % 2 == 0) block["lottieCapability"] = Json{{"status", "supported"}};

    const bool ok = run("mixed smart export", scratch / "resolve.json", *project, false) &&
                    run("Lottie refused, every block by Exact Web", scratch / "resolve.json", *project, true);
    fs::remove_all(scratch);
    return ok ? 0 : 1;
}
