#include "render/native_text_renderer.h"

#include "platform/glib_ptr.h"
#include "render/native_blur.h"

#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace tessivo {

// ---------------------------------------------------------------------------
// Geometry shared by measurement, layout and the tests.

double nativeFontSize(const NativeTextSequence& block, int renderWidth) { return block.size / 100.0 * renderWidth; }

double nativeLineStep(double fontSize) { return std::max(0.72 * fontSize, 0.82 * fontSize); }

std::vector<std::string> nativeLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = text[i];
        size_t newline = 0;  // byte length of a newline character at i
        if (c == '\n' || c == '\v' || c == '\f' || c == '\r') {
            newline = 1;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            newline = 2;  // U+0085 NEL
        } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            newline = 3;  // U+2028 LS, U+2029 PS
        }
        if (newline) {
            lines.emplace_back();
            i += newline;
        } else {
            lines.back() += text[i++];
        }
    }
    for (auto& line : lines) {
        if (line.empty()) line = " ";
    }
    return lines;
}

std::vector<NativeLineOrigin> nativeLineOrigins(const std::vector<NativeLineMetrics>& lines, double fontSize) {
    const double step = nativeLineStep(fontSize);
    const double n = static_cast<double>(std::max<size_t>(lines.size(), 1));
    const double halfHeight = step * n / 2;
    std::vector<NativeLineOrigin> origins;
    origins.reserve(lines.size());
    for (size_t k = 0; k < lines.size(); ++k) {
        const auto& m = lines[k];
        // Baseline height above the anchor, each line in the middle of its step.
        const double up = m.descent + halfHeight - step * static_cast<double>(k + 1) + (step - m.height) / 2;
        origins.push_back({-m.width / 2, -up});
    }
    return origins;
}

namespace {

double leadingOf(PangoContext* context, const PangoFontDescription* font) {
    PangoFontMetricsPtr metrics = PangoFontMetricsPtr::adopt(pango_context_get_metrics(context, font, nullptr));
    if (!metrics) return 0;
    const int ascent = pango_font_metrics_get_ascent(metrics.get());
    const int descent = pango_font_metrics_get_descent(metrics.get());
    const int height = pango_font_metrics_get_height(metrics.get());
    return std::max(0, height - ascent - descent) / double(PANGO_SCALE);
}

NativeLineMetrics metricsOf(PangoLayoutLine* line, double leading) {
    PangoRectangle logical{};
    pango_layout_line_get_extents(line, nullptr, &logical);
    NativeLineMetrics m;
    m.width = logical.width / double(PANGO_SCALE);
    m.ascent = -logical.y / double(PANGO_SCALE);
    m.descent = (logical.height + logical.y) / double(PANGO_SCALE);
    m.height = m.ascent + m.descent + leading;
    return m;
}

GObjectPtr<PangoLayout> makeLayout(PangoContext* context, const std::string& text, const PangoFontDescription* font) {
    auto layout = adoptGObject(pango_layout_new(context));
    pango_layout_set_font_description(layout.get(), font);
    pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
    return layout;
}

std::string lowercased(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

NativeLineMetrics measureNativeLine(PangoContext* context, const std::string& text, const PangoFontDescription* font) {
    if (!context || !font || !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return {};
    auto layout = makeLayout(context, text, font);
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout.get(), 0);
    if (!line) return {};
    return metricsOf(line, leadingOf(context, font));
}

const NativeFontLibrary& sharedNativeFontLibrary() {
    static const NativeFontLibrary library(NativeFontLibrary::defaultFontDirectory());
    return library;
}

// ---------------------------------------------------------------------------
// The Pango side of one renderer.

namespace {

// Pango describes fonts by family, weight and style, which cannot single out
// one face among look-alikes (two versions of Inter Bold, "Regular" next to
// "Book"). Each resolved face therefore gets a private family name; when Pango
// asks fontconfig for that family, the pattern is rewritten to name the face's
// file, which fontconfig ranks above every other property. The other fonts of
// the configuration remain as fallbacks for characters the face lacks.
constexpr const char* kFacePrefix = "TessivoFace";

struct FaceRegistry {
    std::vector<NativeFontFace> faces;
};

void pinFace(FcPattern* pattern, gpointer data) {
    const auto* registry = static_cast<const FaceRegistry*>(data);
    FcChar8* family = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) != FcResultMatch || !family) return;
    const std::string name(reinterpret_cast<const char*>(family));
    if (name.rfind(kFacePrefix, 0) != 0) return;
    size_t index = 0;
    try {
        index = std::stoul(name.substr(std::strlen(kFacePrefix)));
    } catch (const std::exception&) {
        return;
    }
    if (index >= registry->faces.size()) return;
    const NativeFontFace& face = registry->faces[index];
    FcPatternRemove(pattern, FC_FAMILY, 0);
    FcValue value;
    value.type = FcTypeString;
    value.u.s = reinterpret_cast<const FcChar8*>(face.family.c_str());
    FcPatternAdd(pattern, FC_FAMILY, value, FcFalse);
    FcPatternDel(pattern, FC_FILE);
    FcPatternDel(pattern, FC_INDEX);
    FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(face.file.c_str()));
    FcPatternAddInteger(pattern, FC_INDEX, face.index);
}

}  // namespace

