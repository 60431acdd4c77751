// The effect library on disk: seeding, IDs, metadata, listing and inlined previews.
#include "library/library_store.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

class LibraryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = fs::temp_directory_path() / ("tessivo-library-" + makeUUID());
        data = base / "data";
        resources = base / "resources";
        fs::create_directories(data);
        for (const auto& id : includedFusionEffectIDs()) {
            const fs::path folder = resources / "BundledFusionEffects" / id;
            fs::create_directories(folder);
            write(folder / "metadata.json",
                  R"({"id":")" + id + R"(","name":"Inclus )" + id + R"(","source":"included","previewFramePaths":["frame-01.jpg","../x.jpg","/etc/passwd"]})");
            write(folder / "template.setting", "{ Tools = {} }");
            write(folder / "frame-01.jpg", "JPEGBYTES");
        }
    }
    void TearDown() override { fs::remove_all(base); }

    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    FusionLibraryStore store() const { return FusionLibraryStore(data, resources); }
    fs::path root() const { return data / "Tessivo" / "FusionEffects"; }
    void addEffect(const std::string& id, const Json& metadata) { write(root() / id / "metadata.json", metadata.dump()); }

    static std::vector<std::string> names(const Json& list) {
        std::vector<std::string> out;
        for (const Json& e : list) out.push_back(e.value("name", ""));
        return out;
    }

    fs::path base, data, resources;
};

TEST_F(LibraryStoreTest, FreshAccountGetsTrashAndTheThreeBuiltIns) {
    auto made = store().fusionLibraryRoot();
    ASSERT_TRUE(made) << made.error().message;
    EXPECT_TRUE(fs::is_directory(root() / ".Trash"));
    for (const char* id : {"builtin-pop-clean", "builtin-slide-kinetic", "builtin-typewriter"}) {
        auto metadata = store().readFusionMetadata(id, root());
        ASSERT_TRUE(metadata) << id;
        EXPECT_EQ(metadata.value()["schemaVersion"], 2);
        EXPECT_EQ(metadata.value()["createdAt"], "2026-08-27T00:00:00Z");
        EXPECT_EQ(metadata.value().size(), 14u);
        EXPECT_TRUE(fs::exists(root() / id / "template.setting"));
    }
    // Pretty-printed with sorted keys.
    const std::string text = *readFile(root() / "builtin-pop-clean" / "metadata.json");
    EXPECT_LT(text.find("\"category\""), text.find("\"id\""));
    EXPECT_NE(text.find("\n    \""), std::string::npos);
    auto pop = store().readFusionMetadata("builtin-pop-clean", root());
    EXPECT_DOUBLE_EQ(pop.value()["textTargets"][0]["size"].get<double>(), 0.13);
}

TEST_F(LibraryStoreTest, ReseedingKeepsTheUsersNameAndHiddenBuiltInsStayAway) {
    ASSERT_TRUE(store().fusionLibraryRoot());
    addEffect("builtin-pop-clean", {{"id", "builtin-pop-clean"}, {"schemaVersion", 1}, {"name", "Mon Pop"},
                                    {"category", "Perso"}, {"createdAt", "2020-01-01T00:00:00Z"}});
    fs::remove_all(root() / "builtin-typewriter");
    ASSERT_TRUE(FusionLibraryStore::writeHiddenBuiltInFusionEffectIDs({"builtin-typewriter"}, root(), nullptr));
    ASSERT_TRUE(store().fusionLibraryRoot());
    auto pop = store().readFusionMetadata("builtin-pop-clean", root()).value();
    EXPECT_EQ(pop["name"], "Mon Pop");
    EXPECT_EQ(pop["category"], "Perso");
    EXPECT_EQ(pop["createdAt"], "2020-01-01T00:00:00Z");
    EXPECT_EQ(pop["schemaVersion"], 2);
    EXPECT_FALSE(fs::exists(root() / "builtin-typewriter"));
    EXPECT_EQ(*readFile(root() / ".hidden-effects.json"), "[\n    \"builtin-typewriter\"\n]\n");
}

TEST_F(LibraryStoreTest, EffectIDs) {
    const struct {
        Json value;
        const char* expected;  // nullptr: refused
    } cases[] = {
        {"  captured-abc_1 \n", "captured-abc_1"},
        {"a/b", nullptr},
        {"a.b", nullptr},
        {"..", nullptr},
        {"caf\xc3\xa9", nullptr},
        {"a b", nullptr},
        {"", nullptr},
        {nullptr, nullptr},
        {42, "42"},
    };
    for (const auto& c : cases) {
        auto id = validatedFusionEffectID(c.value.is_null() ? nullptr : &c.value);
        if (c.expected) {
            ASSERT_TRUE(id) << c.value.dump();
            EXPECT_EQ(id.value(), c.expected);
        } else {
            ASSERT_FALSE(id) << c.value.dump();
            EXPECT_EQ(id.error().message, "Identifiant d'effet Fusion invalide.");
            EXPECT_EQ(id.error().code, 2);
        }
    }
}

