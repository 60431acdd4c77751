// The main page of a headless render (the render command, the benchmarks): it
// only notes how the job ended.
#pragma once

#include "app/engine.h"
#include "engine_api/views.h"

#include <string>

namespace tessivo {

class RenderEndView final : public MainWebView {
public:
    void evaluateScript(const std::string& script) override {
        if (script == "window.onRenderComplete()") completed = true;
        else if (script == "window.onRenderCancelled()") cancelled = true;
    }
    bool ended() const { return completed || cancelled; }

    bool completed = false;
    bool cancelled = false;
};

// Main thread. Runs the main context until the job has ended and the engine
// has nothing left to do.
inline void waitForRenderEnd(ExportEngine& engine, const RenderEndView& view) {
    runMainContextUntil([&] { return view.ended() && engine.isIdle(); });
}

}  // namespace tessivo