// Whether a block can be placed at all. Sizes beyond a few frame widths draw
// nothing that fits in the frame and would only make glyph rasterisation crawl.
static bool hasDrawableGeometry(const NativeTextSequence& block, int width, int height) {
    const double fs = nativeFontSize(block, width);
    const double maxSize = 16.0 * std::max({width, height, 1});
    return std::isfinite(fs) && fs > 0 && fs <= maxSize && std::isfinite(block.x) && std::isfinite(block.y) &&
           std::isfinite(block.textScaleX);
}

struct NativeCaptionRenderer::Engine {
    // Filled in the constructor and never changed afterwards: Pango reads it
    // from its own threads.
    FaceRegistry* registry = nullptr;
    GObjectPtr<PangoFontMap> fontMap;
    GObjectPtr<PangoContext> context;
    std::vector<NativeFontChoice> choices;  // per block
    std::vector<size_t> faceOfBlock;        // per block, index into registry
};

struct NativeCaptionRenderer::BlockCache {
    struct Cluster {
        GObjectPtr<PangoLayout> layout;
        double width = 0;
        PangoRectangle ink{};
    };
    struct Line {
        GObjectPtr<PangoLayout> layout;
        PangoLayoutLine* line = nullptr;  // owned by layout
        NativeLineMetrics metrics;
        PangoRectangle ink{};  // pixels relative to the origin
        NativeLineOrigin origin;
        std::vector<Cluster> clusters;  // only for the shine sweep
    };
    bool drawable = false;
    double fontSize = 0;
    PangoFontDescriptionPtr font;
    std::vector<Line> lines;
    NativeColor fill, outline, shine, glow;
    std::string glowType;
};

namespace {

PangoRectangle inkOf(PangoLayoutLine* line) {
    PangoRectangle ink{};
    pango_layout_line_get_extents(line, &ink, nullptr);
    pango_extents_to_pixels(&ink, nullptr);
    return ink;
}

// Grapheme clusters of a line, as byte ranges.
std::vector<std::string> clustersOf(PangoLayout* layout, const std::string& text) {
    int count = 0;
    const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(layout, &count);
    std::vector<std::string> clusters;
    const char* begin = text.c_str();
    const char* start = begin;
    const char* p = begin;
    const char* end = begin + text.size();
    int offset = 0;
    while (p < end) {
        p = g_utf8_next_char(p);
        ++offset;
        if (p >= end || (offset < count && attrs[offset].is_cursor_position)) {
            clusters.emplace_back(start, p);
            start = p;
        }
    }
    return clusters;
}

}  // namespace

