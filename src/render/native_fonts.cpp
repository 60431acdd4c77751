#include "render/native_fonts.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace tessivo {

namespace {

struct TableRow {
    const char* font;
    std::vector<std::string> candidates;
};

// Editor family → candidate names, tried in order.
const std::vector<TableRow>& fontTable() {
    static const std::vector<TableRow> table = {
        {"Bebas Neue", {"BebasNeue-Regular", "HelveticaNeue-CondensedBlack", "Impact"}},
        {"Anton", {"Anton-Regular", "Impact", "HelveticaNeue-CondensedBlack"}},
        {"Teko", {"Teko-Bold", "HelveticaNeue-CondensedBlack", "Impact"}},
        {"Archivo Black", {"ArchivoBlack-Regular", "Arial-Black", "HelveticaNeue-CondensedBlack"}},
        {"Bangers", {"Bangers-Regular", "Impact", "Arial-Black"}},
        {"DM Serif Display", {"DMSerifDisplay-Regular", "TimesNewRomanPS-BoldMT", "Georgia-Bold"}},
        {"Arial Black", {"Arial-Black", "HelveticaNeue-CondensedBlack"}},
        {"Inter", {"Inter-Bold", "HelveticaNeue-Bold"}},
        {"Montserrat", {"Montserrat-Bold", "HelveticaNeue-Bold"}},
        {"Space Mono", {"SpaceMono-Bold", "Menlo-Bold"}},
        {"Rubik Dirt", {"RubikDirt-Regular", "Impact"}},
        {"Rubik Spray Paint", {"RubikSprayPaint-Regular", "Impact"}},
    };
    return table;
}

const std::vector<std::string> kCommonFallbacks = {"HelveticaNeue-CondensedBlack", "Arial-Black",
                                                   "HelveticaNeue-Bold"};

// macOS faces that Linux machines lack, and the faces (shipped or common on
// Linux) closest to them in weight and proportion.
const std::map<std::string, std::vector<std::string>>& standInTable() {
    static const std::map<std::string, std::vector<std::string>> table = {
        {"HelveticaNeue-CondensedBlack", {"Anton-Regular"}},
        {"Impact", {"Anton-Regular"}},
        {"Arial-Black", {"ArchivoBlack-Regular"}},
        {"HelveticaNeue-Bold", {"Inter-Bold", "LiberationSans-Bold", "DejaVuSans-Bold"}},
        {"TimesNewRomanPS-BoldMT", {"LiberationSerif-Bold", "DejaVuSerif-Bold"}},
        {"Georgia-Bold", {"DejaVuSerif-Bold"}},
        {"Menlo-Bold", {"DejaVuSansMono-Bold"}},
    };
    return table;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string patternString(FcPattern* p, const char* object, int n = 0) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(p, object, n, &value) == FcResultMatch && value) {
        return reinterpret_cast<const char*>(value);
    }
    return {};
}

int patternInt(FcPattern* p, const char* object, int fallback) {
    int value = fallback;
    FcPatternGetInteger(p, object, 0, &value);
    return value;
}

bool hasStringValue(FcPattern* p, const char* object, std::string_view wanted) {
    for (int n = 0;; ++n) {
        FcChar8* value = nullptr;
        if (FcPatternGetString(p, object, n, &value) != FcResultMatch) return false;
        if (value && equalsIgnoringCase(reinterpret_cast<const char*>(value), wanted)) return true;
    }
}

NativeFontFace faceOf(FcPattern* p) {
    return {patternString(p, FC_FILE), patternInt(p, FC_INDEX, 0), patternString(p, FC_FAMILY),
            patternString(p, FC_POSTSCRIPT_NAME)};
}

// Among faces of one name, the most "regular" one: upright, normal width,
// weight nearest to Regular, a style called "Regular", then the file name so
// that the choice never depends on the order fontconfig lists them in.
auto regularityKey(FcPattern* p) {
    const int slant = patternInt(p, FC_SLANT, FC_SLANT_ROMAN);
    const int width = patternInt(p, FC_WIDTH, FC_WIDTH_NORMAL);
    const int weight = patternInt(p, FC_WEIGHT, FC_WEIGHT_REGULAR);
    const bool regularStyle = hasStringValue(p, FC_STYLE, "Regular");
    return std::make_tuple(slant != FC_SLANT_ROMAN, std::abs(width - FC_WIDTH_NORMAL),
                           std::abs(weight - FC_WEIGHT_REGULAR), !regularStyle, patternString(p, FC_FILE),
                           patternInt(p, FC_INDEX, 0));
}

}  // namespace

std::vector<std::string> nativeFontCandidates(const std::string& font) {
    std::vector<std::string> result;
    auto add = [&](const std::string& name) {
        if (std::find(result.begin(), result.end(), name) == result.end()) result.push_back(name);
    };
    add(font);
    for (const auto& row : fontTable()) {
        if (font == row.font) {
            for (const auto& c : row.candidates) add(c);
        }
    }
    for (const auto& c : kCommonFallbacks) add(c);
    return result;
}

