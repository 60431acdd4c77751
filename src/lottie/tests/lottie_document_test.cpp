#include "lottie/lottie_document.h"

#include "lottie/lottie_glyphs.h"
#include "lottie/tests/lottie_capability.h"
#include "render/native_pose.h"
#include "render/native_text_renderer.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace tessivo {
namespace {

LottieStates states(std::initializer_list<LottieState> list) { return LottieStates(list); }

std::vector<double> frames(const LottieStates& list) {
    std::vector<double> result;
    for (const auto& s : list) result.push_back(s.frame);
    return result;
}

void expectValues(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-9) << "index " << i;
}

TEST(LottieValue, InterpolatesBetweenSortedStates) {
    const LottieStates unsorted = states({{10, {100, 0}}, {0, {0, 10}}, {20, {50}}});
    struct Case {
        double frame;
        LottieStates list;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {5, {}, {0}},
        {-3, unsorted, {0, 10}},
        {0, unsorted, {0, 10}},
        {2.5, unsorted, {25, 7.5}},
        {10, unsorted, {100, 0}},
        {15, unsorted, {75}},  // shorter list wins
        {25, unsorted, {50}},
        // Two states on the same frame: the jump happens at that frame.
        {4, states({{4, {1}}, {4, {9}}}), {1}},
        {4.00005, states({{4, {1}}, {4, {9}}}), {9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame);
        expectValues(lottieValue(c.frame, c.list), c.expected);
    }
}

TEST(DeduplicateLottieStates, LaterStateWinsWithinTolerance) {
    auto result = deduplicateLottieStates(states({{5, {1}}, {0, {0}}, {5.00005, {2}}, {5.5, {3}}, {0, {7}}}));
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[0], (LottieState{0, {7}}));
    EXPECT_EQ(result[1], (LottieState{5.00005, {2}}));
    EXPECT_EQ(result[2], (LottieState{5.5, {3}}));
}

TEST(CropLottieStates, MapsTheWindowToDocumentFrames) {
    const LottieStates ramp = states({{0, {0}}, {10, {100}}, {30, {100}}, {40, {0}}});
    struct Case {
        double start, duration;
        LottieStates expected;
    };
    const Case cases[] = {
        {0, 40, states({{0, {0}}, {10, {100}}, {30, {100}}, {40, {0}}})},
        {5, 10, states({{0, {50}}, {5, {100}}, {10, {100}}})},
        {12, 8, states({{0, {100}}, {8, {100}}})},
        {35, 20, states({{0, {50}}, {5, {0}}, {20, {0}}})},  // window past the end holds the last value
        {10, 20, states({{0, {100}}, {20, {100}}})},         // states on the window edges are not repeated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        auto cropped = cropLottieStates(ramp, c.start, c.duration);
        ASSERT_EQ(frames(cropped), frames(c.expected));
        for (std::size_t i = 0; i < cropped.size(); ++i) expectValues(cropped[i].values, c.expected[i].values);
    }
}

TEST(LottieProperty, StaticOrKeyframed) {
    SortedJson none = lottieProperty({});
    EXPECT_EQ(none, SortedJson::parse(R"({"a":0,"k":0.0})"));
    EXPECT_TRUE(none["a"].is_number_integer());

    EXPECT_EQ(lottieProperty(states({{3, {42}}})), SortedJson::parse(R"({"a":0,"k":42.0})"));
    EXPECT_EQ(lottieProperty(states({{3, {1, 2, 0}}, {3.00001, {4, 5, 0}}})),
              SortedJson::parse(R"({"a":0,"k":[4.0,5.0,0.0]})"));

    // Equal values still give two keyframes; only the last lacks e, i and o.
    SortedJson animated = lottieProperty(states({{8, {100}}, {0, {100}}}));
    EXPECT_EQ(animated, SortedJson::parse(R"({"a":1,"k":[
        {"t":0.0,"s":[100.0],"e":[100.0],"o":{"x":[0.3333333333333333],"y":[0.3333333333333333]},
         "i":{"x":[0.6666666666666666],"y":[0.6666666666666666]}},
        {"t":8.0,"s":[100.0]}]})"));
    EXPECT_TRUE(animated["k"][0]["t"].is_number_float());
    EXPECT_TRUE(animated["k"][1]["t"].is_number_float());

    // The curve of each segment travels with its first keyframe.
    SortedJson eased = lottieProperty({{0, {0}, kLottieEaseOut}, {5, {1}, kLottieEaseIn}, {9, {0}}});
    EXPECT_EQ(eased["k"][0]["o"]["y"][0], 1.0);
    EXPECT_EQ(eased["k"][0]["i"]["y"][0], 1.0);
    EXPECT_EQ(eased["k"][1]["o"]["y"][0], 0.0);
    EXPECT_EQ(eased["k"][1]["i"]["y"][0], 0.0);
}

