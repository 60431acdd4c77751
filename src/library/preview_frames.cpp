#include "library/preview_frames.h"

#include "platform/files.h"
#include "platform/glib_ptr.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

struct PixbufRelease {
    void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufRelease>;

struct BytesRelease {
    void operator()(gchar* bytes) const { g_free(bytes); }
};

Pixbuf thumbnail(const fs::path& file, int maxSide) {
    GError* error = nullptr;
    // A large image is decoded straight at the thumbnail's size (JPEG decodes
    // at a fraction of its size several times faster); turning it a quarter
    // afterwards keeps its largest side.
    int fileWidth = 0, fileHeight = 0;
    const bool large = gdk_pixbuf_get_file_info(file.c_str(), &fileWidth, &fileHeight) &&
                       std::max(fileWidth, fileHeight) > maxSide;
    Pixbuf loaded(large ? gdk_pixbuf_new_from_file_at_scale(file.c_str(), maxSide, maxSide, TRUE, &error)
                        : gdk_pixbuf_new_from_file(file.c_str(), &error));
    if (error) g_error_free(error);
    if (!loaded) return nullptr;
    // The orientation tag is applied first, so the largest side is measured as shown.
    Pixbuf oriented(gdk_pixbuf_apply_embedded_orientation(loaded.get()));
    if (!oriented) return nullptr;
    const int width = gdk_pixbuf_get_width(oriented.get());
    const int height = gdk_pixbuf_get_height(oriented.get());
    const int largest = std::max(width, height);
    if (largest <= 0) return nullptr;
    if (largest <= maxSide) return oriented;
    const double scale = static_cast<double>(maxSide) / largest;
    const int w = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(height * scale)));
    return Pixbuf(gdk_pixbuf_scale_simple(oriented.get(), w, h, GDK_INTERP_BILINEAR));
}

// JPEG has no alpha: a frame with transparency is flattened over black first.
Pixbuf opaque(Pixbuf image) {
    if (!image || !gdk_pixbuf_get_has_alpha(image.get())) return image;
    const int w = gdk_pixbuf_get_width(image.get());
    const int h = gdk_pixbuf_get_height(image.get());
    return Pixbuf(gdk_pixbuf_composite_color_simple(image.get(), w, h, GDK_INTERP_NEAREST, 255, 8, 0, 0));
}

}  // namespace

std::optional<std::string> jpegThumbnail(const fs::path& file, int maxSide, int quality) {
    Pixbuf image = opaque(thumbnail(file, maxSide));
    if (!image) return std::nullopt;
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    const std::string q = std::to_string(std::clamp(quality, 0, 100));
    const bool saved = gdk_pixbuf_save_to_buffer(image.get(), &buffer, &size, "jpeg", &error, "quality", q.c_str(), nullptr);
    std::unique_ptr<gchar, BytesRelease> owned(buffer);
    if (error) g_error_free(error);
    if (!saved || !buffer) return std::nullopt;
    return std::string(buffer, size);
}

std::vector<fs::path> optimizeFusionPreviewFrames(const std::vector<fs::path>& frames) {
    std::vector<fs::path> shrunk;
    for (const fs::path& frame : frames) {
        const fs::path temporary = frame.parent_path() / ("." + frame.stem().string() + "-optimized.jpg");
        removeFileQuietly(temporary);
        auto bytes = jpegThumbnail(frame, 640, 42);
        if (!bytes || !writeFileAtomically(temporary, *bytes)) {
            removeFileQuietly(temporary);
            continue;
        }
        std::error_code code;
        fs::remove(frame, code);
        if (!code) fs::rename(temporary, frame, code);
        if (code) {
            removeFileQuietly(temporary);
            if (!fs::exists(frame)) continue;
        }
        shrunk.push_back(frame);
    }
    return shrunk;
}

}  // namespace tessivo
