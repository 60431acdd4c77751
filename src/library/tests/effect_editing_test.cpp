// Rename rules, archive names in ".Trash" and the preview keys a capture keeps.
#include "library/effect_editing.h"
#include "platform/files.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

TEST(EditedEffectLabels, AcceptedAndRefused) {
    const Json stored = {{"name", "Ancien"}, {"category", "Titres"}};
    const std::string long121(121, 'n');
    const std::string category100(100, 'c');
    const std::string accented = std::string(119, 'a') + "éé";
    const struct {
        const char* label;
        Json request;
        Json stored;
        const char* name;  // nullptr: refused
        const char* category;
    } cases[] = {
        {"absent keys keep the stored labels", Json::object(), stored, "Ancien", "Titres"},
        {"nothing stored", Json::object(), Json::object(), "Effet Fusion", "Mes effets"},
        {"trimmed", {{"name", "  Neuf \n"}, {"category", "\tMouvement "}}, stored, "Neuf", "Mouvement"},
        {"empty category falls back", {{"category", "   "}}, stored, "Ancien", "Mes effets"},
        {"empty name refused", {{"name", ""}}, stored, nullptr, nullptr},
        {"blank name refused", {{"name", "   "}}, stored, nullptr, nullptr},
        {"10000 characters refused", {{"name", std::string(10000, 'x')}}, stored, nullptr, nullptr},
        {"control character in category", {{"category", "Mes\x01" "effets"}}, stored, nullptr, nullptr},
        {"line feed inside a name", {{"name", "deux\nlignes"}}, stored, nullptr, nullptr},
        {"stored name with a tab is refused too", Json::object(), {{"name", "a\tb"}}, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        auto labels = editedEffectLabels(c.request, c.stored);
        if (!c.name) {
            ASSERT_FALSE(labels) << c.label;
            EXPECT_EQ(labels.error().code, kLibraryBadEffectName) << c.label;
            continue;
        }
        ASSERT_TRUE(labels) << c.label << ": " << labels.error().message;
        EXPECT_EQ(labels.value().name, c.name) << c.label;
        EXPECT_EQ(labels.value().category, c.category) << c.label;
    }
    // Cut by characters, never inside one.
    EXPECT_EQ(editedEffectLabels(Json{{"name", long121}}, stored).value().name, std::string(120, 'n'));
    EXPECT_EQ(editedEffectLabels(Json{{"name", accented}}, stored).value().name, std::string(119, 'a') + "é");
    EXPECT_EQ(editedEffectLabels(Json{{"category", category100}}, stored).value().category, std::string(80, 'c'));
}

TEST(UniqueTrashFolder, NeverReusesAName) {
    const fs::path trash = fs::temp_directory_path() / ("tessivo-trash-" + makeUUID());
    fs::create_directories(trash);
    EXPECT_EQ(uniqueTrashFolder(trash, "captured-a", 1700000000), trash / "captured-a-1700000000");
    fs::create_directories(trash / "captured-a-1700000000");
    EXPECT_EQ(uniqueTrashFolder(trash, "captured-a", 1700000000), trash / "captured-a-1700000000-2");
    // An empty folder counts as taken: renaming onto it would silently replace it.
    fs::create_directories(trash / "captured-a-1700000000-2");
    writeFileAtomically(trash / "captured-a-1700000000-3", "file");
    EXPECT_EQ(uniqueTrashFolder(trash, "captured-a", 1700000000), trash / "captured-a-1700000000-4");
    fs::remove_all(trash);
}

TEST(ApplyPreviewResult, KeysCopiedRemovedAndFramesShrunk) {
    const fs::path folder = fs::temp_directory_path() / ("tessivo-preview-" + makeUUID());
    fs::create_directories(folder);
    const fs::path frame = folder / "frame_000.jpg";
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1920, 1080);
    gdk_pixbuf_fill(pixbuf, 0x336699ff);
    gdk_pixbuf_save(pixbuf, frame.c_str(), "jpeg", nullptr, nullptr);
    g_object_unref(pixbuf);

    Json metadata = {{"previewFps", 12}, {"previewWidth", 640}, {"previewFramePaths", {"old"}}};
    applyPreviewResult(metadata, Json{{"previewFps", 24},
                                      {"previewHeight", 1080},
                                      {"previewFramePaths", {frame.string(), (folder / "missing.jpg").string()}}});
    EXPECT_EQ(metadata["previewFps"], 24);
    EXPECT_EQ(metadata["previewHeight"], 1080);
    EXPECT_FALSE(metadata.contains("previewWidth"));
    EXPECT_EQ(metadata["previewFramePaths"], Json::array({frame.string()}));
    int width = 0, height = 0;
    gdk_pixbuf_get_file_info(frame.c_str(), &width, &height);
    EXPECT_EQ(width, 640);

    // Frames that are not all text leave the stored list alone.
    applyPreviewResult(metadata, Json{{"previewFramePaths", {1, 2}}});
    EXPECT_EQ(metadata["previewFramePaths"], Json::array({frame.string()}));
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tessivo