TEST(LottieEase, CurvesAreTheNativeCubics) {
    for (double p = 0; p <= 1.0001; p += 0.05) {
        SCOPED_TRACE(p);
        EXPECT_NEAR(lottieEased(kLottieEaseOut, p), 1 - std::pow(1 - p, 3), 1e-12);
        EXPECT_NEAR(lottieEased(kLottieEaseIn, p), p * p * p, 1e-12);
        EXPECT_NEAR(lottieEased(kLottieLinear, p), p, 1e-12);
    }
}

TEST(CropLottieStates, ACutSegmentKeepsItsMotion) {
    const LottieStates ramp = states({{0, {0}, kLottieEaseOut}, {15, {100}}, {45, {100}, kLottieEaseIn}, {60, {0}}});
    for (double start : {0.0, 4.0, 13.5, 50.0}) {
        for (double length : {6.0, 30.0, 60.0}) {
            SCOPED_TRACE(std::to_string(start) + " + " + std::to_string(length));
            const LottieStates cropped = cropLottieStates(ramp, start, length);
            for (double t = 0; t <= length; t += 0.25)
                EXPECT_NEAR(lottieValue(t, cropped)[0], lottieValue(start + t, ramp)[0], 1e-9) << "at " << t;
        }
    }
}

// Frame counts of a block and the lengths of its entrance and exit, in frames.
TEST(LottieAnimation, EntranceAndExitLastWhatTheyLastNatively) {
    struct Case {
        const char* name;
        std::int64_t D;
        double fps;
        double animSpeed;
        double A, O;
    };
    const Case cases[] = {
        {"100 frames, 0.5 s at 30 fps", 100, 30, 0.5, 15, 85},
        {"0.35 s at 30 fps is a fraction of a frame", 60, 30, 0.35, 10.5, 49.5},
        {"long speed capped at 45%", 20, 30, 10, 9, 11},
        {"huge speed", 40, 30, 1e300, 18, 22},
        {"at least 0.01 s", 50, 30, 0.001, 0.3, 49.7},
        {"negative speed", 50, 30, -2, 0.3, 49.7},
        {"3 frames", 3, 30, 0.5, 1.35, 1.65},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json sequence = {{"animIn", "fade"}, {"animOut", "fade"}, {"animSpeed", c.animSpeed}};
        auto animation = makeLottieAnimation(sequence, 1920, 1080, c.fps, c.D);
        ASSERT_EQ(animation.opacity.size(), 4u);
        EXPECT_NEAR(animation.opacity[1].frame, c.A, 1e-9);
        EXPECT_NEAR(animation.opacity[2].frame, c.O, 1e-9);
        EXPECT_EQ(animation.opacity[3].frame, static_cast<double>(c.D));
    }
}

