// Shrinking preview frames and stills to small JPEG files with gdk-pixbuf.
#include "library/preview_frames.h"
#include "platform/files.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

void writeImage(const fs::path& file, int width, int height, const char* type) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, 0xff8800ff);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, file.c_str(), type, nullptr, nullptr));
    g_object_unref(pixbuf);
}

std::pair<int, int> sizeOf(const fs::path& file) {
    int w = 0, h = 0;
    gdk_pixbuf_get_file_info(file.c_str(), &w, &h);
    return {w, h};
}

TEST(PreviewFrames, ShrinksInPlaceAndDropsWhatIsNoImage) {
    const fs::path folder = fs::temp_directory_path() / ("tessivo-frames-" + makeUUID());
    fs::create_directories(folder);
    writeImage(folder / "big.png", 1920, 1080, "png");
    writeImage(folder / "small.png", 64, 32, "png");
    std::ofstream(folder / "broken.jpg") << "not an image";
    const auto shrunk = optimizeFusionPreviewFrames({folder / "big.png", folder / "broken.jpg", folder / "small.png",
                                                     folder / "missing.jpg"});
    EXPECT_EQ(shrunk, (std::vector<fs::path>{folder / "big.png", folder / "small.png"}));
    EXPECT_EQ(sizeOf(folder / "big.png"), std::make_pair(640, 360));
    EXPECT_EQ(sizeOf(folder / "small.png"), std::make_pair(64, 32));
    // The file keeps its name but now holds a JPEG.
    EXPECT_EQ(readFile(folder / "big.png")->substr(0, 2), "\xff\xd8");
    EXPECT_FALSE(fs::exists(folder / ".big-optimized.jpg"));
    EXPECT_FALSE(fs::exists(folder / ".broken-optimized.jpg"));
    fs::remove_all(folder);
}

TEST(PreviewFrames, StillThumbnailIsBoundedTo960) {
    const fs::path file = fs::temp_directory_path() / ("tessivo-still-" + makeUUID() + ".jpg");
    writeImage(file, 3840, 2160, "jpeg");
    auto bytes = jpegThumbnail(file, 960, 50);
    ASSERT_TRUE(bytes);
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    ASSERT_TRUE(gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes->data()), bytes->size(), nullptr));
    ASSERT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
    GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader);
    EXPECT_EQ(gdk_pixbuf_get_width(image), 960);
    EXPECT_EQ(gdk_pixbuf_get_height(image), 540);
    g_object_unref(loader);
    fs::remove(file);
    EXPECT_FALSE(jpegThumbnail(file, 960, 50));
}

}  // namespace
}  // namespace tessivo
