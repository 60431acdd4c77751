// The floating palette's content: up to six effects of the library with their
// preview frames, the selected effect, the track choice and a status line.
// Everything here is plain data and pure functions, so that the palette's
// rules run headless; the window draws this model through PaletteView.
#pragma once

#include "platform/json.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessivo {

inline constexpr const char* kPaletteEnabledKey = "TessivoFloatingFusionPaletteEnabled";
inline constexpr const char* kPaletteAutosaveName = "TessivoFloatingFusionPalette";
inline constexpr const char* kPaletteTitle = "Tessivo — Essentiels";
inline constexpr const char* kPaletteStateCallback = "window.onFusionFloatingPaletteState";
inline constexpr std::size_t kPaletteMaxEffects = 6;
// Preview frames cycle at this many frames per second.
inline constexpr int kPaletteFrameRate = 12;

struct PaletteColor {
    double red = 1, green = 1, blue = 1;
    bool operator==(const PaletteColor&) const = default;
};

// One tile.
struct PaletteEffect {
    std::string id;
    std::string name;
    // The encoded preview frames (PNG or JPEG bytes), in order; may be empty.
    std::vector<std::string> images;
    // Shown instead of a preview when there are no frames.
    std::string fallbackText;
    PaletteColor color;
};

struct PaletteModel {
    std::vector<PaletteEffect> effects;
    std::optional<std::string> selectedEffectID;
    std::string targetTrack = "auto";
    std::vector<std::pair<std::string, std::string>> trackChoices = {{"auto", "Automatique"}, {"new", "Nouvelle piste"}};
    std::string status = "Choisis un effet essentiel.";
};

// True when `category` folded for case and accents begins with "essentiel".
bool isEssentialCategory(const std::string& category);
// "#rrggbb" or "rrggbb" (hashes trimmed from both ends); anything else white.
PaletteColor paletteColor(const std::string& text);
// The preview frames of an effect: the bytes after the first comma of each
// data-URL, decoded from Base64; entries that are not a PNG or JPEG are left out.
std::vector<std::string> decodePreviewFrames(const Json* previewFrames);
// The tiles of a visible effect list: its essentials in order, then the
// others, at most six, effects without an id left out.
std::vector<PaletteEffect> paletteEffects(const Json& effectList);
// Sets the tiles; the selection stays when its effect is still there, else the first tile.
void applyPaletteEffects(PaletteModel& model, std::vector<PaletteEffect> effects);
// The track choices from a timeline snapshot's "videoTracks" (or "tracks"),
// sorted by index, between the automatic and the new-track entries.
std::vector<std::pair<std::string, std::string>> paletteTrackChoices(const Json& snapshot);
// The insertion request of an effect at the playhead, from its metadata.
Json paletteInsertionRequest(const std::string& id, const Json& metadata, const std::string& targetTrack,
                             bool nativeTemplateRegistered);
// The preview frame shown `seconds` after the reference time, among `count`.
std::size_t paletteFrameIndex(double seconds, std::size_t count);

}  // namespace tessivo
