// Times parseJson, which refuses nesting deeper than kMaxJsonDepth, against
// the same parse without the limit, on a render request of 1,000 caption
// blocks. Prints the milliseconds per parse of each and their ratio.
//
//     build/bench/bench-json [RUNS]
#include "platform/json.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tessivo;

namespace {

std::string makeRequestText() {
    Json sequences = Json::array();
    for (int i = 0; i < 1000; ++i) {
        Json block = Json::object();
        block["text"] = "Sous-titre numéro " + std::to_string(i) + "\nseconde ligne";
        block["startTime"] = i * 2.0;
        block["duration"] = 1.8;
        block["font"] = "Bebas Neue";
        block["size"] = 6 + i % 5;
        block["color"] = i % 2 ? "#ffcc00" : "#fff";
        block["lottieCapability"] = Json{{"status", "supported"}, {"reasons", Json::array({"a", "b"})}};
        sequences.push_back(std::move(block));
    }
    Json request = Json{{"width", 1920}, {"height", 1080}, {"fps", 60}, {"sequences", sequences}};
    return *serializeJson(request);
}

template <typename F>
double millisecondsPerRun(int runs, F parse) {
    auto start = std::chrono::steady_clock::now();
    std::size_t sink = 0;
    for (int i = 0; i < runs; ++i) sink += parse().size();
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sink == 0) std::puts("");
    return seconds * 1000.0 / runs;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::string text = makeRequestText();
    double limited = millisecondsPerRun(runs, [&] { return *parseJson(text); });
    double plain = millisecondsPerRun(runs, [&] { return Json::parse(text); });
    std::printf("%zu bytes, %d runs: parseJson %.3f ms, without the limit %.3f ms, ratio %.2f\n", text.size(), runs,
                limited, plain, limited / plain);
    return 0;
}
