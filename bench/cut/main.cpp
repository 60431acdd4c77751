// Writes a 60-second 1080p60 caption movie (ProRes 4444 with alpha, or H.264
// with --h264, key frames at the cuts) into a scratch folder, then times the
// cut of its 20 caption blocks into 20 files by stream copy. Prints the
// seconds of each run and the bytes copied; the folder is removed afterwards.
#include "delivery/segment_cutter.h"
#include "platform/files.h"
#include "render/video_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

using namespace tessivo;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr double kFps = 60;
constexpr int kSeconds = 60;
constexpr int kBlocks = 20;

// A caption-like picture: a band of half-transparent speckled "letters" in
// the lower third, different for every block.
std::shared_ptr<PixelBuffer> captionBuffer(const VideoWriter& writer, int block) {
    auto buffer = writer.makePixelBuffer();
    std::mt19937 random(block + 1);
    for (int y = 820; y < 960; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(buffer->data() + y * buffer->stride());
        for (int x = 360; x < 1560; ++x) {
            if ((x / 24 + y / 40 + block) % 3 == 0) continue;  // gaps between letters
            const std::uint32_t a = 160 + random() % 96;
            row[x] = (a << 24) | (a << 16) | (a << 8) | a;
        }
    }
    buffer->markDirty();
    return buffer;
}

std::vector<ClipSegment> blocks() {
    std::vector<ClipSegment> segments;
    for (int i = 0; i < kBlocks; ++i)
        segments.push_back(ClipSegment{std::to_string(i), "Bloc " + std::to_string(i), i * 3.0 + 0.25, i * 3.0 + 2.75, 0});
    return segments;
}

}  // namespace

int main(int argc, char** argv) {
    const bool h264 = argc > 1 && std::strcmp(argv[1], "--h264") == 0;
    const fs::path folder = fs::temp_directory_path() / ("tessivo-bench-cut-" + makeUUID());
    fs::create_directories(folder);
    const fs::path render = folder / (h264 ? "Tessivo_DaVinci_bench.mp4" : "Tessivo_DaVinci_bench.mov");
    const auto segments = blocks();

    VideoWriterSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.fps = kFps;
    settings.format = h264 ? "mp4" : "mov";
    settings.background = h264 ? "black" : "transparent";
    const std::int64_t frames = kSeconds * std::int64_t(kFps);
    settings.keyFrames = segmentKeyFrames(segments, 0, kFps, frames);
    auto writer = VideoWriter::configure(render, settings);
    if (!writer.ok()) {
        std::fprintf(stderr, "%s\n", writer.error().message.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    auto blank = writer.value()->blankPixelBuffer();
    std::shared_ptr<PixelBuffer> current;
    int currentBlock = -1;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = double(i) / kFps;
        const int block = int(t / 3.0);
        const bool visible = t - block * 3.0 >= 0.25 && t - block * 3.0 < 2.75;
        if (visible && block != currentBlock) {
            current = captionBuffer(*writer.value(), block);
            currentBlock = block;
        }
        if (auto failure = writer.value()->appendPixelBuffer(visible ? current : blank, i)) {
            std::fprintf(stderr, "%s\n", failure->message.c_str());
            return 1;
        }
    }
    if (auto failure = writer.value()->finish()) {
        std::fprintf(stderr, "%s\n", failure->message.c_str());
        return 1;
    }
    const double writeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("render: %s, %lld frames, %.1f MB, written in %.2f s\n", h264 ? "H.264" : "ProRes 4444",
                static_cast<long long>(frames), fs::file_size(render) / 1e6, writeSeconds);

    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        const auto cutStart = std::chrono::steady_clock::now();
        auto files = createResolveSegmentFiles(render, segments, 0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cutStart).count();
        if (!files.ok()) {
            std::fprintf(stderr, "%s\n", files.error().message.c_str());
            return 1;
        }
        std::uintmax_t bytes = 0;
        for (const auto& file : files.value()) bytes += fs::file_size(file.filePath);
        std::printf("cut %d: %zu segments, %.1f MB copied, %.3f s\n", run + 1, files.value().size(), bytes / 1e6, seconds);
        runs.push_back(seconds);
    }
    std::sort(runs.begin(), runs.end());
    std::printf("cut of %d segments: median %.3f s, best %.3f s (target < 1 s)\n", kBlocks, runs[runs.size() / 2],
                runs.front());
    fs::remove_all(folder);
    return 0;
}