NativeCaptionRenderer::NativeCaptionRenderer(int width, int height, std::vector<NativeTextSequence> sequences)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), sequences_(std::move(sequences)),
      engine_(std::make_unique<Engine>()) {
    // Drawing order: lower tracks first, then earlier starts; ties keep the
    // editor's order.
    std::stable_sort(sequences_.begin(), sequences_.end(), [](const auto& a, const auto& b) {
        if (a.trackId != b.trackId) return a.trackId < b.trackId;
        return a.startTime < b.startTime;
    });
    caches_.resize(sequences_.size());

    const NativeFontLibrary& library = sharedNativeFontLibrary();
    auto registry = std::make_unique<FaceRegistry>();
    for (const auto& block : sequences_) {
        NativeFontChoice choice = library.resolve(block.font);
        auto it = std::find(registry->faces.begin(), registry->faces.end(), choice.face);
        engine_->faceOfBlock.push_back(static_cast<size_t>(it - registry->faces.begin()));
        if (it == registry->faces.end()) registry->faces.push_back(choice.face);
        engine_->choices.push_back(std::move(choice));
    }

    engine_->fontMap = adoptGObject(pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT));
    if (!engine_->fontMap) throw std::runtime_error("Pango: pas de table de polices FreeType");
    auto* fcMap = PANGO_FC_FONT_MAP(engine_->fontMap.get());
    pango_fc_font_map_set_config(fcMap, library.config());
    engine_->registry = registry.release();
    pango_fc_font_map_set_default_substitute(fcMap, pinFace, engine_->registry,
                                             [](gpointer data) { delete static_cast<FaceRegistry*>(data); });

    engine_->context = adoptGObject(pango_font_map_create_context(engine_->fontMap.get()));
    // Fixed rasterisation: unhinted outlines at fractional positions, grey
    // antialiasing, so a frame looks the same on every machine and every run.
    CairoFontOptionsPtr options = CairoFontOptionsPtr::adopt(cairo_font_options_create());
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_subpixel_order(options.get(), CAIRO_SUBPIXEL_ORDER_DEFAULT);
    pango_cairo_context_set_font_options(engine_->context.get(), options.get());
    pango_context_set_round_glyph_positions(engine_->context.get(), FALSE);
}

NativeCaptionRenderer::~NativeCaptionRenderer() {
    caches_.clear();
    engine_->context.reset();
    engine_->fontMap.reset();
}

const NativeFontChoice& NativeCaptionRenderer::fontChoice(size_t block) const { return engine_->choices.at(block); }

NativeCaptionRenderer::BlockCache& NativeCaptionRenderer::cache(size_t index) {
    if (caches_[index]) return *caches_[index];
    auto c = std::make_unique<BlockCache>();
    const NativeTextSequence& block = sequences_[index];
    c->fontSize = nativeFontSize(block, width_);
    c->drawable = hasDrawableGeometry(block, width_, height_);
    if (c->drawable) {
        PangoContext* context = engine_->context.get();
        c->font = PangoFontDescriptionPtr::adopt(pango_font_description_new());
        const std::string family = kFacePrefix + std::to_string(engine_->faceOfBlock[index]);
        pango_font_description_set_family(c->font.get(), family.c_str());
        pango_font_description_set_absolute_size(c->font.get(), c->fontSize * PANGO_SCALE);
        const double leading = leadingOf(context, c->font.get());

        std::vector<NativeLineMetrics> metrics;
        const bool shine = block.effect == "shine-sweep";
        for (std::string text : nativeLines(block.text)) {
            if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
                GUniquePtr<gchar> valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
                text = valid.get();
            }
            BlockCache::Line line;
            line.layout = makeLayout(context, text, c->font.get());
            line.line = pango_layout_get_line_readonly(line.layout.get(), 0);
            line.metrics = line.line ? metricsOf(line.line, leading) : NativeLineMetrics{};
            line.ink = line.line ? inkOf(line.line) : PangoRectangle{};
            if (shine) {
                for (const auto& cluster : clustersOf(line.layout.get(), text)) {
                    BlockCache::Cluster k;
                    k.layout = makeLayout(context, cluster, c->font.get());
                    PangoLayoutLine* kl = pango_layout_get_line_readonly(k.layout.get(), 0);
                    k.width = kl ? metricsOf(kl, leading).width : 0;
                    k.ink = kl ? inkOf(kl) : PangoRectangle{};
                    line.clusters.push_back(std::move(k));
                }
            }
            metrics.push_back(line.metrics);
            c->lines.push_back(std::move(line));
        }
        const auto origins = nativeLineOrigins(metrics, c->fontSize);
        for (size_t k = 0; k < c->lines.size(); ++k) c->lines[k].origin = origins[k];

        c->fill = cgColor(block.color, "#ffffff");
        c->outline = cgColor(block.outlineColor, "#000000");
        c->shine = cgColor(block.effectColor, "#ff7a00");
        c->glow = effectiveNativeGlowColor(block);
        c->glowType = lowercased(block.glowType);
    }
    caches_[index] = std::move(c);
    return *caches_[index];
}

