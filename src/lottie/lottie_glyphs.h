// The glyphs a Lottie caption document carries, so that any player draws the
// caption in the face the native renderer draws it in, whether or not that
// face is installed where the document plays.
//
// A block's "font" is resolved exactly as the native renderer resolves it; the
// outlines come from that face's font file through FreeType, in units of 1/100
// em with y pointing down, the way Lottie glyph data is written. Faces and
// glyphs are read once per process and kept.
#pragma once

#include "platform/json.h"

#include <string>

namespace tessivo {

// The face a block's "font" draws in, as a Lottie font entry names it.
struct LottieFace {
    std::string postscriptName;  // the entry's fName and the text document's f
    std::string family;          // fFamily
    std::string style;           // fStyle: "Bold" for Inter-Bold, so players pick weight 700
    // Vertical metrics in em, as the native line layout uses them.
    double ascent = 0.8;
    double descent = 0.2;
    double lineGap = 0;
};

// One glyph: its advance in 1/100 em, its outlines as Lottie shape items, and
// its whole entry of a document's `chars` list, also as text written once
// (compact, keys sorted except that each shape item starts with its "ty"), so
// that documents are assembled without writing glyphs again.
struct LottieGlyph {
    double advance = 0;
    SortedJson shapes = SortedJson::array();
    SortedJson entry = SortedJson::object();
    std::string entryText;
};

// Any thread. The face of `font` (see NativeFontLibrary::resolve); the same
// object for the life of the process.
const LottieFace& lottieFace(const std::string& font);

// Any thread. The glyph of `character` (a Unicode scalar) in `face`; a
// character the face lacks comes from the face the system would fall back to,
// as the native renderer does; without any, an empty glyph. The line break
// "\r" is an empty glyph of no advance: some players look every character of
// the text up, line breaks included, and draw nothing when one is missing.
const LottieGlyph& lottieGlyph(const LottieFace& face, char32_t character);

}  // namespace tessivo
