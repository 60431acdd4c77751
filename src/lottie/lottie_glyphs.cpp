#include "lottie/lottie_glyphs.h"

#include "render/native_fonts.h"
#include "render/native_text_renderer.h"

#include <glib.h>
#include <hb.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tessivo {

namespace {

using HbBlobPtr = NativeHandle<hb_blob_t, hb_blob_destroy>;
using HbFacePtr = NativeHandle<hb_face_t, hb_face_destroy>;
using HbFontPtr = NativeHandle<hb_font_t, hb_font_destroy>;
using HbDrawFuncsPtr = NativeHandle<hb_draw_funcs_t, hb_draw_funcs_destroy>;
using FcCharSetPtr = NativeHandle<FcCharSet, FcCharSetDestroy>;

// Glyph coordinates are kept to 1/10000 em: far below a pixel at any caption
// size, and short in the document.
double rounded(double v) { return std::round(v * 100.0) / 100.0; }

// One font file opened with HarfBuzz at its own units per em.
struct OpenFace {
    HbFontPtr font;
    double perEm = 1;  // 1 / units per em

    bool open(const NativeFontFace& face) {
        HbBlobPtr blob = HbBlobPtr::adopt(hb_blob_create_from_file_or_fail(face.file.c_str()));
        if (!blob) return false;
        HbFacePtr hbFace = HbFacePtr::adopt(hb_face_create(blob.get(), static_cast<unsigned>(face.index)));
        const unsigned upem = hb_face_get_upem(hbFace.get());
        if (upem == 0 || hb_face_get_glyph_count(hbFace.get()) == 0) return false;
        font = HbFontPtr::adopt(hb_font_create(hbFace.get()));
        perEm = 1.0 / upem;
        return true;
    }
};

// Contours of one glyph as Lottie paths: vertices with in and out tangents
// relative to them, in 1/100 em with y down. Quadratic segments become cubic
// ones with the same curve.
struct OutlineBuilder {
    double scale = 1;  // font units → 1/100 em
    struct Contour {
        std::vector<std::array<double, 2>> v, in, out;
    };
    std::vector<Contour> contours;
    double x = 0, y = 0;  // the pen, in font units

    std::array<double, 2> at(double px, double py) const { return {px * scale, -py * scale}; }

    void moveTo(double px, double py) {
        contours.emplace_back();
        contours.back().v.push_back(at(px, py));
        contours.back().in.push_back({0, 0});
        contours.back().out.push_back({0, 0});
        x = px, y = py;
    }
    void cubicTo(double c1x, double c1y, double c2x, double c2y, double px, double py) {
        if (contours.empty()) moveTo(x, y);
        Contour& c = contours.back();
        auto from = at(x, y), c1 = at(c1x, c1y), c2 = at(c2x, c2y), to = at(px, py);
        c.out.back() = {c1[0] - from[0], c1[1] - from[1]};
        c.v.push_back(to);
        c.in.push_back({c2[0] - to[0], c2[1] - to[1]});
        c.out.push_back({0, 0});
        x = px, y = py;
    }
    void lineTo(double px, double py) { cubicTo(x, y, px, py, px, py); }
    void quadraticTo(double cx, double cy, double px, double py) {
        cubicTo(x + 2.0 / 3.0 * (cx - x), y + 2.0 / 3.0 * (cy - y), px + 2.0 / 3.0 * (cx - px),
                py + 2.0 / 3.0 * (cy - py), px, py);
    }