const std::vector<std::string>& nativeFontStandIns(const std::string& macName) {
    static const std::vector<std::string> none;
    const auto& table = standInTable();
    auto it = table.find(macName);
    return it == table.end() ? none : it->second;
}

NativeFontLibrary::NativeFontLibrary(const std::filesystem::path& fontDirectory)
    : config_(FcConfigPtr::adopt(FcInitLoadConfigAndFonts())) {
    if (!config_) config_ = FcConfigPtr::adopt(FcConfigCreate());
    std::error_code ec;
    if (std::filesystem::is_directory(fontDirectory, ec)) {
        const auto dir = fontDirectory.string();
        if (!FcConfigAppFontAddDir(config_.get(), reinterpret_cast<const FcChar8*>(dir.c_str()))) {
            logLine("Polices: dossier illisible " + dir);
        }
    } else {
        logLine("Polices: dossier absent " + fontDirectory.string() + " (polices du système seules)");
    }
}

std::filesystem::path NativeFontLibrary::defaultFontDirectory() { return resourcesDirectory() / "fonts" / "ttf"; }

std::optional<NativeFontFace> NativeFontLibrary::list(const char* object, std::string_view value) const {
    if (value.empty()) return std::nullopt;
    const std::string text(value);
    FcPatternPtr pattern = FcPatternPtr::adopt(FcPatternCreate());
    FcPatternAddString(pattern.get(), object, reinterpret_cast<const FcChar8*>(text.c_str()));
    FcObjectSetPtr objects = FcObjectSetPtr::adopt(FcObjectSetBuild(
        FC_FILE, FC_INDEX, FC_FAMILY, FC_POSTSCRIPT_NAME, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr));
    // Shipped faces first, so that a system copy of another version of the same
    // font never changes what a caption looks like.
    for (FcSetName setName : {FcSetApplication, FcSetSystem}) {
        FcFontSet* set = FcConfigGetFonts(config_.get(), setName);
        if (!set) continue;
        FcFontSetPtr found = FcFontSetPtr::adopt(FcFontSetList(config_.get(), &set, 1, pattern.get(), objects.get()));
        if (!found) continue;
        FcPattern* best = nullptr;
        for (int i = 0; i < found->nfont; ++i) {
            FcPattern* p = found->fonts[i];
            if (!hasStringValue(p, object, value) || patternString(p, FC_FILE).empty()) continue;
            if (!best || regularityKey(p) < regularityKey(best)) best = p;
        }
        if (best) return faceOf(best);
    }
    return std::nullopt;
}

std::optional<NativeFontFace> NativeFontLibrary::findPostScriptName(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return list(FC_POSTSCRIPT_NAME, name);
}

std::optional<NativeFontFace> NativeFontLibrary::findFamily(std::string_view family) const {
    std::lock_guard lock(mutex_);
    return list(FC_FAMILY, family);
}

NativeFontFace NativeFontLibrary::lastResortFace() const {
    FcPatternPtr pattern = FcPatternPtr::adopt(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_BLACK);
    FcConfigSubstitute(config_.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FcPatternPtr match = FcPatternPtr::adopt(FcFontMatch(config_.get(), pattern.get(), &result));
    if (!match) return {};
    return faceOf(match.get());
}

NativeFontChoice NativeFontLibrary::resolve(const std::string& font) const {
    std::lock_guard lock(mutex_);
    if (auto it = resolved_.find(font); it != resolved_.end()) return it->second;

    const auto candidates = nativeFontCandidates(font);
    std::optional<NativeFontChoice> choice;
    // A candidate by its exact PostScript name first, so that "Inter" draws the
    // table's Inter-Bold rather than whichever Inter face the family lookup finds.
    for (const auto& c : candidates) {
        if (auto face = list(FC_POSTSCRIPT_NAME, c)) {
            choice = NativeFontChoice{*face, c, false};
            break;
        }
    }
    for (size_t i = 0; !choice && i < candidates.size(); ++i) {
        if (auto face = list(FC_FAMILY, candidates[i])) choice = NativeFontChoice{*face, candidates[i], false};
    }
    for (size_t i = 0; !choice && i < candidates.size(); ++i) {
        for (const auto& standIn : nativeFontStandIns(candidates[i])) {
            if (auto face = list(FC_POSTSCRIPT_NAME, standIn)) {
                choice = NativeFontChoice{*face, standIn, false};
                break;
            }
        }
    }
    if (!choice) {
        choice = NativeFontChoice{lastResortFace(), "sans-serif", true};
        logLine("Polices: aucune police pour \"" + font + "\", repli sur " + choice->face.family);
    }
    resolved_.emplace(font, *choice);
    return *choice;
}

}  // namespace tessivo
