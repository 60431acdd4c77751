// The Lottie route into Resolve: the archives of an export request are written
// on the export queue, then the Lottie import script places them (and the
// request's sound effects) on new tracks of the current timeline.
#pragma once

#include "lottie/lottie_delivery.h"
#include "platform/error.h"
#include "platform/json.h"

#include <functional>
#include <string>
#include <vector>

namespace tessivo {

class EngineContext;

// The text of the embedded Lottie import script, placement functions first.
std::string lottieImportScript();

class LottieDelivery {
public:
    using Completion = std::function<void(Result<Json>)>;

    explicit LottieDelivery(EngineContext& engine) : engine_(engine) {}

    // Main thread. Ignored while a render runs (no work, no answer); otherwise
    // returns at once and answers once with "window.onResolveExportComplete".
    void startResolveLottieExport(const Json& params);

    // Any thread. Writes the sound-effect files of `sfxEvents` and runs the
    // import script on the Resolve operation queue; `completion` receives the
    // script's result or the run's error, on an unspecified thread.
    void insertResolveLottieClips(const std::vector<LottieClip>& clips, const Json& sfxEvents, Completion completion);

    static constexpr double kTimeLimitSeconds = 35;

private:
    EngineContext& engine_;
};

// {"success": false, "mode": "lottie", "message": MESSAGE}
Json lottieFailurePayload(const std::string& message);

}  // namespace tessivo
