#include "fusion/fusion_command.h"

#include "delivery/document_command.h"
#include "fusion/fusion_delivery.h"

namespace tessivo {

int runFusionCommand(const std::string& paramsPath, const std::filesystem::path& outDir, std::ostream& out,
                     std::ostream& err) {
    DocumentRoute route{"fusionClips",
                        [](const Json& params, const FusionFolderMaker& makeFolder) -> Result<Json> {
                            auto clips = makeResolveFusionClips(params, makeFolder);
                            if (!clips) return clips.error();
                            return fusionClipRecords(clips.value());
                        },
                        fusionError(kFusionNoBlockError)};
    return runDocumentCommand(route, paramsPath, outDir, out, err);
}

}  // namespace tessivo