std::vector<NativeLineMetrics> NativeCaptionRenderer::lineMetrics(size_t block) {
    std::vector<NativeLineMetrics> result;
    for (const auto& line : cache(block).lines) result.push_back(line.metrics);
    return result;
}

std::vector<std::string> NativeCaptionRenderer::fontFilesUsed(size_t block) {
    std::vector<std::string> files;
    auto& c = cache(block);
    if (c.lines.empty() || !c.lines[0].line) return files;
    for (GSList* run = c.lines[0].line->runs; run; run = run->next) {
        auto* item = static_cast<PangoGlyphItem*>(run->data)->item;
        if (!item || !item->analysis.font || !PANGO_IS_FC_FONT(item->analysis.font)) continue;
        FcPattern* pattern = pango_fc_font_get_pattern(PANGO_FC_FONT(item->analysis.font));
        FcChar8* file = nullptr;
        if (pattern && FcPatternGetString(pattern, FC_FILE, 0, &file) == FcResultMatch) {
            std::string name(reinterpret_cast<const char*>(file));
            if (std::find(files.begin(), files.end(), name) == files.end()) files.push_back(name);
        }
    }
    return files;
}

// ---------------------------------------------------------------------------
// Visibility and frame classification.

bool NativeCaptionRenderer::isVisible(size_t index, double time, NativePose* pose) const {
    const NativeTextSequence& block = sequences_[index];
    if (!(block.startTime <= time && time <= block.startTime + block.duration)) return false;
    const NativePose p = nativePose(block, time - block.startTime);
    if (pose) *pose = p;
    if (!(p.opacity > kNativeMinimumOpacity)) return false;
    return hasDrawableGeometry(block, width_, height_);
}

FrameState NativeCaptionRenderer::frameState(double time) const {
    FrameState state;
    bool dynamic = false;
    std::string key;
    for (size_t i = 0; i < sequences_.size(); ++i) {
        NativePose pose;
        if (!isVisible(i, time, &pose)) continue;
        key += (key.empty() ? "" : ",") + std::to_string(i);
        if (!pose.isNeutral() || nativeShine(sequences_[i], time - sequences_[i].startTime).active) dynamic = true;
    }
    if (key.empty()) return {FrameKind::Empty, {}};
    if (dynamic) return {FrameKind::Dynamic, {}};
    return {FrameKind::Static, "blocks:" + key};
}

// ---------------------------------------------------------------------------
// Drawing.

namespace {

void setSource(cairo_t* cr, const NativeColor& color, double alpha) {
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * alpha);
}

void showLine(cairo_t* cr, PangoLayoutLine* line, double x, double y, const NativeColor& color, double alpha) {
    setSource(cr, color, alpha);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout_line(cr, line);
    cairo_new_path(cr);
}

struct Shadow {
    double offsetX = 0;  // device pixels, y pointing down
    double offsetY = 0;
    double blur = 0;     // device pixels; the Gaussian's sigma is half of it
};

