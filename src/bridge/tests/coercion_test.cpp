#include "bridge/coercion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tessivo {
namespace {

// Each row: a JSON value (as text; "" for absent) and the expected result with
// a sentinel default.
struct IntCase { const char* json; std::int64_t expected; };
struct DoubleCase { const char* json; double expected; };
struct BoolCase { const char* json; bool defaultValue; bool expected; };
struct StringCase { const char* json; const char* expected; };

constexpr std::int64_t kIntDefault = -777;
constexpr double kDoubleDefault = -7.5;

Json parse(const char* text) { return Json::parse(text); }

TEST(Coercion, IntValue) {
    const IntCase cases[] = {
        {"12", 12}, {"\"12\"", 12}, {"\"+12\"", 12}, {"\"-12\"", -12},
        {"\" 12\"", kIntDefault}, {"\"12 \"", kIntDefault}, {"\"12.0\"", kIntDefault},
        {"\"0x10\"", kIntDefault}, {"\"\"", kIntDefault}, {"\"+\"", kIntDefault}, {"\"+-1\"", kIntDefault},
        {"12.7", 12}, {"-2.9", -2}, {"true", 1}, {"false", 0},
        {"\"9223372036854775807\"", std::numeric_limits<std::int64_t>::max()},
        {"\"-9223372036854775808\"", std::numeric_limits<std::int64_t>::min()},
        {"\"9223372036854775808\"", kIntDefault},
        {"\"-9223372036854775809\"", kIntDefault},
        {"null", kIntDefault}, {"[1]", kIntDefault}, {"{}", kIntDefault},
    };
    for (const auto& c : cases) {
        Json v = parse(c.json);
        EXPECT_EQ(intValue(&v, kIntDefault), c.expected) << c.json;
    }
    EXPECT_EQ(intValue(nullptr, kIntDefault), kIntDefault);
}

TEST(Coercion, DoubleValue) {
    const DoubleCase cases[] = {
        {"2.5", 2.5}, {"3", 3.0}, {"true", 1.0}, {"\"12.5\"", 12.5}, {"\"1e3\"", 1000.0},
        {"\"12,5\"", kDoubleDefault}, {"\" 1\"", kDoubleDefault}, {"\"\\t1\"", kDoubleDefault},
        {"\"1 \"", kDoubleDefault}, {"\"\"", kDoubleDefault}, {"\"-0.25\"", -0.25}, {"\"abc\"", kDoubleDefault},
        {"null", kDoubleDefault}, {"[]", kDoubleDefault},
    };
    for (const auto& c : cases) {
        Json v = parse(c.json);
        EXPECT_DOUBLE_EQ(doubleValue(&v, kDoubleDefault), c.expected) << c.json;
    }
    Json inf = "inf", nan = "nan";
    EXPECT_TRUE(std::isinf(doubleValue(&inf, 0)));
    EXPECT_TRUE(std::isnan(doubleValue(&nan, 0)));
}

TEST(Coercion, FiniteDoubleValueTreatsNonFiniteAsAbsent) {
    const DoubleCase cases[] = {
        {"2.5", 2.5}, {"\"1e3\"", 1000.0}, {"\"nan\"", kDoubleDefault}, {"\"-inf\"", kDoubleDefault},
        {"\"Infinity\"", kDoubleDefault}, {"\"-1e400\"", kDoubleDefault},
        {"\"1e308\"", 1e308}, {"null", kDoubleDefault},
    };
    for (const auto& c : cases) {
        Json object = Json::object();
        object["k"] = parse(c.json);
        EXPECT_DOUBLE_EQ(finiteDoubleValue(object, "k", kDoubleDefault), c.expected) << c.json;
    }
    EXPECT_EQ(finiteDoubleValue(Json::object(), "k", kDoubleDefault), kDoubleDefault);
}

TEST(Coercion, BoolValue) {
    const BoolCase cases[] = {
        {"true", false, true}, {"false", true, false}, {"0", true, false}, {"2", false, true},
        {"0.0", true, false}, {"\"YES\"", false, true}, {"\"On\"", false, true}, {"\"off\"", true, false},
        {"\"0\"", true, false}, {"\"1\"", false, true}, {"\" true\"", false, false},
        {"\"maybe\"", true, true}, {"\"maybe\"", false, false}, {"null", true, true},
    };
    for (const auto& c : cases) {
        Json v = parse(c.json);
        EXPECT_EQ(boolValue(&v, c.defaultValue), c.expected) << c.json;
    }
}

TEST(Coercion, StringValue) {
    const StringCase cases[] = {
        {"\"abc\"", "abc"}, {"3", "3"}, {"2.5", "2.5"}, {"3.0", "3"}, {"-0.1", "-0.1"},
        {"true", "1"}, {"false", "0"}, {"null", "default"}, {"[\"a\"]", "default"},
    };
    for (const auto& c : cases) {
        Json v = parse(c.json);
        EXPECT_EQ(stringValue(&v, "default"), c.expected) << c.json;
    }
}

}  // namespace
}  // namespace tessivo
