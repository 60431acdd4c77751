// bench-render-web: renders the fixture project through the render page (an
// offscreen WebKit view, one snapshot per changing frame) and then with the
// native renderer, in the same run, and prints frames per second of each
// whole job, the time spent waiting for snapshots, the reuse counts and the
// ratio of the two.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench-render-web [--plain] [--seconds N] [FIXTURE.json]
//
// --plain drops glows and outlines (plain captions); --seconds N keeps the
// first N seconds of the project.

#include "app/engine.h"
#include "app/gtk/offscreen_render_surface.h"
#include "platform/files.h"
#include "platform/queue.h"
#include "app/render_end_view.h"
#include "render/render_job.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tessivo;

namespace {

struct JobFigures {
    bool completed = false;
    double seconds = 0;
    Json metrics;
};

JobFigures runJob(const fs::path& folder, const Json& params, const std::string& renderer) {
    ExportEngine::Options options;
    options.configuration.settingsFile = folder / "settings.ini";
    auto engine = ExportEngine::create(options);
    auto view = std::make_shared<RenderEndView>();
    engine->setup(view);
    engine->setRenderSurfaceFactory(offscreenRenderSurfaceFactory());
    Json job = params;
    job["renderer"] = renderer;
    const auto started = std::chrono::steady_clock::now();
    engine->renderJob().executeExport(folder / (renderer + ".mov"), job);
    waitForRenderEnd(*engine, *view);
    JobFigures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    figures.completed = view->completed;
    figures.metrics = engine->renderJob().exportMetricsPayload();
    if (!view->completed)
        std::fprintf(stderr, "bench-render-web: %s render cancelled: %s\n", renderer.c_str(),
                     engine->renderJob().lastCancelReason().c_str());
    engine->shutdown();
    return figures;
}

void print(const char* name, const JobFigures& f) {
    const long long total = f.metrics["totalFrames"].get<long long>();
    std::printf("%-7s %6.2f s  %7.1f fps  snapshots %5lld (%.2f s, %.2f ms each)  reused %5lld  blank %5lld\n", name,
                f.seconds, total / f.seconds, f.metrics["snapshots"].get<long long>(),
                f.metrics["captureSeconds"].get<double>(),
                f.metrics["snapshots"].get<long long>() > 0
                    ? 1000 * f.metrics["captureSeconds"].get<double>() / f.metrics["snapshots"].get<double>()
                    : 0.0,
                f.metrics["reusedFrames"].get<long long>(), f.metrics["blankFrames"].get<long long>());
}

}  // namespace

int main(int argc, char** argv) {
    std::string fixture = TESSIVO_BENCH_FIXTURE;
    bool plain = false;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plain") plain = true;
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else fixture = a;
    }
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "bench-render-web: no display (run under xvfb-run)\n");
        return 2;
    }
    auto text = readFile(fixture);
    auto parsed = text ? parseJson(*text) : std::nullopt;
    if (!parsed || !parsed->is_object()) {
        std::fprintf(stderr, "bench-render-web: cannot read %s\n", fixture.c_str());
        return 2;
    }
    Json params = *parsed;
    if (seconds > 0) params["end"] = seconds;
    if (plain) {
        for (auto& block : params["sequences"]) {
            block["glowType"] = "none";
            block["hasOutline"] = false;
        }
    }

    const fs::path folder = fs::temp_directory_path() / ("tessivo-bench-web-" + makeUUID());
    fs::create_directories(folder);
    std::printf("project %s, %dx%d, %s captions\n", fs::path(fixture).filename().c_str(), params["width"].get<int>(),
                params["height"].get<int>(), plain ? "plain" : "styled");
    const JobFigures web = runJob(folder, params, "web");
    const JobFigures native = runJob(folder, params, "native");
    int status = 0;
    if (web.completed) print("page", web);
    else status = 1;
    if (native.completed) print("native", native);
    else status = 1;
    if (web.completed && native.completed)
        std::printf("page / native time ratio %.2f (page %.1f fps, target >= 60 for plain captions)\n",
                    web.seconds / native.seconds, web.metrics["totalFrames"].get<double>() / web.seconds);
    fs::remove_all(folder);
    return status;
}