// Every entrance and exit, the capable ones first: at every half frame the
// document's transform is the native pose of the block at that time.
TEST(LottieAnimation, FollowsTheNativePoseAtEveryFrame) {
    const LottieCapability capability = readLottieCapability();
    ASSERT_FALSE(capability.animIn.empty()) << lottieCapabilityFile();
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& in : capability.animIn) pairs.emplace_back(in, "none");
    for (const auto& out : capability.animOut) pairs.emplace_back("none", out);
    pairs.emplace_back("slam", "whip-right-out");
    pairs.emplace_back("rotate", "rotate-out");  // not native names: a fade only
    pairs.emplace_back("Pop", "sparkle");

    const double fps = 30, width = 1000, height = 500;
    const std::int64_t D = 54;
    for (const auto& [in, out] : pairs) {
        SCOPED_TRACE(in + " / " + out);
        Json sequence = {{"animIn", in}, {"animOut", out}, {"animSpeed", 0.35}, {"x", 40}, {"y", 70},
                         {"textScaleX", 130}};
        NativeTextSequence block = NativeTextSequence::decode(sequence);
        block.duration = D / fps;
        const LottieAnimation animation = makeLottieAnimation(sequence, 1000, 500, fps, D);
        bool moves = false;
        for (double frame = 0; frame <= D; frame += 0.5) {
            SCOPED_TRACE(frame);
            const NativePose pose = nativePose(block, frame / fps);
            expectValues(lottieValue(frame, animation.opacity), {100 * pose.opacity});
            expectValues(lottieValue(frame, animation.position),
                         {0.4 * width + pose.xOffset, 0.7 * height + pose.yOffset, 0});
            expectValues(lottieValue(frame, animation.scale), {130 * pose.scale, 100 * pose.scale, 100});
            expectValues(lottieValue(frame, animation.rotation), {-pose.rotation * 180 / M_PI});
            moves = moves || pose.xOffset != 0 || pose.yOffset != 0 || pose.scale != 1 || pose.rotation != 0;
        }
        // A capable style that moves natively moves in the document: the
        // comparison above would hold for a fade-only document only if the
        // native pose never moved.
        const bool fadeOnly = (in == "none" || in == "fade" || in == "rotate" || in == "Pop") &&
                              (out == "none" || out == "fade" || out == "rotate-out" || out == "sparkle");
        EXPECT_EQ(moves, !fadeOnly);
    }
}

TEST(LottieAnimation, ClampsAnchorAndScale) {
    struct Case {
        Json sequence;
        std::vector<double> position;
        double scaleX;
    };
    const Case cases[] = {
        {Json::object(), {960, 540, 0}, 100},
        {{{"x", -20}, {"y", 150}, {"textScaleX", 10}}, {0, 1080, 0}, 40},
        {{{"x", 150}, {"y", -1}, {"textScaleX", 500}}, {1920, 0, 0}, 220},
        {{{"x", "25"}, {"y", "nan"}, {"textScaleX", "inf"}}, {480, 540, 0}, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sequence.dump());
        auto animation = makeLottieAnimation(c.sequence, 1920, 1080, 30, 30);
        expectValues(animation.position.front().values, c.position);
        EXPECT_DOUBLE_EQ(animation.scale.front().values[0], c.scaleX);
    }
}

