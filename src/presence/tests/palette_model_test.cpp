// The palette's rules on plain data: which effects become tiles, their
// colours and frames, the selection across refreshes, the track choices and
// the insertion request.
#include "presence/palette_model.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace tessivo {
namespace {

const std::string kPng("\x89PNG\r\n\x1a\nrest", 12);

std::string dataURL(const std::string& bytes) {
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string url = "data:image/png;base64," + std::string(encoded);
    g_free(encoded);
    return url;
}

Json effect(const std::string& id, const Json& category) {
    return Json{{"id", id}, {"name", "Nom " + id}, {"category", category}};
}

std::vector<std::string> ids(const std::vector<PaletteEffect>& tiles) {
    std::vector<std::string> out;
    for (const auto& t : tiles) out.push_back(t.id);
    return out;
}

TEST(PaletteModel, EssentialCategoriesFoldCaseAndAccents) {
    const struct { const char* category; bool essential; } cases[] = {
        {"Essentiels", true}, {"ESSENTIEL", true}, {"Éssentiel", true}, {"essentiels du titre", true},
        {"Non essentiel", false}, {"", false}, {"Essen", false}, {"\xff essentiel", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isEssentialCategory(c.category), c.essential) << c.category;
}

TEST(PaletteModel, TilesAreEssentialsFirstThenOthersAtMostSix) {
    Json eight = Json::array();
    for (int i = 0; i < 8; ++i) eight.push_back(effect("e" + std::to_string(i), "Essentiels"));
    Json mixed = Json::array({effect("o1", "Titres"), effect("e1", "Essentiel"), effect("o2", "Titres"),
                              effect("e2", "ÉSSENTIELS"), effect("o3", 4), effect("o4", "Bas"), effect("o5", "Bas")});
    Json withoutIDs = Json::array({Json{{"name", "sans id"}, {"category", "Bas"}}, Json{{"id", 7}, {"category", "Bas"}},
                                   effect("a", "Bas"), Json{{"id", ""}, {"category", "Bas"}}});
    const struct { const char* label; Json list; std::vector<std::string> expected; } cases[] = {
        {"eight essentials", eight, {"e0", "e1", "e2", "e3", "e4", "e5"}},
        {"two essentials, five others", mixed, {"e1", "e2", "o1", "o2", "o3", "o4"}},
        {"effects without a text id", withoutIDs, {"a"}},
        {"not a list", Json::object(), {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ids(paletteEffects(c.list)), c.expected) << c.label;
}

TEST(PaletteModel, FallbackTextAndColourComeFromTheFirstTextTarget) {
    const struct { const char* label; Json effect; std::string text; PaletteColor color; } cases[] = {
        {"hash", Json{{"id", "a"}, {"textTargets", {{{"text", "Salut"}, {"color", "#FF8000"}}}}}, "Salut", {1, 128 / 255.0, 0}},
        {"no hash", Json{{"id", "a"}, {"textTargets", {{{"text", "Salut"}, {"color", "FF8000"}}}}}, "Salut", {1, 128 / 255.0, 0}},
        {"short form", Json{{"id", "a"}, {"textTargets", {{{"color", "#F80"}}}}}, "a", {1, 1, 1}},
        {"not hex", Json{{"id", "a"}, {"name", "Nom"}, {"textTargets", {{{"color", "#GG0000"}}}}}, "Nom", {1, 1, 1}},
        {"first dictionary", Json{{"id", "a"}, {"textTargets", Json::array({3, {{"text", "Deux"}}})}}, "Deux", {1, 1, 1}},
    };
    for (const auto& c : cases) {
        auto tiles = paletteEffects(Json::array({c.effect}));
        ASSERT_EQ(tiles.size(), 1u) << c.label;
        EXPECT_EQ(tiles[0].fallbackText, c.text) << c.label;
        EXPECT_EQ(tiles[0].color, c.color) << c.label;
    }
}

TEST(PaletteModel, PreviewFramesThatAreNotImagesAreSkipped) {
    const Json frames = Json::array({dataURL(kPng), "sans virgule", "data:image/png;base64,@@@@", dataURL("pas une image"),
                                     42, dataURL("\xff\xd8\xff jpeg")});
    auto decoded = decodePreviewFrames(&frames);
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[0], kPng);
    EXPECT_EQ(decoded[1], "\xff\xd8\xff jpeg");
}

TEST(PaletteModel, SelectionSurvivesARefreshThatKeepsItsEffect) {
    PaletteModel model;
    applyPaletteEffects(model, paletteEffects(Json::array({effect("a", "x"), effect("b", "x")})));
    EXPECT_EQ(model.selectedEffectID, "a");
    model.selectedEffectID = "b";
    applyPaletteEffects(model, paletteEffects(Json::array({effect("c", "x"), effect("b", "x")})));
    EXPECT_EQ(model.selectedEffectID, "b");
    applyPaletteEffects(model, paletteEffects(Json::array({effect("c", "x")})));
    EXPECT_EQ(model.selectedEffectID, "c");
    applyPaletteEffects(model, {});
    EXPECT_FALSE(model.selectedEffectID);
}

TEST(PaletteModel, TrackChoicesSortedByIndexBetweenAutomaticAndNew) {
    const Json snapshot = {{"videoTracks", Json::array({{{"index", 3}, {"name", "Titres"}}, {{"index", 1}, {"name", ""}},
                                                        {{"index", 2}}})}};
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"auto", "Automatique — piste dédiée"}, {"track:1", "V1 — Vidéo"}, {"track:2", "V2 — Vidéo"},
        {"track:3", "V3 — Titres"}, {"new", "Nouvelle piste au-dessus"}};
    EXPECT_EQ(paletteTrackChoices(snapshot), expected);
    EXPECT_EQ(paletteTrackChoices(Json{{"videoTracks", "x"}}).size(), 2u);
}

TEST(PaletteModel, InsertionRequestFromTheMetadata) {
    const struct { const char* label; Json metadata; bool native; Json instance; } cases[] = {
        {"defaults", Json{{"name", "Pop"}}, false,
         Json{{"text", "Pop"}, {"color", "#ffffff"}, {"font", "Inter"}, {"size", 0.1}, {"x", 0.5}, {"y", 0.5}, {"duration", 2.5}}},
        {"target", Json{{"duration", 4}, {"textTargets", {{{"text", "T"}, {"color", "#112233"}, {"font", "Lato"}, {"size", 0.2},
                                                          {"center", {0.25}}}}}},
         true, Json{{"text", "T"}, {"color", "#112233"}, {"font", "Lato"}, {"size", 0.2}, {"x", 0.25}, {"y", 0.5}, {"duration", 4.0}}},
    };
    for (const auto& c : cases) {
        Json request = paletteInsertionRequest("pop", c.metadata, "track:2", c.native);
        EXPECT_EQ(request["instance"], c.instance) << c.label;
        EXPECT_EQ(request["insertionMode"], c.native ? "native" : "support") << c.label;
        EXPECT_EQ(request["originFloating"], true);
        EXPECT_EQ(request["targetTrack"], "track:2");
        EXPECT_EQ(request["timelineFps"], 30);
    }
}

TEST(PaletteModel, FramesCycleAtTwelvePerSecond) {
    const struct { double seconds; std::size_t count, index; } cases[] = {
        {0, 5, 0}, {1.0 / 12 + 1e-9, 5, 1}, {0.5, 5, 1}, {1, 12, 0}, {10, 0, 0}, {-1.0 / 12, 5, 4}};
    for (const auto& c : cases) EXPECT_EQ(paletteFrameIndex(c.seconds, c.count), c.index) << c.seconds;
}

}  // namespace
}  // namespace tessivo
