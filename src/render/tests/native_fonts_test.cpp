#include "render/native_text_renderer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tessivo {
namespace {

NativeTextSequence blockWithFont(const std::string& font) {
    NativeTextSequence s;
    s.text = "Tessivo";
    s.font = font;
    return s;
}

// Every editor family draws in its own face when the shipped fonts are there.
TEST(NativeFonts, EditorFamiliesResolveToTheirOwnFace) {
    const struct {
        const char* font;
        const char* postscript;
    } cases[] = {
        {"Bebas Neue", "BebasNeue-Regular"},   {"Anton", "Anton-Regular"},
        {"Teko", "Teko-Bold"},                 {"Archivo Black", "ArchivoBlack-Regular"},
        {"Bangers", "Bangers-Regular"},        {"DM Serif Display", "DMSerifDisplay-Regular"},
        {"Inter", "Inter-Bold"},               {"Montserrat", "Montserrat-Bold"},
        {"Space Mono", "SpaceMono-Bold"},      {"Rubik Dirt", "RubikDirt-Regular"},
        {"Rubik Spray Paint", "RubikSprayPaint-Regular"},
    };
    const auto shipped = NativeFontLibrary::defaultFontDirectory();
    ASSERT_TRUE(std::filesystem::is_directory(shipped))
        << shipped << " is missing: run npm ci and collect.sh in resources/fonts";
    const auto& library = sharedNativeFontLibrary();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.font);
        const NativeFontChoice choice = library.resolve(c.font);
        EXPECT_EQ(choice.face.postscriptName, c.postscript);
        EXPECT_FALSE(choice.lastResort);
        // The shipped copy wins over any system copy of the same face.
        EXPECT_EQ(std::filesystem::path(choice.face.file).parent_path(), shipped);
    }
}

TEST(NativeFonts, CandidatesFollowTheTableThenTheCommonFallbacks) {
    EXPECT_EQ(nativeFontCandidates("Bebas Neue"),
              (std::vector<std::string>{"Bebas Neue", "BebasNeue-Regular", "HelveticaNeue-CondensedBlack", "Impact",
                                        "Arial-Black", "HelveticaNeue-Bold"}));
    // The table is matched exactly: a differently cased name has no row.
    EXPECT_EQ(nativeFontCandidates("bebas neue"),
              (std::vector<std::string>{"bebas neue", "HelveticaNeue-CondensedBlack", "Arial-Black",
                                        "HelveticaNeue-Bold"}));
    EXPECT_EQ(nativeFontCandidates("HelveticaNeue-CondensedBlack"),
              (std::vector<std::string>{"HelveticaNeue-CondensedBlack", "Arial-Black", "HelveticaNeue-Bold"}));
}

TEST(NativeFonts, UnknownAndMacOnlyNamesFallBack) {
    const auto& library = sharedNativeFontLibrary();
    const NativeFontChoice unknown = library.resolve("No Such Font 123");
    const NativeFontChoice byDefault = library.resolve("HelveticaNeue-CondensedBlack");
    // Unknown names take the common fallback, the same face as the default font.
    EXPECT_EQ(unknown.face, byDefault.face);
    EXPECT_EQ(byDefault.face.postscriptName, "Anton-Regular");
    EXPECT_EQ(library.resolve("Arial Black").face.postscriptName, "ArchivoBlack-Regular");
    // A PostScript name of a system face is taken as is.
    EXPECT_EQ(library.resolve("DejaVuSans-Bold").face.postscriptName, "DejaVuSans-Bold");
    // So is a family name.
    EXPECT_EQ(library.resolve("DejaVu Serif").face.family, "DejaVu Serif");
}

TEST(NativeFonts, WithoutShippedFontsSystemFacesStandIn) {
    NativeFontLibrary bare("/nonexistent-font-folder");
    EXPECT_FALSE(bare.findPostScriptName("RubikDirt-Regular").has_value());
    // A fresh machine without the shipped faces still draws a bold sans.
    const NativeFontChoice choice = bare.resolve("Rubik Dirt");
    EXPECT_FALSE(choice.face.file.empty());
    EXPECT_NE(choice.face.postscriptName, "RubikDirt-Regular");
    EXPECT_NE(choice.face.postscriptName.find("Bold"), std::string::npos) << choice.face.postscriptName;

    const NativeFontFace last = bare.lastResortFace();
    EXPECT_FALSE(last.file.empty());
    EXPECT_NE(last.family.find("Sans"), std::string::npos) << last.family;
}

// Pango must draw with exactly the resolved file, not another face of the same family.
TEST(NativeFonts, LayoutsUseTheResolvedFile) {
    NativeCaptionRenderer renderer(640, 360,
                                   {blockWithFont("Inter"), blockWithFont("Bebas Neue"), blockWithFont("Nope")});
    for (size_t i = 0; i < renderer.sequences().size(); ++i) {
        SCOPED_TRACE(renderer.sequences()[i].font);
        const auto files = renderer.fontFilesUsed(i);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0], renderer.fontChoice(i).face.file);
    }
}

}  // namespace
}  // namespace tessivo
