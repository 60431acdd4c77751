#include "presence/palette_model.h"

#include "bridge/coercion.h"
#include "platform/glib_ptr.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace tessivo {

namespace {

// Decomposes, drops the combining marks and folds the case, so that
// "Éssentiels" and "ESSENTIEL" compare as "essentiel".
std::string foldedForComparison(const std::string& text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return {};
    GUniquePtr<gchar> decomposed(g_utf8_normalize(text.data(), static_cast<gssize>(text.size()), G_NORMALIZE_NFD));
    if (!decomposed) return {};
    std::string bare;
    for (const gchar* p = decomposed.get(); *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (g_unichar_ismark(c)) continue;
        char buffer[6];
        bare.append(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
    }
    GUniquePtr<gchar> folded(g_utf8_casefold(bare.c_str(), -1));
    return folded ? folded.get() : std::string();
}

std::string categoryText(const Json& effect) {
    const Json* category = member(effect, "category");
    if (!category) return {};
    if (category->is_string()) return category->get<std::string>();
    if (category->is_number_integer()) return std::to_string(category->get<std::int64_t>());
    if (category->is_number()) return stringValue(category, "");
    return {};
}

bool looksLikeImage(const std::string& bytes) {
    static const std::string png("\x89PNG\r\n\x1a\n", 8);
    return bytes.rfind(png, 0) == 0 || (bytes.size() > 3 && bytes.compare(0, 3, "\xff\xd8\xff") == 0);
}

const Json& firstTextTarget(const Json& effect) {
    static const Json empty = Json::object();
    const Json* targets = member(effect, "textTargets");
    if (!targets || !targets->is_array()) return empty;
    for (const Json& target : *targets) {
        if (target.is_object()) return target;
    }
    return empty;
}

PaletteEffect tileOf(const Json& effect, const std::string& id) {
    PaletteEffect tile;
    tile.id = id;
    tile.images = decodePreviewFrames(member(effect, "previewFrames"));
    tile.name = stringValue(effect, "name", id);
    const Json& target = firstTextTarget(effect);
    tile.fallbackText = stringValue(target, "text", tile.name.empty() ? id : tile.name);
    tile.color = paletteColor(stringValue(target, "color", ""));
    return tile;
}

}  // namespace

bool isEssentialCategory(const std::string& category) {
    return foldedForComparison(category).rfind("essentiel", 0) == 0;
}

PaletteColor paletteColor(const std::string& text) {
    const auto first = text.find_first_not_of('#');
    const auto last = text.find_last_not_of('#');
    const std::string hex = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (hex.size() != 6 || !std::all_of(hex.begin(), hex.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return {};
    auto channel = [&](std::size_t at) { return std::stoi(hex.substr(at, 2), nullptr, 16) / 255.0; };
    return {channel(0), channel(2), channel(4)};
}

std::vector<std::string> decodePreviewFrames(const Json* previewFrames) {
    std::vector<std::string> frames;
    if (!previewFrames || !previewFrames->is_array()) return frames;
    for (const Json& entry : *previewFrames) {
        if (!entry.is_string()) continue;
        const auto& text = entry.get_ref<const std::string&>();
        const auto comma = text.find(',');
        if (comma == std::string::npos) continue;
        const std::string encoded = text.substr(comma + 1);
        // g_base64_decode accepts anything; only a clean Base64 text counts.
        if (encoded.empty() || encoded.size() % 4 != 0 ||
            !std::all_of(encoded.begin(), encoded.end(),
                         [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '/' || c == '='; }))
            continue;
        gsize length = 0;
        GUniquePtr<gchar> bytes(reinterpret_cast<gchar*>(g_base64_decode(encoded.c_str(), &length)));
        std::string decoded(reinterpret_cast<const char*>(bytes.get()), length);
        if (looksLikeImage(decoded)) frames.push_back(std::move(decoded));
    }
    return frames;
}

std::vector<PaletteEffect> paletteEffects(const Json& effectList) {
    std::vector<const Json*> candidates;
    std::set<std::string> essentials;
    if (effectList.is_array()) {
        for (const Json& effect : effectList) {
            if (!effect.is_object() || !isEssentialCategory(categoryText(effect))) continue;
            candidates.push_back(&effect);
            const std::string id = stringValue(effect, "id", "");
            if (!id.empty()) essentials.insert(id);
        }
        for (const Json& effect : effectList) {
            const Json* id = member(effect, "id");
            if (!id || !id->is_string() || essentials.count(id->get<std::string>())) continue;
            candidates.push_back(&effect);
        }
    }
    if (candidates.size() > kPaletteMaxEffects) candidates.resize(kPaletteMaxEffects);
    std::vector<PaletteEffect> tiles;
    for (const Json* effect : candidates) {
        const std::string id = stringValue(*effect, "id", "");
        if (!id.empty()) tiles.push_back(tileOf(*effect, id));
    }
    return tiles;
}

void applyPaletteEffects(PaletteModel& model, std::vector<PaletteEffect> effects) {
    model.effects = std::move(effects);
    const bool kept = model.selectedEffectID &&
                      std::any_of(model.effects.begin(), model.effects.end(),
                                  [&](const PaletteEffect& e) { return e.id == *model.selectedEffectID; });
    if (kept) return;
    model.selectedEffectID.reset();
    if (!model.effects.empty()) model.selectedEffectID = model.effects.front().id;
}

std::vector<std::pair<std::string, std::string>> paletteTrackChoices(const Json& snapshot) {
    const Json* tracks = member(snapshot, "videoTracks");
    if (!tracks) tracks = member(snapshot, "tracks");
    std::vector<const Json*> sorted;
    if (tracks && tracks->is_array()) {
        for (const Json& track : *tracks) sorted.push_back(&track);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Json* a, const Json* b) { return intValue(*a, "index", 0) < intValue(*b, "index", 0); });
    std::vector<std::pair<std::string, std::string>> choices = {{"auto", "Automatique — piste dédiée"}};
    for (const Json* track : sorted) {
        const std::string n = std::to_string(intValue(*track, "index", 1));
        std::string name = stringValue(*track, "name", "Vidéo");
        if (name.empty()) name = "Vidéo";
        choices.emplace_back("track:" + n, "V" + n + " — " + name);
    }
    choices.emplace_back("new", "Nouvelle piste au-dessus");
    return choices;
}

Json paletteInsertionRequest(const std::string& id, const Json& metadata, const std::string& targetTrack,
                             bool nativeTemplateRegistered) {
    const Json& target = firstTextTarget(metadata);
    double x = 0.5, y = 0.5;
    const Json* center = member(target, "center");
    if (center && center->is_array() && !center->empty()) {
        x = doubleValue(&(*center)[0], 0.5);
        if (center->size() > 1) y = doubleValue(&(*center)[1], 0.5);
    }
    Json instance = {
        {"text", stringValue(target, "text", stringValue(metadata, "name", "Texte"))},
        {"color", stringValue(target, "color", "#ffffff")},
        {"font", stringValue(target, "font", "Inter")},
        {"size", doubleValue(member(target, "size"), 0.1)},
        {"x", x},
        {"y", y},
        {"duration", doubleValue(member(metadata, "duration"), 2.5)},
    };
    return Json{{"id", id},
                {"targetTrack", targetTrack},
                {"timelineFps", 30},
                {"instance", std::move(instance)},
                {"originFloating", true},
                {"insertionMode", nativeTemplateRegistered ? "native" : "support"}};
}

std::size_t paletteFrameIndex(double seconds, std::size_t count) {
    if (count == 0) return 0;
    const double frame = std::floor(seconds * kPaletteFrameRate);
    const double wrapped = std::fmod(frame, static_cast<double>(count));
    return static_cast<std::size_t>(wrapped < 0 ? wrapped + static_cast<double>(count) : wrapped);
}

}  // namespace tessivo
