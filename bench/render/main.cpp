// bench-render: renders the fixture project with the native renderer through
// the engine's render job, then times the ffmpeg command encoding the same
// number of transparent frames of the same size to ProRes 4444 with the same
// settings, and prints both with their ratio.
//
//   bench-render [--4k] [--no-reference] [FIXTURE.json]

#include "app/engine.h"
#include "engine_api/views.h"
#include "platform/files.h"
#include "platform/queue.h"
#include "app/render_end_view.h"
#include "render/render_job.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tessivo;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    bool fourK = false;
    bool reference = true;
    std::string fixture = TESSIVO_BENCH_FIXTURE;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--4k") fourK = true;
        else if (a == "--no-reference") reference = false;
        else fixture = a;
    }
    auto text = readFile(fixture);
    auto parsed = text ? parseJson(*text) : std::nullopt;
    if (!parsed || !parsed->is_object()) {
        std::fprintf(stderr, "bench-render: cannot read %s\n", fixture.c_str());
        return 2;
    }
    Json params = *parsed;
    if (fourK) {
        params["width"] = 3840;
        params["height"] = 2160;
    }
    const int width = params["width"].get<int>();
    const int height = params["height"].get<int>();

    const fs::path folder = fs::temp_directory_path() / ("tessivo-bench-" + makeUUID());
    fs::create_directories(folder);
    ExportEngine::Options options;
    options.configuration.settingsFile = folder / "settings.ini";
    auto engine = ExportEngine::create(options);
    auto view = std::make_shared<RenderEndView>();
    engine->setup(view);

    const fs::path output = folder / "bench.mov";
    const auto started = std::chrono::steady_clock::now();
    engine->renderJob().executeExport(output, params);
    waitForRenderEnd(*engine, *view);
    const double renderSeconds = secondsSince(started);
    if (!view->completed) {
        std::fprintf(stderr, "bench-render: render cancelled: %s\n", engine->renderJob().lastCancelReason().c_str());
        fs::remove_all(folder);
        return 1;
    }
    const Json metrics = engine->renderJob().exportMetricsPayload();
    const long long total = metrics["totalFrames"].get<long long>();
    const long long reused = metrics["reusedFrames"].get<long long>();
    const long long blank = metrics["blankFrames"].get<long long>();
    const double fps = normalizedFrameRate(member(params, "fps"), 60);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);

    std::printf("size            %dx%d\n", width, height);
    std::printf("video seconds   %.2f\n", total / fps);
    std::printf("render seconds  %.2f\n", renderSeconds);
    std::printf("frames drawn    %lld\n", total - reused - blank);
    std::printf("frames reused   %lld\n", reused);
    std::printf("blank frames    %lld\n", blank);
    std::printf("file size MB    %.1f\n", fs::file_size(output) / 1e6);
    std::printf("peak memory MB  %.0f\n", usage.ru_maxrss / 1024.0);

    if (reference) {
        const fs::path referenceFile = folder / "reference.mov";
        const std::string command = "ffmpeg -nostdin -y -v error -f lavfi -i color=c=black@0.0:s=" +
                                    std::to_string(width) + "x" + std::to_string(height) + ":r=" +
                                    std::to_string(static_cast<int>(fps)) + ",format=rgba -frames:v " +
                                    std::to_string(total) +
                                    " -c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le -qscale:v 11"
                                    " -vendor apl0 '" + referenceFile.string() + "'";
        const auto referenceStarted = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double referenceSeconds = secondsSince(referenceStarted);
        if (status != 0) {
            std::fprintf(stderr, "bench-render: ffmpeg failed (%d)\n", status);
        } else {
            std::printf("ffmpeg seconds  %.2f\n", referenceSeconds);
            std::printf("ratio           %.3f (target <= 0.20)\n", renderSeconds / referenceSeconds);
        }
    }
    engine->shutdown();
    engine.reset();
    fs::remove_all(folder);
    return 0;
}
