#include "bridge/caption_sequence.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

TEST(CaptionSequence, EmptyDictionaryTakesEveryDefault) {
    auto s = NativeTextSequence::decode(Json::object());
    EXPECT_EQ(s.text, "");
    EXPECT_EQ(s.startTime, 0);
    EXPECT_EQ(s.duration, 1);
    EXPECT_EQ(s.x, 50);
    EXPECT_EQ(s.y, 50);
    EXPECT_EQ(s.size, 8);
    EXPECT_EQ(s.color, "#ffffff");
    EXPECT_EQ(s.effect, "none");
    EXPECT_EQ(s.glowType, "none");
    EXPECT_FALSE(s.hasOutline);
    EXPECT_EQ(s.animIn, "none");
    EXPECT_EQ(s.animOut, "none");
    EXPECT_DOUBLE_EQ(s.animSpeed, 0.35);
    EXPECT_EQ(s.font, "HelveticaNeue-CondensedBlack");
}

TEST(CaptionSequence, CoercedValuesAndClamp) {
    struct Case { const char* json; double scale; };
    const Case cases[] = {
        {R"({"textScaleX": 500})", 220}, {R"({"textScaleX": 10})", 40}, {R"({"textScaleX": "150"})", 150},
        {R"({"textScaleX": "wide"})", 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NativeTextSequence::decode(Json::parse(c.json)).textScaleX, c.scale) << c.json;

    auto s = NativeTextSequence::decode(Json::parse(R"({"size": "12", "hasOutline": "yes", "trackId": 2.9,
        "text": 42, "startTime": "1.5"})"));
    EXPECT_EQ(s.size, 12);
    EXPECT_TRUE(s.hasOutline);
    EXPECT_EQ(s.trackId, 2);
    EXPECT_EQ(s.text, "42");
    EXPECT_EQ(s.startTime, 1.5);
}

TEST(CaptionSequence, NonFiniteNumbersTakeTheDefault) {
    using Field = double NativeTextSequence::*;
    struct Case { const char* key; Field field; double fallback; };
    const Case cases[] = {
        {"startTime", &NativeTextSequence::startTime, 0},     {"duration", &NativeTextSequence::duration, 1},
        {"x", &NativeTextSequence::x, 50},                    {"y", &NativeTextSequence::y, 50},
        {"size", &NativeTextSequence::size, 8},               {"textScaleX", &NativeTextSequence::textScaleX, 100},
        {"effectSpeed", &NativeTextSequence::effectSpeed, 1}, {"glowIntensity", &NativeTextSequence::glowIntensity, 20},
        {"outlineWidth", &NativeTextSequence::outlineWidth, 0}, {"animSpeed", &NativeTextSequence::animSpeed, 0.35},
    };
    // Texts the C library reads as non-finite (the JSON parser refuses 1e400 as a number).
    const char* values[] = {R"("nan")", R"("NAN")", R"("-nan")", R"("inf")", R"("-Infinity")", R"("1e400")"};
    for (const auto& c : cases) {
        for (const char* value : values) {
            std::string text = std::string(R"({")") + c.key + R"(": )" + value + "}";
            EXPECT_EQ(NativeTextSequence::decode(Json::parse(text)).*c.field, c.fallback) << text;
        }
    }
}

TEST(CaptionSequence, NonFiniteStartKeepsTheOtherBlocksInOrder) {
    auto list = nativeSequences(Json::parse(R"({"sequences": [
        {"text": "c", "startTime": 3}, {"text": "b", "startTime": 2}, {"text": "nan", "startTime": "nan"},
        {"text": "a", "startTime": 1}, {"text": "d", "startTime": 4}, {"text": "inf", "startTime": "inf"},
        {"text": "e", "startTime": 5}]})"));
    std::vector<std::string> order;
    for (const auto& s : list) order.push_back(s.text);
    EXPECT_EQ(order, (std::vector<std::string>{"nan", "inf", "a", "b", "c", "d", "e"}));
}

TEST(CaptionSequence, ListShapeAndStableOrder) {
    EXPECT_TRUE(nativeSequences(Json::parse(R"({"sequences": {"text": "a"}})")).empty());
    EXPECT_TRUE(nativeSequences(Json::parse(R"({"sequences": [{"text": "a"}, 3]})")).empty());
    EXPECT_TRUE(nativeSequences(Json::parse(R"({})")).empty());

    auto list = nativeSequences(Json::parse(R"({"sequences": [
        {"text": "t1-late", "trackId": 1, "startTime": 5},
        {"text": "t0-b", "trackId": 0, "startTime": 2},
        {"text": "t0-a", "trackId": 0, "startTime": 1},
        {"text": "t1-first", "trackId": 1, "startTime": 0},
        {"text": "t0-b2", "trackId": 0, "startTime": 2}]})"));
    std::vector<std::string> order;
    for (const auto& s : list) order.push_back(s.text);
    EXPECT_EQ(order, (std::vector<std::string>{"t0-a", "t0-b", "t0-b2", "t1-first", "t1-late"}));
}

}  // namespace
}  // namespace tessivo
