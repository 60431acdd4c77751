// The Fusion title route into Resolve: the editor's "exportResolveHTML"
// request becomes one ".setting" composition per caption block, inserted by a
// Python script as Fusion composition clips, plus the sound effects on their
// own audio track.
#pragma once

#include "fusion/fusion_delivery.h"
#include "platform/json.h"

#include <string>
#include <vector>

namespace tessivo {

class EngineContext;

// The text of the embedded insert script (placement functions included).
const std::string& fusionInsertScript();

class FusionDelivery {
public:
    explicit FusionDelivery(EngineContext& engine) : engine_(engine) {}

    // Main thread. Ignored while a render runs; otherwise the files are
    // written on the export queue and the insert script runs. Ends with
    // exactly one "window.onResolveExportComplete".
    void startResolveHTMLExport(const Json& params);

    // Export queue. Writes the sound-effect files of `sfxEvents` and runs the
    // insert script (limit 35 s); its result, or {"success": false,
    // "message"} for a failed run, goes to "window.onResolveExportComplete".
    void runResolveFusionInsert(const std::vector<FusionClip>& clips, const Json& sfxEvents);

    static constexpr double kTimeLimitSeconds = 35;

private:
    EngineContext& engine_;
};

}  // namespace tessivo