// Draws the blurred silhouette of `line` (as it would be drawn at (x, y) in the
// current user space) into the frame, shifted by the shadow offset, in `color`
// at `alpha`. Only the part that can reach the frame is rasterised and blurred.
void drawShadow(cairo_t* cr, int frameWidth, int frameHeight, PangoLayoutLine* line, const PangoRectangle& ink,
                double x, double y, const Shadow& shadow, const NativeColor& color, double alpha) {
    if (ink.width <= 0 || ink.height <= 0 || alpha <= 0) return;
    const double sigma = std::min(shadow.blur / 2, std::max(frameWidth, frameHeight) / 8.0);
    const auto radii = nativeBlurRadii(sigma);
    const int margin = radii[0] + radii[1] + radii[2] + 2;

    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (auto [cx, cy] : std::array<std::pair<double, double>, 4>{{{x + ink.x, y + ink.y},
                                                                     {x + ink.x + ink.width, y + ink.y},
                                                                     {x + ink.x, y + ink.y + ink.height},
                                                                     {x + ink.x + ink.width, y + ink.y + ink.height}}}) {
        cairo_user_to_device(cr, &cx, &cy);
        minX = std::min(minX, cx);
        maxX = std::max(maxX, cx);
        minY = std::min(minY, cy);
        maxY = std::max(maxY, cy);
    }
    // The mask in device pixels, limited to what lands within blur reach of the frame.
    const double left = std::max(std::floor(minX) - margin, -shadow.offsetX - margin);
    const double top = std::max(std::floor(minY) - margin, -shadow.offsetY - margin);
    const double right = std::min(std::ceil(maxX) + margin, frameWidth - shadow.offsetX + margin);
    const double bottom = std::min(std::ceil(maxY) + margin, frameHeight - shadow.offsetY + margin);
    if (!(right > left && bottom > top)) return;
    const int rx = static_cast<int>(left), ry = static_cast<int>(top);
    const int rw = static_cast<int>(right - left), rh = static_cast<int>(bottom - top);

    CairoSurfacePtr mask = CairoSurfacePtr::adopt(cairo_image_surface_create(CAIRO_FORMAT_A8, rw, rh));
    if (cairo_surface_status(mask.get()) != CAIRO_STATUS_SUCCESS) return;
    {
        CairoPtr mc = CairoPtr::adopt(cairo_create(mask.get()));
        cairo_matrix_t matrix;
        cairo_get_matrix(cr, &matrix);
        matrix.x0 -= rx;
        matrix.y0 -= ry;
        cairo_set_matrix(mc.get(), &matrix);
        cairo_move_to(mc.get(), x, y);
        pango_cairo_show_layout_line(mc.get(), line);
    }
    cairo_surface_flush(mask.get());
    nativeBlurA8(cairo_image_surface_get_data(mask.get()), rw, rh, cairo_image_surface_get_stride(mask.get()), sigma);
    cairo_surface_mark_dirty(mask.get());

    cairo_save(cr);
    cairo_identity_matrix(cr);
    setSource(cr, color, alpha);
    cairo_mask_surface(cr, mask.get(), rx + shadow.offsetX, ry + shadow.offsetY);
    cairo_restore(cr);
}

}  // namespace

