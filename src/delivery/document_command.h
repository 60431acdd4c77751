// The shared body of the headless document commands (`tessivo-cli lottie` and
// `tessivo-cli fusion`): read a request file, build the clips of one route into
// a folder, add the request's sound effects, print the records as JSON.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>

namespace tessivo {

struct DocumentRoute {
    // The key of the clip records in the printed result ("lottieClips", ...).
    std::string resultKey;
    // Builds the route's files with folders from `makeFolder` and returns their
    // records (a JSON array), or the route's error.
    std::function<Result<Json>(const Json& params, const std::function<Result<std::filesystem::path>()>& makeFolder)>
        build;
    // The route's error for a request without any block to build.
    Error noBlockError;
};

// 0 when the files were written; 1 with the French message on `err` for a
// delivery error; 2 when the request file is unreadable or not a JSON object.
int runDocumentCommand(const DocumentRoute& route, const std::string& paramsPath, const std::filesystem::path& outDir,
                       std::ostream& out, std::ostream& err);

}  // namespace tessivo
