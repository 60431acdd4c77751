#include "delivery/document_command.h"

#include "delivery/export_support.h"
#include "delivery/sfx_files.h"
#include "platform/files.h"

#include <algorithm>
#include <ostream>

namespace tessivo {

int runDocumentCommand(const DocumentRoute& route, const std::string& paramsPath, const std::filesystem::path& outDir,
                       std::ostream& out, std::ostream& err) {
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

    // The files go straight into the chosen folder instead of a dated export folder.
    auto records = route.build(*params, [&]() -> Result<std::filesystem::path> {
        std::error_code code;
        std::filesystem::create_directories(outDir, code);
        if (code) return fileSystemError(outDir, code);
        return outDir;
    });
    if (!records) {
        err << records.error().message << "\n";
        return 1;
    }
    if (records.value().empty()) {
        err << route.noBlockError.message << "\n";
        return 1;
    }

    const Json* events = member(*params, "sfxEvents");
    std::vector<SFXFile> sfx;
    if (events && events->is_array() &&
        std::all_of(events->begin(), events->end(), [](const Json& e) { return e.is_object(); }))
        sfx = makeResolveSFXFiles(*events, outDir);

    Json result = Json::object();
    result[route.resultKey] = std::move(records).value();
    result["sfxFiles"] = sfxFileRecords(sfx);
    out << serializeJson(result).value_or("{}") << "\n";
    return 0;
}

}  // namespace tessivo
