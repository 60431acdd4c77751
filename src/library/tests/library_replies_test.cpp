// The replies built from script results: still previews and template sources.
#include "library/native_template.h"
#include "library/still_preview.h"
#include "platform/files.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

fs::path writeStill(int width, int height) {
    const fs::path file = fs::temp_directory_path() / ("tessivo-still-" + makeUUID() + ".jpg");
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, 0x204060ff);
    gdk_pixbuf_save(pixbuf, file.c_str(), "jpeg", nullptr, nullptr);
    g_object_unref(pixbuf);
    return file;
}

TEST(StillPreviewReply, EveryOutcome) {
    const Error bridge{kDomainBridge, 3, "DaVinci n'a pas répondu."};
    const struct {
        const char* name;
        Json request;
        std::optional<Json> result;  // nullopt: the runner failed
        bool writeImage;
        Json expected;  // without "image"
        bool hasImage;
    } cases[] = {
        {"runner failure", {{"requestId", 7}}, std::nullopt, false,
         {{"success", false}, {"message", "DaVinci n'a pas répondu."}, {"requestId", 7}}, false},
        {"module failure as is", Json::object(), Json{{"success", false}, {"message", "non"}, {"requestId", "module"}},
         false, {{"success", false}, {"message", "non"}}, false},
        {"success that is no boolean", {{"requestId", "r"}}, Json{{"success", 1}}, true,
         {{"success", 1}, {"requestId", "r"}}, false},
        {"empty frame, no file read", {{"requestId", nullptr}}, Json{{"success", true}, {"emptyFrame", true}}, false,
         {{"success", true}, {"emptyFrame", true}, {"requestId", nullptr}}, false},
        {"no file", Json::object(), Json{{"success", true}, {"extra", 1}}, false,
         {{"success", false}, {"extra", 1}, {"message", "La frame Resolve n\u2019a pas pu être lue."}}, false},
        {"image", {{"requestId", "x"}}, Json{{"success", true}}, true, {{"success", true}, {"requestId", "x"}}, true},
    };
    for (const auto& c : cases) {
        const fs::path file = c.writeImage ? writeStill(3840, 2160) : fs::temp_directory_path() / ("none-" + makeUUID() + ".jpg");
        Result<Json> outcome = c.result ? Result<Json>(*c.result) : Result<Json>(bridge);
        Json reply = stillPreviewReply(c.request, std::move(outcome), file);
        EXPECT_FALSE(fs::exists(file)) << c.name;
        EXPECT_EQ(reply.contains("image"), c.hasImage) << c.name;
        if (c.hasImage) {
            const std::string url = reply["image"];
            ASSERT_EQ(url.rfind("data:image/jpeg;base64,", 0), 0u);
            gsize size = 0;
            guchar* bytes = g_base64_decode(url.substr(23).c_str(), &size);
            GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
            ASSERT_TRUE(gdk_pixbuf_loader_write(loader, bytes, size, nullptr));
            ASSERT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
            EXPECT_EQ(gdk_pixbuf_get_width(gdk_pixbuf_loader_get_pixbuf(loader)), 960);
            EXPECT_EQ(gdk_pixbuf_get_height(gdk_pixbuf_loader_get_pixbuf(loader)), 540);
            g_object_unref(loader);
            g_free(bytes);
            reply.erase("image");
        }
        EXPECT_EQ(reply, c.expected) << c.name << ": " << reply.dump();
    }
}

TEST(NativeTemplateSource, EveryValueBecomesText) {
    const Json source = {{"name", "Text+"}, {"nativeCompatible", true}, {"old", false}, {"count", 3},
                         {"ratio", 2.5}, {"list", Json::array({1})}, {"none", nullptr}};
    EXPECT_EQ(templateSourceStrings(source), (Json{{"name", "Text+"}, {"nativeCompatible", "1"}, {"old", "0"},
                                                   {"count", "3"}, {"ratio", "2.5"}, {"list", ""}, {"none", ""}}));
    EXPECT_EQ(templateSourceStrings(Json::array({1})), Json::object());
}

}  // namespace
}  // namespace tessivo
