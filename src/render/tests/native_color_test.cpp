#include "render/native_color.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

NativeColor rgb(int hex) { return {((hex >> 16) & 0xff) / 255.0, ((hex >> 8) & 0xff) / 255.0, (hex & 0xff) / 255.0, 1}; }

TEST(NativeColor, ParsesOnlyHexadecimalForms) {
    const NativeColor white = rgb(0xffffff);
    const struct {
        const char* text;
        const char* fallback;
        NativeColor expected;
    } cases[] = {
        {"#f80", "#000000", rgb(0xff8800)},
        {"#FF8800", "#000000", rgb(0xff8800)},
        {"  #AbCdEf\n", "#000000", rgb(0xabcdef)},
        {"123456", "#000000", rgb(0x123456)},
        {"", "#000000", rgb(0x000000)},     // empty: the default
        {"", "#f80", rgb(0xff8800)},        // the default goes through the same parsing
        {" ", "#000000", white},            // only an empty text takes the default
        {"red", "#000000", white},
        {"transparent", "#000000", white},
        {"rgb(255,0,0)", "#000000", white},
        {"#ff000080", "#000000", white},    // 8 digits
        {"#ff00", "#000000", white},
        {"#gg0000", "#000000", white},
        {"+12345", "#000000", white},       // a sign is not a digit
        {"-12345", "#000000", white},
        {"##f80", "#000000", white},        // only one "#" is dropped
        {"#", "#000000", white},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" default " + c.fallback);
        EXPECT_EQ(cgColor(c.text, c.fallback), c.expected);
    }
    EXPECT_EQ(cgColor("#f80", "#000", 0.5).alpha, 0.5);
}

TEST(NativeColor, BlackGlowGlowsWhite) {
    const struct {
        const char* glow;
        NativeColor expected;
    } cases[] = {
        {"#000000", rgb(0xffffff)}, {"#000", rgb(0xffffff)},     {" Black\n", rgb(0xffffff)},
        {"", rgb(0xffffff)},        {"#ff0000", rgb(0xff0000)}, {"#010101", rgb(0x010101)},
        {"purple", rgb(0xffffff)},  {" #00F ", rgb(0x0000ff)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.glow);
        NativeTextSequence block;
        block.glowColor = c.glow;
        EXPECT_EQ(effectiveNativeGlowColor(block), c.expected);
    }
}

}  // namespace
}  // namespace tessivo
