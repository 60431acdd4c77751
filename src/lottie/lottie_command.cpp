#include "lottie/lottie_command.h"

#include "delivery/document_command.h"
#include "lottie/lottie_delivery.h"

namespace tessivo {

int runLottieCommand(const std::string& paramsPath, const std::filesystem::path& outDir, std::ostream& out,
                     std::ostream& err) {
    DocumentRoute route{"lottieClips",
                        [](const Json& params, const ExportFolderMaker& makeFolder) -> Result<Json> {
                            auto clips = makeResolveLottieClips(params, makeFolder);
                            if (!clips) return clips.error();
                            return lottieClipRecords(clips.value());
                        },
                        lottieError(kLottieNoBlockError)};
    return runDocumentCommand(route, paramsPath, outDir, out, err);
}

}  // namespace tessivo