std::string utf8(char32_t c) {
    char buffer[8];
    return std::string(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
}

// Every font of the editor: the document names the face the native renderer
// draws with, carries a glyph for every character, breaks lines with "\r",
// and sets the lines where the native renderer sets them.
TEST(LottieDocument, TextIsSetAsTheNativeRendererSetsIt) {
    const LottieCapability capability = readLottieCapability();
    ASSERT_FALSE(capability.font.empty());
    for (const auto& font : capability.font) {
        SCOPED_TRACE(font);
        Json sequence = {{"text", "Élan 42\nà tous\r\n!"}, {"font", font}, {"size", 7}};
        SortedJson document = makeLottieDocument(sequence, 1920, 1080, 30, 60, 0, 60);
        const SortedJson& text = document["layers"][0]["t"]["d"]["k"][0]["s"];
        EXPECT_EQ(text["t"], "Élan 42\rà tous\r \r!");

        NativeCaptionRenderer renderer(1920, 1080, {NativeTextSequence::decode(sequence)});
        const NativeFontFace& face = renderer.fontChoice(0).face;
        const SortedJson& entry = document["fonts"]["list"][0];
        EXPECT_EQ(entry["fName"], face.postscriptName);
        EXPECT_EQ(text["f"], face.postscriptName);
        EXPECT_EQ(entry["fFamily"], face.family);
        const bool bold = face.postscriptName.ends_with("-Bold");
        EXPECT_EQ(entry["fStyle"], bold ? "Bold" : "Regular");

        const double fs = 0.07 * 1920;
        EXPECT_NEAR(text["lh"].get<double>(), 0.82 * fs, 1e-9);
        const auto metrics = renderer.lineMetrics(0);
        const auto origins = nativeLineOrigins(metrics, fs);
        ASSERT_EQ(origins.size(), 4u);
        // The anchor is the block centre seen from the first baseline; each
        // following line lies one lh lower, as players set them.
        const SortedJson& anchor = document["layers"][0]["ks"]["a"]["k"];
        for (std::size_t k = 0; k < origins.size(); ++k)
            EXPECT_NEAR(origins[k].baseline, k * text["lh"].get<double>() - anchor[1].get<double>(), 0.01) << k;

        std::vector<std::string> chars;
        for (const auto& c : document["chars"]) {
            chars.push_back(c["ch"]);
            EXPECT_EQ(c["fFamily"], entry["fFamily"]);
            EXPECT_EQ(c["style"], entry["fStyle"]);
            // The line break: an empty glyph that does not advance.
            EXPECT_EQ(c["w"].get<double>() > 0, c["ch"] != "\r") << c["ch"];
            ASSERT_EQ(c["data"]["shapes"].size(), 1u);
            EXPECT_EQ(c["data"]["shapes"][0]["it"].empty(), c["ch"] == " " || c["ch"] == "\r") << c["ch"];
        }
        for (char32_t c : std::u32string(U"\rÉlan42àtous !"))
            EXPECT_NE(std::find(chars.begin(), chars.end(), utf8(c)), chars.end()) << utf8(c);
        EXPECT_EQ(chars.size(), 14u);
    }
}

// A glyph's advance and outline are the face's: "I" is a tall thin closed
// path, "O" two contours; the advance matches the native layout's.
TEST(LottieGlyphs, OutlinesAndAdvancesComeFromTheFace) {
    const LottieFace& face = lottieFace("Bebas Neue");
    EXPECT_EQ(face.postscriptName, "BebasNeue-Regular");
    const LottieGlyph& o = lottieGlyph(face, U'O');
    ASSERT_EQ(o.shapes.size(), 1u);
    EXPECT_EQ(o.shapes[0]["it"].size(), 2u);  // outer and inner contour
    for (const auto& path : o.shapes[0]["it"]) {
        const SortedJson& k = path["ks"]["k"];
        EXPECT_TRUE(k["c"].get<bool>());
        EXPECT_EQ(k["v"].size(), k["i"].size());
        EXPECT_EQ(k["v"].size(), k["o"].size());
        for (const auto& v : k["v"]) {
            EXPECT_LE(v[1].get<double>(), 1);     // y down: above the baseline
            EXPECT_GE(v[1].get<double>(), -71);  // cap height 0.7 em
        }
    }
    NativeCaptionRenderer renderer(1000, 1000, {NativeTextSequence::decode({{"text", "O"}, {"font", "Bebas Neue"}, {"size", 10}})});
    EXPECT_NEAR(o.advance, renderer.lineMetrics(0)[0].width, 0.01);  // 100 px font: 1/100 em = 1 px
    EXPECT_EQ(&lottieGlyph(face, U'O'), &o);  // read once
}

TEST(LottieDocument, TextDocumentValues) {
    struct Case {
        Json sequence;
        double fontSize;
        std::vector<double> fill;
        bool outline;
        std::vector<double> stroke;
        double strokeWidth;
    };
    const Case cases[] = {
        {Json::object(), 153.6, {1, 1, 1}, false, {}, 0},
        {{{"size", 0}}, 8, {1, 1, 1}, false, {}, 0},
        {{{"size", -4}, {"color", "red"}}, 8, {1, 1, 1}, false, {}, 0},
        {{{"color", "#12345"}, {"hasOutline", false}, {"outlineWidth", 9}}, 153.6, {1, 1, 1}, false, {}, 0},
        {{{"hasOutline", true}}, 153.6, {1, 1, 1}, true, {0, 0, 0}, 2},
        // The native renderer draws no outline of width 0, and one of at least a pixel.
        {{{"hasOutline", "yes"}, {"outlineWidth", 0}, {"outlineColor", "#f00"}}, 153.6, {1, 1, 1}, false, {}, 0},
        {{{"hasOutline", "yes"}, {"outlineWidth", 0.5}, {"outlineColor", "#f00"}}, 153.6, {1, 1, 1}, true, {1, 0, 0}, 1},
        {{{"hasOutline", true}, {"outlineWidth", 6.5}, {"outlineColor", "rgb(0,0,0)"}}, 153.6, {1, 1, 1}, true, {1, 1, 1}, 6.5},
        {{{"hasOutline", true}, {"outlineWidth", "nan"}}, 153.6, {1, 1, 1}, true, {0, 0, 0}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sequence.dump());
        SortedJson document = makeLottieDocument(c.sequence, 1920, 1080, 25, 50, 0, 50);
        // An outlined block: the outlined text under the same text unoutlined,
        // both with the same transform.
        ASSERT_EQ(document["layers"].size(), c.outline ? 2u : 1u);
        const SortedJson& top = document["layers"][0]["t"]["d"]["k"][0]["s"];
        EXPECT_FALSE(top.contains("sc"));
        const SortedJson& text = document["layers"].back()["t"]["d"]["k"][0]["s"];
        EXPECT_EQ(document["layers"].back()["ks"], document["layers"][0]["ks"]);
        EXPECT_DOUBLE_EQ(text["s"].get<double>(), c.fontSize);
        EXPECT_DOUBLE_EQ(text["lh"].get<double>(), c.fontSize * 0.82);
        expectValues(text["fc"].get<std::vector<double>>(), c.fill);
        EXPECT_EQ(text.contains("sc"), c.outline);
        EXPECT_EQ(text.contains("sw"), c.outline);
        if (c.outline) {
            expectValues(text["sc"].get<std::vector<double>>(), c.stroke);
            EXPECT_DOUBLE_EQ(text["sw"].get<double>(), c.strokeWidth);
            EXPECT_EQ(text["of"], false);  // under the fill
        }
        EXPECT_TRUE(serializeSortedJson(document).has_value());
    }
}

// The hard and cartoon glows: four copies of the text in the glow colour, moved
// by 3.5 % of the font size along both diagonals, under the text and with its
// transform; no copies for the other glows, which the document cannot draw.
TEST(LottieDocument, HardGlowsAreFourCopiesUnderTheText) {
    struct Case {
        Json sequence;
        std::size_t layers;
        std::vector<double> glow;
    };
    const Case cases[] = {
        {{{"glowType", "hard"}, {"glowColor", "#00ff00"}}, 5, {0, 1, 0}},
        {{{"glowType", "Cartoon"}, {"glowColor", "#000"}, {"hasOutline", true}, {"outlineWidth", 2}}, 6, {1, 1, 1}},
        {{{"glowType", "neon"}}, 1, {}},
        {{{"glowType", "none"}}, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sequence.dump());
        Json sequence = c.sequence;
        sequence["text"] = "Salut";
        sequence["size"] = 10;
        SortedJson document = makeLottieDocument(sequence, 1000, 500, 30, 60, 0, 60);
        const SortedJson& layers = document["layers"];
        ASSERT_EQ(layers.size(), c.layers);
        if (c.glow.empty()) continue;
        const SortedJson& text = layers[c.layers - 5];
        const std::vector<double> anchor = text["ks"]["a"]["k"];
        std::vector<std::pair<double, double>> shifts;
        for (std::size_t i = c.layers - 4; i < c.layers; ++i) {
            const SortedJson& copy = layers[i];
            EXPECT_EQ(copy["ind"], static_cast<int>(i) + 1);
            const SortedJson& shown = copy["t"]["d"]["k"][0]["s"];
            expectValues(shown["fc"].get<std::vector<double>>(), c.glow);
            EXPECT_FALSE(shown.contains("sc"));
            EXPECT_EQ(shown["t"], "Salut");
            for (const char* key : {"o", "p", "s", "r"}) EXPECT_EQ(copy["ks"][key], text["ks"][key]) << key;
            const std::vector<double> moved = copy["ks"]["a"]["k"];
            shifts.emplace_back(anchor[0] - moved[0], anchor[1] - moved[1]);
        }
        std::sort(shifts.begin(), shifts.end());
        const double d = 0.035 * 100;
        const std::vector<std::pair<double, double>> expected = {{-d, -d}, {-d, d}, {d, -d}, {d, d}};
        ASSERT_EQ(shifts.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(shifts[i].first, expected[i].first, 1e-9);
            EXPECT_NEAR(shifts[i].second, expected[i].second, 1e-9);
        }
    }
}

TEST(LottieDocument, LayerAndTopLevelKeys) {
    Json sequence = {{"text", "Bonjour"}, {"font", "Inter"}, {"size", 10}, {"animIn", "pop"}};
    SortedJson document = makeLottieDocument(sequence, 1920, 1080, 30, 90, 0, 90);
    EXPECT_EQ(document["v"], "5.12.2");
    EXPECT_TRUE(document["fr"].is_number_float());
    EXPECT_TRUE(document["op"].is_number_integer());
    EXPECT_EQ(document["op"], 90);
    EXPECT_EQ(document["w"], 1920);
    EXPECT_EQ(document["h"], 1080);
    const SortedJson& layer = document["layers"][0];
    EXPECT_EQ(layer["ty"], 5);
    EXPECT_EQ(layer["op"], 90);
    EXPECT_EQ(layer["t"]["a"], SortedJson::array());
    EXPECT_EQ(document["fonts"]["list"][0]["fStyle"], "Bold");
    // pop starts at half size and eases out over 0.5 s = 15 frames.
    const SortedJson& scale = layer["ks"]["s"]["k"];
    expectValues(scale[0]["s"].get<std::vector<double>>(), {50, 50, 100});
    EXPECT_EQ(scale[0]["o"]["y"][0], 1.0);
    EXPECT_DOUBLE_EQ(scale[1]["t"].get<double>(), 15);
    auto text = serializeSortedJson(document);
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->starts_with(R"({"assets":[],"chars":[)"));
}

