// Times drawFrame for a two-line caption with outline and blurred glow.
#include "render/native_text_renderer.h"

#include <cairo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {
double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}
}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 1 ? std::atoi(argv[1]) : 1920;
    const int height = argc > 2 ? std::atoi(argv[2]) : 1080;
    const int frames = argc > 3 ? std::atoi(argv[3]) : 60;

    tessivo::NativeTextSequence block;
    block.text = "Two lines of caption\nwith outline and glow";
    block.font = "Bebas Neue";
    block.duration = 1000;
    block.hasOutline = !std::getenv("BENCH_NO_OUTLINE");
    block.outlineWidth = 6;
    block.glowType = std::getenv("BENCH_NO_GLOW") ? "none" : "neon";
    block.glowIntensity = 20;
    block.animIn = "pop";
    tessivo::NativeCaptionRenderer renderer(width, height, {block});

    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    std::vector<unsigned char> buffer(static_cast<size_t>(stride) * height);
    renderer.drawFrame(10, buffer.data(), stride);  // shapes and caches the block

    for (double start : {10.0, 0.0}) {  // still frames, then the entrance (new scale every frame)
        const auto t0 = std::chrono::steady_clock::now();
        const double cpu0 = threadSeconds();
        for (int i = 0; i < frames; ++i) renderer.drawFrame(start + i * 0.005, buffer.data(), stride);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        const double cpuMs = (threadSeconds() - cpu0) * 1000;
        std::printf("%dx%d %s: %.2f ms CPU, %.2f ms wall per frame\n", width, height,
                    start > 0 ? "still" : "animated", cpuMs / frames, ms / frames);
    }
    return 0;
}
