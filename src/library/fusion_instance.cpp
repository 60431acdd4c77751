#include "library/fusion_instance.h"

#include "bridge/coercion.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

// The first `count` characters of UTF-8 text (bytes when it is not UTF-8).
std::string firstCharacters(const std::string& text, std::size_t count) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return text.substr(0, count);
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t n = 0; n < count && at < end; ++n) at = g_utf8_next_char(at);
    return std::string(text.data(), static_cast<std::size_t>(std::min(at, end) - text.data()));
}

std::string trimmed(const std::string& text) {
    auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), space);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), space).base();
    return first < last ? std::string(first, last) : std::string();
}

bool isHexColor(const std::string& text) {
    return text.size() == 7 && text[0] == '#' &&
           std::all_of(text.begin() + 1, text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

double clamped(const Json& request, const char* key, double fallback, double low, double high) {
    return std::clamp(finiteDoubleValue(request, key, fallback), low, high);
}

void copyWhenPresent(Json& job, const Json& from, const char* key) {
    if (const Json* value = member(from, key)) job[key] = *value;
}

}  // namespace

Json normalizedFusionInstance(const Json& request) {
    std::string color = lowered(stringValue(request, "color", "#ffffff"));
    if (!isHexColor(color)) color = "#ffffff";
    std::string color2 = lowered(stringValue(request, "color2", color));
    if (!isHexColor(color2)) color2 = color;
    Json instance = Json::object();
    instance["text"] = firstCharacters(stringValue(request, "text", ""), 2000);
    instance["font"] = firstCharacters(trimmed(stringValue(request, "font", "Inter")), 200);
    instance["size"] = clamped(request, "size", 0.08, 0.005, 0.5);
    instance["color"] = color;
    instance["color2"] = color2;
    instance["x"] = clamped(request, "x", 0.5, 0, 1);
    instance["y"] = clamped(request, "y", 0.5, 0, 1);
    instance["duration"] = clamped(request, "duration", 2.5, 0.04, 600);
    return instance;
}

std::string normalizedTargetTrack(const Json* value) {
    const std::string track = stringValue(value, "auto");
    if (track == "auto" || track == "new") return track;
    const std::string prefix = "track:";
    if (track.size() > prefix.size() && track.compare(0, prefix.size(), prefix) == 0 && track[prefix.size()] != '0' &&
        track.size() - prefix.size() <= 9 &&
        std::all_of(track.begin() + prefix.size(), track.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return track;
    return "auto";
}

Result<fs::path> checkedFusionTemplate(const FusionLibraryStore& store, const std::string& id, const Json& metadata,
                                       const fs::path& root, std::int64_t missingCode) {
    const std::string listed = stringValue(metadata, "templatePath", "");
    const fs::path folder = standardizedPath(store.fusionEffectDirectory(id, root));
    const fs::path file = standardizedPath(listed);
    std::error_code code;
    if (listed.empty() || !isInsideFolder(file, folder) || !fs::is_regular_file(file, code))
        return fusionLibraryError(missingCode);
    return file;
}

namespace {

Json sourceDefaults(const Json& metadata) {
    const Json* targets = member(metadata, "textTargets");
    if (!targets || !targets->is_array() || targets->empty()) return Json::object();
    const std::string primary = stringValue(metadata, "primaryTextTarget", "");
    for (const Json& target : *targets) {
        if (target.is_object() && stringValue(target, "toolName", "") == primary) return target;
    }
    return (*targets)[0].is_object() ? (*targets)[0] : Json::object();
}

Json instanceOf(const Json& request) {
    const Json* instance = member(request, "instance");
    return normalizedFusionInstance(instance && instance->is_object() ? *instance : Json::object());
}

}  // namespace

Json makeFusionInsertionJob(const InsertionRequest& request, const std::string& id, const Json& metadata,
                            const fs::path& templatePath, const std::string& nativeSeedPath) {
    const Json& p = request.payload;
    Json job = Json::object();
    job["id"] = id;
    job["name"] = stringValue(metadata, "name", "Effet Fusion");
    job["templatePath"] = templatePath.string();
    job["instance"] = instanceOf(p);
    job["preserveLayout"] = request.originFloating || boolValue(p, "preserveLayout", false);
    job["primaryTextTarget"] = stringValue(metadata, "primaryTextTarget", "");
    const Json* compatibility = member(metadata, "compatibility");
    job["editableText"] = request.isLive || boolValue(compatibility ? member(*compatibility, "editableText") : nullptr, true);
    job["timelineId"] = stringValue(p, "timelineId", "");
    job["ownerId"] = stringValue(p, "ownerId", request.requestId);
    job["requestId"] = request.requestId;
    for (const char* key : {"editableFields", "liveSequence", "wordTransforms", "subtitleSource"}) copyWhenPresent(job, p, key);
    job["subtitleMode"] = boolValue(p, "subtitleMode", false);
    if (const Json* source = member(metadata, "durationFrames")) job["sourceDurationFrames"] = *source;
    job["sourceDefaults"] = sourceDefaults(metadata);
    auto whole = [&](const char* key) {
        const Json* value = member(p, key);
        if (value && value->is_number()) {
            const double number = value->get<double>();
            if (std::isfinite(number)) job[key] = static_cast<std::int64_t>(std::clamp(number, -1e15, 1e15));
        }
    };
    whole("durationFrames");
    job["nativeSeedPath"] = nativeSeedPath;
    whole("recordFrame");
    job["insertionMode"] = "native";
    job["targetTrack"] = normalizedTargetTrack(member(p, "targetTrack"));
    return job;
}

Json makeFusionApplyJob(const Json& request, const std::string& id, const Json& metadata, const fs::path& templatePath) {
    Json job = Json::object();
    job["id"] = id;
    job["name"] = stringValue(metadata, "name", "Effet Fusion");
    job["templatePath"] = templatePath.string();
    job["instance"] = instanceOf(request);
    return job;
}

}  // namespace tessivo