// The archives' text is assembled from glyph entries written once: it must
// read back as the document itself, for any text (quotes, accents, none).
TEST(LottieDocument, TextFormIsTheDocument) {
    for (const char* text : {"", "Bonjour\nà \"tous\"", "\\ ÉÉÉ 123"}) {
        SCOPED_TRACE(text);
        Json sequence = {{"text", text}, {"font", "Anton"}, {"hasOutline", true}, {"animIn", "slam"}};
        auto written = makeLottieDocumentText(sequence, 1280, 720, 25, 50, 3, 40);
        ASSERT_TRUE(written);
        EXPECT_EQ(SortedJson::parse(*written), makeLottieDocument(sequence, 1280, 720, 25, 50, 3, 40));
        // Shape items start with their "ty", for players that read the text as a stream.
        EXPECT_EQ(written->find(R"([{"ks")"), std::string::npos);
        EXPECT_EQ(written->find(R"([{"it")"), std::string::npos);
        if (*text) {
            EXPECT_NE(written->find(R"("it":[{"ty":"sh","ks":{)"), std::string::npos) << *written;
        }
    }
}

TEST(LottieDocument, CropStartingInsideTheEntrance) {
    // 100 frames at 30 fps, animSpeed 0.5: A = 15. Exported from frame 5 for 50 frames.
    Json sequence = {{"animIn", "pop"}, {"animOut", "sink"}, {"textScaleX", 100}};
    SortedJson document = makeLottieDocument(sequence, 1000, 500, 30, 100, 5, 50);
    const SortedJson& ks = document["layers"][0]["ks"];

    const SortedJson& scale = ks["s"]["k"];
    ASSERT_EQ(scale.size(), 3u);
    EXPECT_DOUBLE_EQ(scale[0]["t"].get<double>(), 0);
    const double e = 1 - std::pow(1 - 5.0 / 15.0, 3);
    expectValues(scale[0]["s"].get<std::vector<double>>(), {50 + e * 50, 50 + e * 50, 100});
    EXPECT_DOUBLE_EQ(scale[1]["t"].get<double>(), 10);  // the entrance end, in document frames
    EXPECT_DOUBLE_EQ(scale[2]["t"].get<double>(), 50);

    const SortedJson& opacity = ks["o"]["k"];
    ASSERT_EQ(opacity.size(), 3u);
    expectValues(opacity[0]["s"].get<std::vector<double>>(), {e * 100});
    expectValues(opacity[2]["s"].get<std::vector<double>>(), {100});  // the exit (frame 85) lies outside

    EXPECT_EQ(document["op"], 50);
    EXPECT_EQ(document["layers"][0]["op"], 50);
}

}  // namespace
}  // namespace tessivo
