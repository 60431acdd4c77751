#include "fusion/fusion_command.h"

#include "delivery/export_support.h"
#include "delivery/sfx_files.h"
#include "fusion/fusion_delivery.h"
#include "platform/files.h"

#include <algorithm>

namespace tessivo {

namespace {

Result<std::filesystem::path> createOutputFolder(const std::filesystem::path& outDir) {
    std::error_code code;
    std::filesystem::create_directories(outDir, code);
    if (code) return fileSystemError(outDir, code);
    return outDir;
}

}  // namespace

int runFusionCommand(const std::string& paramsPath, const std::filesystem::path& outDir, std::ostream& out,
                     std::ostream& err) {
    auto text = readFile(paramsPath);
    if (!text) {
        err << "Impossible de lire la requête « " << paramsPath << " ».\n";
        return 2;
    }
    auto params = parseJson(*text);
    if (!params || !params->is_object()) {
        err << "La requête « " << paramsPath << " » n'est pas un objet JSON.\n";
        return 2;
    }

    auto clips = makeResolveFusionClips(*params, [&] { return createOutputFolder(outDir); });
    if (!clips) {
        err << clips.error().message << "\n";
        return 1;
    }
    if (clips.value().empty()) {
        err << fusionError(kFusionNoBlockError).message << "\n";
        return 1;
    }

    const Json* events = member(*params, "sfxEvents");
    std::vector<SFXFile> sfx;
    if (events && events->is_array() &&
        std::all_of(events->begin(), events->end(), [](const Json& e) { return e.is_object(); }))
        sfx = makeResolveSFXFiles(*events, outDir);

    Json result = Json::object();
    result["fusionClips"] = fusionClipRecords(clips.value());
    result["sfxFiles"] = sfxFileRecords(sfx);
    out << serializeJson(result).value_or("{}") << "\n";
    return 0;
}

}  // namespace tessivo
