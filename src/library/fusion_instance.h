// What an insertion hands the comfort module: the user's style made safe
// (bounded text, clamped numbers, colours in one form) and the job object.
#pragma once

#include "library/library_store.h"
#include "platform/error.h"
#include "platform/json.h"

#include <filesystem>
#include <string>

namespace tessivo {

// Exactly the keys text, font, size, color, color2, x, y, duration; every
// number finite and clamped, every text bounded, colours "#rrggbb" lowercase.
Json normalizedFusionInstance(const Json& request);

// "auto", "new" or "track:N" (N from 1, no leading zero); anything else is "auto".
std::string normalizedTargetTrack(const Json* value);

// The effect's template when it lies inside the effect's folder and exists;
// else the error of `missingCode` (5 for insertion, 15 for apply).
Result<std::filesystem::path> checkedFusionTemplate(const FusionLibraryStore& store, const std::string& id,
                                                   const Json& metadata, const std::filesystem::path& root,
                                                   std::int64_t missingCode);

struct InsertionRequest {
    Json payload;
    std::string requestId;
    bool isLive = false;
    bool originFloating = false;
};

// The insertion job for the comfort module's "native" command.
Json makeFusionInsertionJob(const InsertionRequest& request, const std::string& id, const Json& metadata,
                            const std::filesystem::path& templatePath, const std::string& nativeSeedPath);

// The apply job for the selected-title script.
Json makeFusionApplyJob(const Json& request, const std::string& id, const Json& metadata,
                        const std::filesystem::path& templatePath);

}  // namespace tessivo
