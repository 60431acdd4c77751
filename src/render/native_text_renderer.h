// The native caption renderer: draws caption blocks with Pango and Cairo into
// premultiplied ARGB32 frames, without the render page.
#pragma once

#include "bridge/caption_sequence.h"
#include "render/native_color.h"
#include "render/native_fonts.h"
#include "render/native_pose.h"

#include <memory>
#include <string>
#include <vector>

namespace tessivo {

enum class FrameKind { Empty, Static, Dynamic };

struct FrameState {
    FrameKind kind = FrameKind::Empty;
    std::string key;  // identifies what a Static frame draws
};

// Typographic metrics of one laid-out line, pixels.
struct NativeLineMetrics {
    double width = 0;
    double height = 0;  // ascent + descent + leading
    double ascent = 0;
    double descent = 0;
};

// Metrics of `text` laid out alone in `font` within `context`; all zero when
// the text cannot be laid out.
NativeLineMetrics measureNativeLine(PangoContext* context, const std::string& text,
                                    const PangoFontDescription* font);

// Font size of a block in pixels: "size" is a percentage of the frame width.
double nativeFontSize(const NativeTextSequence& block, int renderWidth);
// Distance between the baselines of consecutive lines.
double nativeLineStep(double fontSize);
// The lines of a caption text: every newline character (LF, VT, FF, CR, NEL,
// LS, PS) ends a line, so CR LF leaves an empty line; empty lines become " ".
std::vector<std::string> nativeLines(const std::string& text);
// Baseline origins of the lines relative to the block anchor, y pointing down:
// each line centred horizontally, the block centred vertically.
struct NativeLineOrigin {
    double x = 0;
    double baseline = 0;
};
std::vector<NativeLineOrigin> nativeLineOrigins(const std::vector<NativeLineMetrics>& lines, double fontSize);

// The process-wide font library over the shipped faces and the system's.
const NativeFontLibrary& sharedNativeFontLibrary();

class NativeCaptionRenderer {
public:
    NativeCaptionRenderer(int width, int height, std::vector<NativeTextSequence> sequences);
    ~NativeCaptionRenderer();
    NativeCaptionRenderer(const NativeCaptionRenderer&) = delete;
    NativeCaptionRenderer& operator=(const NativeCaptionRenderer&) = delete;

    // Any thread, one thread at a time per instance. Clears the premultiplied
    // ARGB32 buffer (width*height, `stride` bytes per row) to transparent, then
    // draws every block visible at project time `time` (seconds), lower tracks first.
    void drawFrame(double time, unsigned char* data, int stride);

    // What drawFrame would draw at `time`: Empty when no block is visible; Static
    // when every visible block is in its neutral pose with no running effect
    // (key = the visible blocks, equal for two frames that draw the same
    // pixels); else Dynamic.
    FrameState frameState(double time) const;

    // Draws one block (index into sequences()) as it stands at project time
    // `time` into `cr`, whose target is the frame; drawFrame calls it per block.
    void drawNativeSequence(size_t block, double time, cairo_t* cr);

    int width() const { return width_; }
    int height() const { return height_; }
    // The blocks in drawing order (track, then start).
    const std::vector<NativeTextSequence>& sequences() const { return sequences_; }
    // The face chosen for a block (index into sequences()).
    const NativeFontChoice& fontChoice(size_t block) const;
    // The metrics of a block's lines at the block's font size.
    std::vector<NativeLineMetrics> lineMetrics(size_t block);
    // The font files Pango actually drew a block's first line with.
    std::vector<std::string> fontFilesUsed(size_t block);

private:
    struct Engine;
    struct BlockCache;
    bool isVisible(size_t block, double time, NativePose* pose) const;
    BlockCache& cache(size_t block);

    int width_;
    int height_;
    std::vector<NativeTextSequence> sequences_;
    std::unique_ptr<Engine> engine_;
    std::vector<std::unique_ptr<BlockCache>> caches_;
};

}  // namespace tessivo
