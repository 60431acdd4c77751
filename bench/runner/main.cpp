// Median wall time of one runner round trip for a trivial script: temporary
// file, interpreter start, marker search, JSON parse, delivery.
//
//   build/bench/bench-runner [RUNS]
#include "resolve/python_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <vector>

int main(int argc, char** argv) {
    using namespace tessivo;
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    SerialQueue resolveQueue("tessivo.resolve.operations");
    SerialQueue exportQueue("kinetype.export.queue");
    PythonRunner runner(resolveQueue, exportQueue, RunnerSetup::fromConfiguration(Configuration::fromEnvironment()));
    const std::string script = "import json\nprint('__ORVEL_JSON__' + json.dumps({'success': True}))\n";

    std::vector<double> millis;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        std::promise<bool> done;
        auto start = std::chrono::steady_clock::now();
        runner.runResolvePython(script, {"{}"}, 20, [&](Result<Json> r) { done.set_value(r.ok()); });
        if (!done.get_future().get()) ++failures;
        millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(millis.begin(), millis.end());
    std::printf("runner round trip: median %.1f ms, min %.1f ms, max %.1f ms over %d runs (%d failed), interpreter %s\n",
                millis[millis.size() / 2], millis.front(), millis.back(), runs, failures,
                runner.installation().interpreter().c_str());
    return failures == 0 ? 0 : 1;
}
