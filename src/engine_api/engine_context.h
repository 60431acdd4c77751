// What the engine offers the components it owns: its queues, the channel to
// the editor, the published render state, the platform views and the Resolve
// runner. Components keep a reference to it (the engine outlives them) and
// capture weakContext() in queued work, which does nothing once the engine is
// gone.
#pragma once

#include "engine_api/views.h"
#include "platform/json.h"
#include "platform/queue.h"

#include <memory>
#include <string>

namespace tessivo {

class PythonRunner;
class Settings;

// The state the window observes. Changed on the main thread only.
struct PublishedState {
    bool isRendering = false;
    double renderProgress = 0;
    int renderWidth = 1920;
    int renderHeight = 1080;
};

class EngineContext {
public:
    virtual ~EngineContext() = default;

    virtual Queue& mainQueue() = 0;
    virtual Queue& exportQueue() = 0;
    virtual Queue& resolveOperationQueue() = 0;
    virtual Queue& fusionTimelineWatchQueue() = 0;

    // Main thread. One web callback into the main page (dropped when the
    // payload has no JSON form or the page is gone).
    virtual void callWebFunction(const std::string& name, const Json& payload) = 0;
    // Any thread. callWebFunction later on the main queue, if the engine lives.
    virtual void fusionCallback(const std::string& name, Json payload) = 0;
    // Main thread. Evaluates a payload-less page signal such as
    // "window.onRenderComplete()" once, without retries.
    virtual void evaluatePageSignal(const std::string& script) = 0;

    // Main thread.
    virtual const PublishedState& published() const = 0;
    virtual void setRendering(bool rendering) = 0;
    virtual void setRenderProgress(double progress) = 0;
    virtual void setRenderSize(int width, int height) = 0;

    virtual SavePanel* savePanel() = 0;
    // The maker of offscreen render pages; empty when no display is available.
    virtual const RenderSurfaceFactory& renderSurfaceFactory() const = 0;
    // Main thread. One message of a page, handled as the main page's are.
    virtual void handleWebMessage(const Json& message) = 0;
    virtual PythonRunner& runner() = 0;
    virtual Settings& settings() = 0;

    virtual std::weak_ptr<EngineContext> weakContext() = 0;
};

}  // namespace tessivo