TEST_F(LibraryStoreTest, DamagedMetadata) {
    ASSERT_TRUE(store().fusionLibraryRoot());
    const struct {
        const char* text;
        bool failsWithCode3;
    } cases[] = {{"[1,2]", true}, {"\"text\"", true}, {"{not json", false}};
    for (const auto& c : cases) {
        write(root() / "captured-bad" / "metadata.json", c.text);
        auto read = store().readFusionMetadata("captured-bad", root());
        ASSERT_FALSE(read) << c.text;
        EXPECT_EQ(read.error().code == 3, c.failsWithCode3) << c.text;
        // The listing skips it silently.
        auto list = store().fusionEffectList(false);
        ASSERT_TRUE(list);
        EXPECT_EQ(list.value().size(), 5u);
    }
}

TEST_F(LibraryStoreTest, MetadataOfWrongTypesIsListedWithoutPreviews) {
    ASSERT_TRUE(store().fusionLibraryRoot());
    addEffect("captured-odd", {{"id", 5}, {"name", Json::array({1})}, {"source", false}, {"templatePath", 3},
                               {"previewFramePaths", "frame.jpg"}, {"textTargets", 3}});
    addEffect("captured-odd2", {{"id", "captured-odd2"}, {"previewFramePaths", Json::array({1, nullptr, Json::object()})},
                                {"textTargets", Json::array({"not an object"})}});
    auto list = store().fusionEffectList(false);
    ASSERT_TRUE(list) << list.error().message;
    ASSERT_EQ(list.value().size(), 7u);
    for (const Json& effect : list.value()) {
        if (effect["id"] == 5 || effect["id"] == "captured-odd2") {
            EXPECT_EQ(effect["previewFrames"], Json::array());
            EXPECT_EQ(effect["hasResolvePreview"], false);
        }
    }
}

TEST_F(LibraryStoreTest, ListingOrderAndSharedSet) {
    ASSERT_TRUE(store().fusionLibraryRoot());
    addEffect("captured-b", {{"id", "captured-b"}, {"name", "beta"}, {"source", "captured"}});
    addEffect("captured-a", {{"id", "captured-a"}, {"name", "Alpha"}, {"source", "captured"}});
    addEffect("captured-z", {{"id", "captured-z"}, {"name", "Zed"}, {"source", "built-in"}});
    write(root() / "loose-file.json", "{}");
    auto list = store().fusionEffectList(true);
    ASSERT_TRUE(list) << list.error().message;
    EXPECT_EQ(names(list.value()),
              (std::vector<std::string>{"Pop Clean", "Slide Kinetic", "Typewriter Native", "Zed", "Alpha", "beta",
                                        "Inclus included-morph-elastic", "Inclus included-shine"}));

    write(root() / "shared-library.json", R"({"ids": []})");
    EXPECT_EQ(names(store().fusionEffectList(true).value()),
              (std::vector<std::string>{"Inclus included-morph-elastic", "Inclus included-shine"}));
    EXPECT_EQ(store().fusionEffectList(false).value().size(), 8u);
    write(root() / "shared-library.json", R"({"ids": [3]})");  // damaged: no shared set
    EXPECT_EQ(store().fusionEffectList(true).value().size(), 8u);
}

TEST_F(LibraryStoreTest, IncludedEffectsComeFromTheResourcesAndKeepTheirFramesInside) {
    auto list = store().fusionEffectList(true);
    ASSERT_TRUE(list);
    const Json& shine = list.value().back();
    EXPECT_EQ(shine["id"], "included-shine");
    EXPECT_EQ(shine["templatePath"], (resources / "BundledFusionEffects/included-shine/template.setting").string());
    ASSERT_EQ(shine["previewFramePaths"].size(), 1u);
    EXPECT_EQ(shine["previewFrames"], Json::array({"data:image/jpeg;base64,SlBFR0JZVEVT"}));
    EXPECT_EQ(shine["hasResolvePreview"], true);

    fs::remove_all(resources / "BundledFusionEffects");
    EXPECT_FALSE(store().fusionEffectList(true));
}

