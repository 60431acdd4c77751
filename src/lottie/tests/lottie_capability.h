// The rules of which caption styles a Lottie document expresses faithfully,
// as the tests read them from resources/data/lottie-capability.json (the file
// the editor page reads too).
#pragma once

#include "platform/files.h"
#include "platform/json.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tessivo {

struct LottieCapability {
    std::vector<std::string> animIn, animOut, effect, glowType, font, outlineFont;
};

inline std::filesystem::path lottieCapabilityFile() {
    return std::filesystem::path(TESSIVO_SOURCE_DIR) / "resources" / "data" / "lottie-capability.json";
}

// Empty lists when the file is missing or not an object of string lists.
inline LottieCapability readLottieCapability() {
    LottieCapability capability;
    auto text = readFile(lottieCapabilityFile());
    auto json = text ? parseJson(*text) : std::nullopt;
    if (!json || !json->is_object()) return capability;
    auto list = [&](const char* key, std::vector<std::string>& into) {
        const Json* values = member(*json, key);
        if (!values || !values->is_array()) return;
        for (const auto& v : *values)
            if (v.is_string()) into.push_back(v.get<std::string>());
    };
    list("animIn", capability.animIn);
    list("animOut", capability.animOut);
    list("effect", capability.effect);
    list("glowType", capability.glowType);
    list("font", capability.font);
    list("outlineFont", capability.outlineFont);
    return capability;
}

}  // namespace tessivo
