#include "fusion/fusion_delivery.h"

#include "bridge/coercion.h"
#include "delivery/export_support.h"
#include "fusion/fusion_setting.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstdio>

namespace tessivo {

Error fusionError(std::int64_t code) {
    switch (code) {
    case kFusionEmptyRangeError:
        return {kDomainDelivery, code, "La plage d'export Resolve est vide."};
    case kFusionNoSequencesError:
        return {kDomainDelivery, code, "Les blocs de sous-titres sont introuvables."};
    default:
        return {kDomainDelivery, kFusionNoBlockError, "Aucun bloc visible dans la plage exportée."};
    }
}

Result<std::filesystem::path> makeResolveFusionFolder(const std::filesystem::path& baseFolder) {
    return createFreshFolder(baseFolder, "Export_" + std::to_string(secondsSince1970()));
}

Result<std::filesystem::path> makeResolveFusionFolder() {
    std::filesystem::path movies = moviesDirectory();
    if (movies.empty())
        return createFreshFolder(temporaryDirectory(), "TessivoFusion-" + std::to_string(secondsSince1970()));
    return makeResolveFusionFolder(movies / "Tessivo" / "DaVinciFusion");
}

Result<std::vector<FusionClip>> makeResolveFusionClips(const Json& params, const FusionFolderMaker& makeFolder) {
    const double start = finiteDoubleValue(params, "start", 0);
    const double end = finiteDoubleValue(params, "end", start);
    const std::int64_t width = std::max<std::int64_t>(intValue(params, "width", 1920), 1);
    const std::int64_t height = std::max<std::int64_t>(intValue(params, "height", 1080), 1);
    const double fps = finiteDoubleValue(params, "fps", 60);
    if (!(start < end)) return fusionError(kFusionEmptyRangeError);

    const Json* sequences = member(params, "sequences");
    if (!sequences || !sequences->is_array() ||
        !std::all_of(sequences->begin(), sequences->end(), [](const Json& s) { return s.is_object(); }))
        return fusionError(kFusionNoSequencesError);

    auto folder = makeFolder ? makeFolder() : makeResolveFusionFolder();
    if (!folder) return folder.error();

    std::vector<const Json*> blocks;
    for (const Json& sequence : *sequences) blocks.push_back(&sequence);
    std::stable_sort(blocks.begin(), blocks.end(), [](const Json* a, const Json* b) {
        return finiteDoubleValue(*a, "startTime", 0) < finiteDoubleValue(*b, "startTime", 0);
    });

    std::vector<FusionClip> clips;
    for (const Json* block : blocks) {
        const double s = finiteDoubleValue(*block, "startTime", 0);
        const double d = finiteDoubleValue(*block, "duration", 0);
        const double clippedStart = std::max(s, start);
        const double clippedEnd = std::min(s + d, end);
        if (!(clippedStart < clippedEnd)) continue;
        const std::int64_t frames = std::max<std::int64_t>(nearestFrameCount(fps * (clippedEnd - clippedStart)), 1);

        char name[64];
        std::snprintf(name, sizeof name, "Tessivo_Fusion_%03zu.setting", clips.size() + 1);
        std::filesystem::path path = folder.value() / name;
        Error error;
        if (!writeFileAtomically(path, makeResolveFusionSettingDocument(*block, width, height, frames), &error))
            return Error{kDomainPlatform, error.code, "Impossible d'écrire « " + path.string() + " » : " + error.message};

        FusionClip clip;
        clip.filePath = std::move(path);
        clip.start = clippedStart;
        clip.end = clippedEnd;
        clip.duration = clippedEnd - clippedStart;
        clip.text = stringValue(*block, "text", "");
        clips.push_back(std::move(clip));
    }
    return clips;
}

Json fusionClipRecords(const std::vector<FusionClip>& clips) {
    Json records = Json::array();
    for (const auto& clip : clips) {
        Json record = Json::object();
        record["filePath"] = clip.filePath.string();
        record["start"] = clip.start;
        record["end"] = clip.end;
        record["duration"] = clip.duration;
        record["text"] = clip.text;
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace tessivo
