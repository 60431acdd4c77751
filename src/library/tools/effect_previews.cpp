// Draws the preview frames of the included effects with the native caption
// renderer: 12 JPEG frames of 640 × 360 over the first 1.5 seconds of each
// effect, written as "<folder>/<effect id>/preview-NN.jpg".
//
//   tessivo-effect-previews RESOURCES/BundledFusionEffects
#include "bridge/caption_sequence.h"
#include "render/native_text_renderer.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

struct Preview {
    const char* id;
    tessivo::Json sequence;
};

struct PixbufRelease {
    void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BUNDLED_EFFECTS_FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const Preview previews[] = {
        {"included-shine",
         {{"text", "SHINE"}, {"font", "Bebas Neue"}, {"size", 14}, {"color", "#ffcc40"}, {"effect", "shine-sweep"},
          {"effectColor", "#ffffff"}, {"effectSpeed", 1}, {"startTime", 0}, {"duration", 3}}},
        {"included-morph-elastic",
         {{"text", "MORPH"}, {"font", "Inter"}, {"size", 12}, {"color", "#8b5cf6"}, {"animIn", "pop"},
          {"animSpeed", 0.6}, {"startTime", 0}, {"duration", 3}}},
    };
    constexpr int kWidth = 640, kHeight = 360, kFrames = 12;
    for (const Preview& preview : previews) {
        tessivo::NativeCaptionRenderer renderer(kWidth, kHeight, {tessivo::NativeTextSequence::decode(preview.sequence)});
        std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 4);
        for (int frame = 0; frame < kFrames; ++frame) {
            std::fill(pixels.begin(), pixels.end(), 0);
            renderer.drawFrame(1.5 * frame / (kFrames - 1), pixels.data(), kWidth * 4);
            std::unique_ptr<GdkPixbuf, PixbufRelease> image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, kWidth, kHeight));
            const int stride = gdk_pixbuf_get_rowstride(image.get());
            guchar* out = gdk_pixbuf_get_pixels(image.get());
            // Premultiplied B,G,R,A over a dark grey, as the library cards show it.
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const unsigned char* p = &pixels[(static_cast<std::size_t>(y) * kWidth + x) * 4];
                    const int back = 24 * (255 - p[3]) / 255;
                    out[y * stride + x * 3 + 0] = static_cast<guchar>(std::min(255, p[2] + back));
                    out[y * stride + x * 3 + 1] = static_cast<guchar>(std::min(255, p[1] + back));
                    out[y * stride + x * 3 + 2] = static_cast<guchar>(std::min(255, p[0] + back));
                }
            }
            char name[32];
            std::snprintf(name, sizeof name, "preview-%02d.jpg", frame + 1);
            const std::filesystem::path file = folder / preview.id / name;
            std::filesystem::create_directories(file.parent_path());
            if (!gdk_pixbuf_save(image.get(), file.c_str(), "jpeg", nullptr, "quality", "42", nullptr)) {
                std::fprintf(stderr, "cannot write %s\n", file.c_str());
                return 1;
            }
        }
    }
    return 0;
}
