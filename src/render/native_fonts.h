// Font resolution of the native caption renderer. The editor names fonts by
// family ("Bebas Neue") or by macOS PostScript name ("HelveticaNeue-Bold");
// they are looked up with fontconfig among the faces Tessivo ships
// (resourcesDirectory()/fonts/ttf) and the system's, shipped faces first.
#pragma once

#include "render/native_handles.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

// One face in one font file.
struct NativeFontFace {
    std::string file;
    int index = 0;
    std::string family;          // the face's first family name
    std::string postscriptName;  // may be empty for odd fonts
    bool operator==(const NativeFontFace&) const = default;
};

// How a block's font name was resolved.
struct NativeFontChoice {
    NativeFontFace face;
    std::string candidate;  // the name that matched (a stand-in's name for stand-ins)
    bool lastResort = false;
};

// The candidate names for an editor font: the name itself, the row of the
// editor's font table for it, then the common fallbacks (no duplicates).
std::vector<std::string> nativeFontCandidates(const std::string& font);

// Faces of this system that stand in for macOS-only fonts of the table
// ("Impact", "HelveticaNeue-CondensedBlack", ...), by PostScript name.
const std::vector<std::string>& nativeFontStandIns(const std::string& macName);

// A private fontconfig configuration: the system's fonts plus the shipped
// ones. Immutable once built; lookups are serialised by an internal lock.
class NativeFontLibrary {
public:
    // fontDirectory: the shipped faces; a missing folder only means none.
    explicit NativeFontLibrary(const std::filesystem::path& fontDirectory);

    // The folder the renderer uses: resourcesDirectory()/fonts/ttf.
    static std::filesystem::path defaultFontDirectory();

    FcConfig* config() const { return config_.get(); }

    // Exact lookups, shipped faces first; nullopt when no face has that name.
    std::optional<NativeFontFace> findPostScriptName(std::string_view name) const;
    std::optional<NativeFontFace> findFamily(std::string_view family) const;

    // The face a block with this "font" draws in: the first candidate present by
    // PostScript name, else by family name, else the first candidate's system
    // stand-in, else a black-weight system sans.
    NativeFontChoice resolve(const std::string& font) const;

    // The last resort: the system's black-weight sans-serif.
    NativeFontFace lastResortFace() const;

private:
    std::optional<NativeFontFace> list(const char* object, std::string_view value) const;

    FcConfigPtr config_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, NativeFontChoice> resolved_;
};

}  // namespace tessivo
