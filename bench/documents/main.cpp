// Times the file side of the Lottie and Fusion routes: 1,000 caption blocks
// become 1,000 dotLottie archives (each carrying the glyphs of its text), then
// 1,000 .setting files, in a scratch folder that is removed afterwards. Prints
// the seconds each run took. The glyphs of a face are read once per process;
// the first run pays for that, as the first export of a session does.
#include "fusion/fusion_delivery.h"
#include "lottie/lottie_delivery.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

using namespace tessivo;

namespace {

constexpr int kBlocks = 1000;

Json makeRequest() {
    const char* entrances[] = {"fade", "pop", "slide-up", "smooth-rise", "scale-down", "rotate", "none"};
    const char* exits[] = {"fade", "pop-out", "sink", "smooth-sink", "rotate-out", "none"};
    const char* fonts[] = {"Bebas Neue", "Anton", "Inter", "Montserrat", "DM Serif Display"};
    Json sequences = Json::array();
    for (int i = 0; i < kBlocks; ++i) {
        Json block = Json::object();
        block["id"] = "block-" + std::to_string(i);
        block["text"] = "Sous-titre numéro " + std::to_string(i) + "\nseconde ligne";
        block["startTime"] = i * 2.0;
        block["duration"] = 1.8;
        block["font"] = fonts[i % 5];
        block["size"] = 6 + i % 5;
        block["x"] = 50;
        block["y"] = 80;
        block["color"] = i % 2 ? "#ffcc00" : "#fff";
        block["hasOutline"] = i % 3 == 0;
        block["outlineWidth"] = 3;
        block["animIn"] = entrances[i % 7];
        block["animOut"] = exits[i % 6];
        block["animSpeed"] = 0.35;
        sequences.push_back(std::move(block));
    }
    Json request = Json::object();
    request["start"] = 0.5;  // the first block starts mid-entrance
    request["end"] = kBlocks * 2.0;
    request["fps"] = 30;
    request["width"] = 1920;
    request["height"] = 1080;
    request["sequences"] = std::move(sequences);
    return request;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor time of this process (user and system), to tell the work of the
// program from the time spent waiting for the disk.
double processorSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

int main() {
    std::filesystem::path root = temporaryDirectory() / ("tessivo-bench-" + makeUUID());
    std::filesystem::create_directories(root / "lottie");
    std::filesystem::create_directories(root / "fusion");
    const Json request = makeRequest();
    int status = 0;

    double lottieCpu = processorSeconds();
    auto lottieStart = std::chrono::steady_clock::now();
    auto lottie = makeResolveLottieClips(request, [&] { return Result(root / "lottie"); });
    double lottieSeconds = seconds(lottieStart);
    lottieCpu = processorSeconds() - lottieCpu;
    if (!lottie || lottie.value().size() != kBlocks) {
        std::fprintf(stderr, "lottie: %s\n", lottie ? "wrong clip count" : lottie.error().message.c_str());
        status = 1;
    }

    double fusionCpu = processorSeconds();
    auto fusionStart = std::chrono::steady_clock::now();
    auto fusion = makeResolveFusionClips(request, [&] { return Result(root / "fusion"); });
    double fusionSeconds = seconds(fusionStart);
    fusionCpu = processorSeconds() - fusionCpu;
    if (!fusion || fusion.value().size() != kBlocks) {
        std::fprintf(stderr, "fusion: %s\n", fusion ? "wrong clip count" : fusion.error().message.c_str());
        status = 1;
    }

    std::printf("%d .lottie archives: %.3f s (processor %.3f s)\n", kBlocks, lottieSeconds, lottieCpu);
    std::printf("%d .setting files:   %.3f s (processor %.3f s)\n", kBlocks, fusionSeconds, fusionCpu);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return status;
}
