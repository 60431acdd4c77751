#include "lottie/lottie_document.h"

#include <gtest/gtest.h>

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
        {"t":0.0,"s":[100.0],"e":[100.0],"i":{"x":[0.667],"y":[1]},"o":{"x":[0.333],"y":[0]}},
        {"t":8.0,"s":[100.0]}]})"));
    EXPECT_TRUE(animated["k"][0]["t"].is_number_float());
    EXPECT_TRUE(animated["k"][1]["t"].is_number_float());
    EXPECT_TRUE(animated["k"][0]["i"]["y"][0].is_number_integer());
}

// Entrance length A and exit start O, read off a fade in and fade out.
struct AnimationCase {
    const char* name;
    std::int64_t D;
    double fps;
    double animSpeed;
    double A, O;
};

TEST(LottieAnimation, EntranceLengthAndExitStart) {
    const AnimationCase cases[] = {
        {"100 frames, 0.5 s at 30 fps", 100, 30, 0.5, 15, 85},
        {"long speed capped at 45%", 20, 30, 10, 9, 11},
        {"huge speed", 40, 30, 1e300, 18, 22},
        {"speed rounding to zero", 50, 30, 0.01, 1, 49},
        {"negative speed", 50, 30, -2, 1, 49},
        {"half frame rounds up", 100, 30, 0.05, 2, 98},  // 1.5 frames
        {"3 frames", 3, 30, 0.5, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json sequence = {{"animIn", "fade"}, {"animOut", "fade"}, {"animSpeed", c.animSpeed}};
        auto animation = makeLottieAnimation(sequence, 1920, 1080, c.fps, c.D);
        const double D = static_cast<double>(c.D);
        ASSERT_EQ(frames(animation.opacity), (std::vector<double>{0, c.A, c.O, D}));
        expectValues(animation.opacity[1].values, {100});
        expectValues(animation.opacity[2].values, {100});
        expectValues(animation.opacity.back().values, {0});
    }
}

TEST(LottieAnimation, ExitStartingAtOrBeforeTheEntranceEnd) {
    // D = 1: A = 1, O = 0. The exit starts at once from the entrance's first value.
    Json sequence = {{"animIn", "slide-up"}, {"animOut", "sink"}, {"y", 50}, {"x", 50}};
    auto one = makeLottieAnimation(sequence, 200, 100, 30, 1);
    EXPECT_EQ(one.opacity, states({{0, {0}}, {1, {0}}}));
    EXPECT_EQ(one.position, states({{0, {100, 114, 0}}, {1, {100, 114, 0}}}));

    // D = 2: A = 1 and O = 1, so the exit carries on from the entrance's end value.
    Json popped = {{"animIn", "pop"}, {"animOut", "pop-out"}, {"textScaleX", 100}};
    auto two = makeLottieAnimation(popped, 200, 100, 30, 2);
    EXPECT_EQ(two.scale, states({{0, {60, 60, 100}}, {1, {100, 100, 100}}, {2, {65, 65, 100}}}));
    EXPECT_EQ(two.opacity, states({{0, {0}}, {1, {100}}, {2, {0}}}));
}

TEST(LottieAnimation, EachNamedRuleChangesItsOwnProperty) {
    // 60 frames at 30 fps, animSpeed 0.5: A = 15, O = 45. Anchor (100, 50), sx 150.
    const double px = 100, py = 50, sx = 150;
    struct Case {
        const char* animIn;
        const char* animOut;
        LottieStates position, scale, rotation;
    };
    const LottieStates still = states({{0, {px, py, 0}}, {60, {px, py, 0}}});
    const LottieStates unscaled = states({{0, {sx, 100, 100}}, {60, {sx, 100, 100}}});
    const LottieStates level = states({{0, {0}}, {60, {0}}});
    const Case cases[] = {
        {"fade", "none", still, unscaled, level},
        {"slide-up", "none", states({{0, {px, py + 64, 0}}, {15, {px, py, 0}}, {60, {px, py, 0}}}), unscaled, level},
        {"rise", "none", states({{0, {px, py + 64, 0}}, {15, {px, py, 0}}, {60, {px, py, 0}}}), unscaled, level},
        {"smooth-rise", "none", states({{0, {px, py + 38, 0}}, {15, {px, py, 0}}, {60, {px, py, 0}}}), unscaled, level},
        {"pop", "none", still, states({{0, {sx * 0.6, 60, 100}}, {15, {sx, 100, 100}}, {60, {sx, 100, 100}}}), level},
        {"scale-down", "none", still, states({{0, {sx * 1.8, 180, 100}}, {15, {sx, 100, 100}}, {60, {sx, 100, 100}}}), level},
        {"rotate", "none", still, unscaled, states({{0, {-18}}, {15, {0}}, {60, {0}}})},
        {"whip-left", "none", still, unscaled, level},
        {"none", "slide-down", states({{0, {px, py, 0}}, {45, {px, py, 0}}, {60, {px, py + 64, 0}}}), unscaled, level},
        {"none", "sink", states({{0, {px, py, 0}}, {45, {px, py, 0}}, {60, {px, py + 64, 0}}}), unscaled, level},
        {"none", "smooth-sink", states({{0, {px, py, 0}}, {45, {px, py, 0}}, {60, {px, py + 38, 0}}}), unscaled, level},
        {"none", "pop-out", still, states({{0, {sx, 100, 100}}, {45, {sx, 100, 100}}, {60, {sx * 0.65, 65, 100}}}), level},
        {"none", "rotate-out", still, unscaled, states({{0, {0}}, {45, {0}}, {60, {18}}})},
        {"rotate", "rotate-out", still, unscaled, states({{0, {-18}}, {15, {0}}, {45, {0}}, {60, {18}}})},
        {"pop", "sink", states({{0, {px, py, 0}}, {45, {px, py, 0}}, {60, {px, py + 64, 0}}}),
         states({{0, {sx * 0.6, 60, 100}}, {15, {sx, 100, 100}}, {60, {sx, 100, 100}}}), level},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.animIn) + " / " + c.animOut);
        Json sequence = {{"animIn", c.animIn}, {"animOut", c.animOut}, {"animSpeed", 0.5},
                         {"x", 50}, {"y", 50}, {"textScaleX", 150}};
        auto animation = makeLottieAnimation(sequence, 200, 100, 30, 60);
        EXPECT_EQ(animation.position, c.position);
        EXPECT_EQ(animation.scale, c.scale);
        EXPECT_EQ(animation.rotation, c.rotation);
        const bool in = std::string(c.animIn) != "none";
        const bool out = std::string(c.animOut) != "none";
        LottieStates opacity = in ? states({{0, {0}}, {15, {100}}, {60, {100}}}) : states({{0, {100}}, {60, {100}}});
        if (out) opacity = in ? states({{0, {0}}, {15, {100}}, {45, {100}}, {60, {0}}})
                              : states({{0, {100}}, {45, {100}}, {60, {0}}});
        EXPECT_EQ(animation.opacity, opacity);
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

TEST(LottieDocument, LayerAndTopLevelKeys) {
    Json sequence = {{"text", "Bonjour\nà tous"}, {"font", "Bebas Neue"}, {"size", 10}, {"color", "#0f0"}};
    SortedJson document = makeLottieDocument(sequence, 1920, 1080, 30, 90, 0, 90);
    const char* expected = R"({
      "v": "5.12.2", "fr": 30.0, "ip": 0, "op": 90, "w": 1920, "h": 1080, "nm": "Tessivo", "ddd": 0,
      "assets": [],
      "fonts": {"list": [{"fName": "Bebas Neue", "fFamily": "Bebas Neue", "fStyle": "Regular", "ascent": 75}]},
      "layers": [{
        "ddd": 0, "ind": 1, "ty": 5, "nm": "Tessivo Text", "sr": 1, "ao": 0, "ip": 0, "op": 90, "st": 0, "bm": 0,
        "ks": {
          "o": {"a": 1, "k": [{"t": 0.0, "s": [100.0], "e": [100.0], "i": {"x": [0.667], "y": [1]}, "o": {"x": [0.333], "y": [0]}},
                              {"t": 90.0, "s": [100.0]}]},
          "r": {"a": 1, "k": [{"t": 0.0, "s": [0.0], "e": [0.0], "i": {"x": [0.667], "y": [1]}, "o": {"x": [0.333], "y": [0]}},
                              {"t": 90.0, "s": [0.0]}]},
          "p": {"a": 1, "k": [{"t": 0.0, "s": [960.0, 540.0, 0.0], "e": [960.0, 540.0, 0.0], "i": {"x": [0.667], "y": [1]}, "o": {"x": [0.333], "y": [0]}},
                              {"t": 90.0, "s": [960.0, 540.0, 0.0]}]},
          "a": {"a": 0, "k": [0, 0, 0]},
          "s": {"a": 1, "k": [{"t": 0.0, "s": [100.0, 100.0, 100.0], "e": [100.0, 100.0, 100.0], "i": {"x": [0.667], "y": [1]}, "o": {"x": [0.333], "y": [0]}},
                              {"t": 90.0, "s": [100.0, 100.0, 100.0]}]}
        },
        "t": {
          "d": {"k": [{"s": {"s": 192.0, "f": "Bebas Neue", "t": "Bonjour\nà tous", "j": 2, "tr": 0, "lh": 207.36,
                             "ls": 0, "fc": [0.0, 1.0, 0.0]}, "t": 0}]},
          "p": {},
          "m": {"g": 1, "a": {"a": 0, "k": [0, 0]}},
          "a": []
        }
      }]
    })";
    SortedJson wanted = SortedJson::parse(expected);
    wanted["layers"][0]["t"]["d"]["k"][0]["s"]["lh"] = 192.0 * 1.08;
    EXPECT_EQ(document, wanted);
    // Integers stay integers, frames are floats.
    EXPECT_TRUE(document["op"].is_number_integer());
    EXPECT_TRUE(document["w"].is_number_integer());
    EXPECT_TRUE(document["fr"].is_number_float());
    EXPECT_TRUE(document["layers"][0]["t"]["d"]["k"][0]["s"]["j"].is_number_integer());
    auto text = serializeSortedJson(document);
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->starts_with(R"({"assets":[],"ddd":0,"fonts":{"list":[{"ascent":75,"fFamily":"Bebas Neue")"));
    EXPECT_NE(text->find(R"("fr":30.0,"h":1080,"ip":0)"), std::string::npos);
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
        {{{"hasOutline", "yes"}, {"outlineWidth", 0}, {"outlineColor", "#f00"}}, 153.6, {1, 1, 1}, true, {1, 0, 0}, 0.5},
        {{{"hasOutline", true}, {"outlineWidth", 6.5}, {"outlineColor", "rgb(0,0,0)"}}, 153.6, {1, 1, 1}, true, {1, 1, 1}, 6.5},
        {{{"hasOutline", true}, {"outlineWidth", "nan"}}, 153.6, {1, 1, 1}, true, {0, 0, 0}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sequence.dump());
        SortedJson document = makeLottieDocument(c.sequence, 1920, 1080, 25, 50, 0, 50);
        const SortedJson& text = document["layers"][0]["t"]["d"]["k"][0]["s"];
        EXPECT_DOUBLE_EQ(text["s"].get<double>(), c.fontSize);
        EXPECT_DOUBLE_EQ(text["lh"].get<double>(), c.fontSize * 1.08);
        expectValues(text["fc"].get<std::vector<double>>(), c.fill);
        EXPECT_EQ(text.contains("sc"), c.outline);
        EXPECT_EQ(text.contains("sw"), c.outline);
        if (c.outline) {
            expectValues(text["sc"].get<std::vector<double>>(), c.stroke);
            EXPECT_DOUBLE_EQ(text["sw"].get<double>(), c.strokeWidth);
        }
        EXPECT_EQ(document["fonts"]["list"][0]["fName"], "Helvetica Neue");
        EXPECT_TRUE(serializeSortedJson(document).has_value());
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
    const double p = 5.0 / 15.0;
    expectValues(scale[0]["s"].get<std::vector<double>>(), {60 + p * 40, 60 + p * 40, 100});
    EXPECT_DOUBLE_EQ(scale[1]["t"].get<double>(), 10);  // the entrance end, in document frames
    EXPECT_DOUBLE_EQ(scale[2]["t"].get<double>(), 50);

    const SortedJson& opacity = ks["o"]["k"];
    ASSERT_EQ(opacity.size(), 3u);
    expectValues(opacity[0]["s"].get<std::vector<double>>(), {p * 100});
    expectValues(opacity[2]["s"].get<std::vector<double>>(), {100});  // the exit (frame 85) lies outside

    EXPECT_EQ(document["op"], 50);
    EXPECT_EQ(document["layers"][0]["op"], 50);
}

TEST(LottieDocument, OneFrameBlockStaysInvisible) {
    Json sequence = {{"animIn", "fade"}, {"animOut", "fade"}};
    SortedJson document = makeLottieDocument(sequence, 1920, 1080, 60, 1, 0, 1);
    EXPECT_EQ(document["layers"][0]["ks"]["o"], SortedJson::parse(R"({"a":1,"k":[
        {"t":0.0,"s":[0.0],"e":[0.0],"i":{"x":[0.667],"y":[1]},"o":{"x":[0.333],"y":[0]}},{"t":1.0,"s":[0.0]}]})"));
}

}  // namespace
}  // namespace tessivo