TEST_F(LibraryStoreTest, PreviewFramesAreInlinedOnlyFromInsideTheEffectFolder) {
    ASSERT_TRUE(store().fusionLibraryRoot());
    const fs::path folder = root() / "captured-frames";
    write(base / "outside.jpg", "SECRET");
    fs::create_directories(folder);
    fs::create_symlink(base / "outside.jpg", folder / "link.jpg");
    write(folder / "shot.PNG", "PNG");
    write(folder / "empty.jpg", "");
    Json paths = Json::array({(folder / "shot.PNG").string(), (folder / ".." / ".." / ".." / "outside.jpg").string(),
                              (folder / "link.jpg").string(), (folder / "empty.jpg").string(), (base / "outside.jpg").string()});
    for (int i = 0; i < 130; ++i) {
        write(folder / ("f" + std::to_string(i) + ".jpg"), "J");
        paths.push_back((folder / ("f" + std::to_string(i) + ".jpg")).string());
    }
    Json metadata = {{"id", "captured-frames"}, {"name", "F"}, {"previewFramePaths", paths}};
    Json hydrated = store().hydrateFusionEffectPreview(metadata, root());
    ASSERT_GE(hydrated["previewFrames"].size(), 1u);
    EXPECT_EQ(hydrated["previewFrames"][0], "data:image/png;base64,UE5H");
    // 120 entries are looked at: the PNG plus 115 of the JPEG frames; the
    // frames outside (by "..", by a link, by an absolute path) and the empty one are not read.
    EXPECT_EQ(hydrated["previewFrames"].size(), 116u);
    for (const Json& url : hydrated["previewFrames"]) EXPECT_EQ(url.get<std::string>().find("U0VDUkVU"), std::string::npos);
}

TEST_F(LibraryStoreTest, GradientTemplatesShowTheirFirstAndLastStops) {
    const std::string gradient =
        "Type1 = Input { Value = 2, },\n"
        "ShadingGradient1 = Input { Value = Gradient { Colors = {\n"
        "  [0] = { 1, 0.5, 0, 1 },\n  [0.5] = { 0.2, 0.2, 0.2, 1 },\n  [1] = { 0, 0, 1.0, 1 },\n } }, },\n";
    const struct {
        std::string text;
        bool gradient;
        const char* color;
        const char* color2;
    } cases[] = {
        {gradient, true, "#ff8000", "#0000ff"},
        {"Type1 = Input { Value = 1, },\nShadingGradient1 = Input {}", false, "#ffffff", nullptr},
        {"Type1 = Input { Value = 2, }", false, "#ffffff", nullptr},
    };
    ASSERT_TRUE(store().fusionLibraryRoot());
    for (const auto& c : cases) {
        write(root() / "captured-g" / "template.setting", c.text);
        Json metadata = {{"id", "captured-g"},
                         {"templatePath", (root() / "captured-g" / "template.setting").string()},
                         {"textTargets", Json::array({{{"toolName", "T"}, {"color", "#ffffff"}}})}};
        Json hydrated = store().hydrateFusionEffectPreview(metadata, root());
        const Json& target = hydrated["textTargets"][0];
        EXPECT_EQ(target.value("colorInput", "") == "gradient1", c.gradient) << c.text;
        EXPECT_EQ(target["color"], c.color);
        if (c.color2) {
            EXPECT_EQ(target["color2"], c.color2);
        }
    }
}

TEST_F(LibraryStoreTest, NoDataFolderAndReadOnlyLibrary) {
    auto none = FusionLibraryStore({}, resources).fusionEffectList(true);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().message, "Le dossier Application Support est introuvable.");

    // A folder where the template file goes: the write fails as on a full or
    // read-only disk, the failure is the listing's, and the earlier file stays whole.
    fs::create_directories(root() / "builtin-slide-kinetic" / "template.setting");
    auto blocked = store().fusionEffectList(true);
    ASSERT_FALSE(blocked);
    EXPECT_FALSE(blocked.error().message.empty());
    EXPECT_EQ(store().readFusionMetadata("builtin-pop-clean", root()).value()["schemaVersion"], 2);
    for (const auto& entry : fs::directory_iterator(root() / "builtin-slide-kinetic"))
        EXPECT_EQ(entry.path().filename(), "template.setting");
    fs::remove_all(root());

    if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    fs::create_directories(root());
    fs::permissions(root(), fs::perms::owner_read | fs::perms::owner_exec);
    auto failed = store().fusionEffectList(true);
    fs::permissions(root(), fs::perms::owner_all);
    ASSERT_FALSE(failed);
    EXPECT_FALSE(failed.error().message.empty());
    // Nothing half-written stayed behind.
    for (const auto& entry : fs::directory_iterator(root())) ADD_FAILURE() << entry.path();
}

}  // namespace
}  // namespace tessivo