void NativeCaptionRenderer::drawNativeSequence(size_t index, double time, cairo_t* cr) {
    const NativeTextSequence& block = sequences_.at(index);
    const double elapsed = time - block.startTime;
    const NativePose pose = nativePose(block, elapsed);
    if (!(pose.opacity > kNativeMinimumOpacity)) return;
    BlockCache& c = cache(index);
    if (!c.drawable) return;
    const double opacity = pose.opacity;
    const double fs = c.fontSize;
    const NativeShine shine = nativeShine(block, elapsed);

    cairo_save(cr);
    cairo_translate(cr, pose.xOffset + block.x / 100.0 * width_, block.y / 100.0 * height_ + pose.yOffset);
    // Positive rotation turns counter-clockwise on screen; Cairo's y axis points down.
    cairo_rotate(cr, -pose.rotation);
    cairo_scale(cr, pose.scale * block.textScaleX / 100.0, pose.scale);

    for (const auto& line : c.lines) {
        if (!line.line) continue;
        const double x0 = line.origin.x, y0 = line.origin.baseline;

        // Glow or shadow.
        if (c.glowType != "none") {
            const double g = block.glowIntensity;
            if (c.glowType == "hard" || c.glowType == "cartoon") {
                const double d = 0.035 * fs;
                for (auto [dx, dy] : std::array<std::pair<double, double>, 4>{{{d, d}, {-d, d}, {d, -d}, {-d, -d}}}) {
                    showLine(cr, line.line, x0 + dx, y0 - dy, c.glow, opacity);
                }
            } else {
                Shadow shadow;
                double shadowAlpha = 0.92, textAlpha = 0.48;
                if (c.glowType == "shadow") {
                    const double b = std::max(0.24 * g, 2.0);
                    shadow = {b, b, std::max(0.16 * g, 2.0)};
                    shadowAlpha = 0.85;
                    textAlpha = 0.42;
                } else if (c.glowType == "wide" || c.glowType == "neon") {
                    shadow.blur = std::max(0.62 * g, 8.0);
                } else {
                    shadow.blur = std::max(0.34 * g, 4.0);
                }
                // The shadow takes the alpha of what casts it.
                drawShadow(cr, width_, height_, line.line, line.ink, x0, y0, shadow, c.glow,
                           shadowAlpha * textAlpha * opacity);
                showLine(cr, line.line, x0, y0, c.glow, textAlpha * opacity);
            }
        }

        // Outline: filled, then stroked around the glyph outlines.
        if (block.hasOutline && block.outlineWidth > 0) {
            const double w = std::max(block.outlineWidth, 1.0);
            cairo_move_to(cr, x0, y0);
            pango_cairo_layout_line_path(cr, line.line);
            setSource(cr, c.fill, opacity);
            cairo_fill_preserve(cr);
            setSource(cr, c.outline, opacity);
            cairo_set_line_width(cr, w);
            cairo_stroke(cr);
        }

        // Fill, or the shine sweep over it character by character.
        if (!shine.active) {
            showLine(cr, line.line, x0, y0, c.fill, opacity);
            continue;
        }
        const double lineWidth = line.metrics.width;
        const double centre = (1.7 * shine.phase - 0.35) * lineWidth;
        const double band = std::max(0.12 * lineWidth, 18.0);
        double cursor = 0;
        for (const auto& cluster : line.clusters) {
            PangoLayoutLine* kl = pango_layout_get_line_readonly(cluster.layout.get(), 0);
            const double distance = std::abs(cursor + cluster.width / 2 - centre);
            if (kl) {
                if (distance < 0.35 * band) {
                    showLine(cr, kl, x0 + cursor, y0, NativeColor{}, opacity);
                } else if (distance >= band) {
                    showLine(cr, kl, x0 + cursor, y0, c.fill, opacity);
                } else {
                    drawShadow(cr, width_, height_, kl, cluster.ink, x0 + cursor, y0, Shadow{0, 0, 0.22 * band},
                               c.shine, 0.8 * opacity);
                    showLine(cr, kl, x0 + cursor, y0, c.shine, opacity);
                }
            }
            cursor += cluster.width;
        }
    }
    cairo_restore(cr);
}

void NativeCaptionRenderer::drawFrame(double time, unsigned char* data, int stride) {
    if (!data || width_ <= 0 || height_ <= 0 || stride < width_ * 4) return;
    for (int y = 0; y < height_; ++y) std::memset(data + static_cast<std::ptrdiff_t>(y) * stride, 0, size_t(width_) * 4);

    bool any = false;
    for (size_t i = 0; i < sequences_.size() && !any; ++i) any = isVisible(i, time, nullptr);
    if (!any) return;

    CairoSurfacePtr surface = CairoSurfacePtr::adopt(
        cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, width_, height_, stride));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    CairoPtr cr = CairoPtr::adopt(cairo_create(surface.get()));
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_GRAY);
    for (size_t i = 0; i < sequences_.size(); ++i) {
        if (isVisible(i, time, nullptr)) drawNativeSequence(i, time, cr.get());
    }
    cairo_surface_flush(surface.get());
}

}  // namespace tessivo