    SortedJson shapes() {
        SortedJson items = SortedJson::array();
        for (auto& c : contours) {
            // The closing segment ends on the first vertex: it becomes that
            // vertex's in tangent rather than a vertex of its own.
            if (c.v.size() > 1 && std::abs(c.v.back()[0] - c.v.front()[0]) < 1e-9 &&
                std::abs(c.v.back()[1] - c.v.front()[1]) < 1e-9) {
                c.in.front() = c.in.back();
                c.v.pop_back();
                c.in.pop_back();
                c.out.pop_back();
            }
            if (c.v.size() < 2) continue;
            auto list = [](const std::vector<std::array<double, 2>>& points) {
                SortedJson array = SortedJson::array();
                for (const auto& p : points) array.push_back({rounded(p[0]), rounded(p[1])});
                return array;
            };
            SortedJson path = {{"c", true}, {"v", list(c.v)}, {"i", list(c.in)}, {"o", list(c.out)}};
            items.push_back({{"ty", "sh"}, {"ks", {{"a", 0}, {"k", std::move(path)}}}});
        }
        // One group even for a blank glyph: players add their own items to it.
        return SortedJson::array({{{"ty", "gr"}, {"it", std::move(items)}}});
    }
};

std::string utf8Of(char32_t c) {
    char buffer[8];
    return std::string(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
}

std::string text(const SortedJson& value) { return serializeSortedJson(value).value_or("null"); }

// A glyph entry as compact text with sorted keys, except in its shape items,
// which start with their "ty": players that read a document as a stream
// decide what an item is from the first key they meet.
std::string entryText(const SortedJson& entry) {
    std::string shapes;
    for (const auto& group : entry["data"]["shapes"]) {
        std::string items;
        for (const auto& item : group["it"]) {
            if (!items.empty()) items += ',';
            items += R"({"ty":)" + text(item["ty"]) + R"(,"ks":)" + text(item["ks"]) + '}';
        }
        if (!shapes.empty()) shapes += ',';
        shapes += R"({"ty":"gr","it":[)" + items + "]}";
    }
    return R"({"ch":)" + text(entry["ch"]) + R"(,"data":{"shapes":[)" + shapes + R"(]},"fFamily":)" +
           text(entry["fFamily"]) + R"(,"size":100,"style":)" + text(entry["style"]) + R"(,"w":)" + text(entry["w"]) + '}';
}

const hb_draw_funcs_t* outlineFunctions() {
    static const HbDrawFuncsPtr funcs = [] {
        HbDrawFuncsPtr f = HbDrawFuncsPtr::adopt(hb_draw_funcs_create());
        hb_draw_funcs_set_move_to_func(
            f.get(), [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float x, float y, void*) {
                static_cast<OutlineBuilder*>(d)->moveTo(x, y);
            }, nullptr, nullptr);
        hb_draw_funcs_set_line_to_func(
            f.get(), [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float x, float y, void*) {
                static_cast<OutlineBuilder*>(d)->lineTo(x, y);
            }, nullptr, nullptr);
        hb_draw_funcs_set_quadratic_to_func(
            f.get(), [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float cx, float cy, float x, float y, void*) {
                static_cast<OutlineBuilder*>(d)->quadraticTo(cx, cy, x, y);
            }, nullptr, nullptr);
        hb_draw_funcs_set_cubic_to_func(
            f.get(),
            [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float c1x, float c1y, float c2x, float c2y, float x,
               float y, void*) { static_cast<OutlineBuilder*>(d)->cubicTo(c1x, c1y, c2x, c2y, x, y); },
            nullptr, nullptr);
        hb_draw_funcs_make_immutable(f.get());
        return f;
    }();
    return funcs.get();
}

// Faces, open files and glyphs, filled on first use and never changed after.
// std::map keeps references to its elements valid as it grows.
class GlyphCache {
public:
    static GlyphCache& shared() {
        static GlyphCache cache;
        return cache;
    }

    const LottieFace& face(const std::string& font) {
        std::lock_guard lock(mutex_);
        if (auto it = faces_.find(font); it != faces_.end()) return it->second.face;
        const NativeFontChoice choice = sharedNativeFontLibrary().resolve(font);
        Entry entry;
        entry.file = choice.face;
        entry.face.postscriptName = choice.face.postscriptName.empty() ? choice.face.family : choice.face.postscriptName;
        entry.face.family = choice.face.family;
        entry.face.style = "Regular";
        if (OpenFace* open = openFile(choice.face)) {
            hb_font_extents_t extents{};
            hb_font_get_h_extents(open->font.get(), &extents);
            entry.face.ascent = extents.ascender * open->perEm;
            entry.face.descent = -extents.descender * open->perEm;
            entry.face.lineGap = std::max(0, extents.line_gap) * open->perEm;
            entry.face.style = styleName(choice.face);
        }
        return faces_.emplace(font, std::move(entry)).first->second.face;
    }

    const LottieGlyph& glyph(const LottieFace& face, char32_t character) {
        std::lock_guard lock(mutex_);
        const auto key = std::make_pair(face.postscriptName, character);
        if (auto it = glyphs_.find(key); it != glyphs_.end()) return it->second;
        LottieGlyph glyph;
        const NativeFontFace* file = fileOf(face);
        hb_codepoint_t gid = 0;
        OpenFace* open = file && character != U'\r' ? openFile(*file) : nullptr;
        if (character != U'\r' && (!open || !hb_font_get_nominal_glyph(open->font.get(), character, &gid))) {
            open = fallbackFor(character);
            if (open && !hb_font_get_nominal_glyph(open->font.get(), character, &gid)) open = nullptr;
        }
        if (open) {
            glyph.advance = rounded(hb_font_get_glyph_h_advance(open->font.get(), gid) * open->perEm * 100);
            OutlineBuilder builder;
            builder.scale = open->perEm * 100;
            hb_font_get_glyph_shape(open->font.get(), gid, const_cast<hb_draw_funcs_t*>(outlineFunctions()), &builder);
            glyph.shapes = builder.shapes();
        } else {
            glyph.shapes = SortedJson::array({{{"ty", "gr"}, {"it", SortedJson::array()}}});
        }
        glyph.entry = {{"ch", utf8Of(character)}, {"size", 100}, {"style", face.style}, {"fFamily", face.family},
                       {"w", glyph.advance}, {"data", {{"shapes", glyph.shapes}}}};
        glyph.entryText = entryText(glyph.entry);
        return glyphs_.emplace(key, std::move(glyph)).first->second;
    }

private:
    struct Entry {
        NativeFontFace file;
        LottieFace face;
    };

    const NativeFontFace* fileOf(const LottieFace& face) const {
        for (const auto& [font, entry] : faces_)
            if (&entry.face == &face || entry.face.postscriptName == face.postscriptName) return &entry.file;
        return nullptr;
    }

    OpenFace* openFile(const NativeFontFace& face) {
        const auto key = std::make_pair(face.file, face.index);
        auto it = files_.find(key);
        if (it == files_.end()) {
            auto open = std::make_unique<OpenFace>();
            if (!open->open(face)) open.reset();
            it = files_.emplace(key, std::move(open)).first;
        }
        return it->second.get();
    }

    // The face fontconfig offers for a character, as Pango falls back to it.
    OpenFace* fallbackFor(char32_t character) {
        FcConfig* config = sharedNativeFontLibrary().config();
        FcPatternPtr pattern = FcPatternPtr::adopt(FcPatternCreate());
        FcCharSetPtr set = FcCharSetPtr::adopt(FcCharSetCreate());
        FcCharSetAddChar(set.get(), character);
        FcPatternAddCharSet(pattern.get(), FC_CHARSET, set.get());
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
        FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
        FcDefaultSubstitute(pattern.get());
        FcResult result = FcResultNoMatch;
        FcPatternPtr match = FcPatternPtr::adopt(FcFontMatch(config, pattern.get(), &result));
        if (!match) return nullptr;
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file) return nullptr;
        FcPatternGetInteger(match.get(), FC_INDEX, 0, &index);
        return openFile(NativeFontFace{reinterpret_cast<const char*>(file), index, {}, {}});
    }

    // The face's style as fontconfig names it ("Bold"), which players map to a weight.
    static std::string styleName(const NativeFontFace& face) {
        FcPatternPtr pattern = FcPatternPtr::adopt(
            FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(face.file.c_str()), face.index, nullptr, nullptr));
        FcChar8* style = nullptr;
        if (pattern && FcPatternGetString(pattern.get(), FC_STYLE, 0, &style) == FcResultMatch && style)
            return reinterpret_cast<const char*>(style);
        return "Regular";
    }

    std::mutex mutex_;
    std::map<std::string, Entry> faces_;
    std::map<std::pair<std::string, int>, std::unique_ptr<OpenFace>> files_;
    std::map<std::pair<std::string, char32_t>, LottieGlyph> glyphs_;
};

}  // namespace

const LottieFace& lottieFace(const std::string& font) { return GlyphCache::shared().face(font); }

const LottieGlyph& lottieGlyph(const LottieFace& face, char32_t character) {
    return GlyphCache::shared().glyph(face, character);
}

}  // namespace tessivo
