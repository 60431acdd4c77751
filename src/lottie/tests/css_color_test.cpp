#include "lottie/css_color.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

TEST(CssColor, KeepsOnlyKnownForms) {
    struct Case {
        Json value;
        const char* expected;
    };
    const Case cases[] = {
        {"#0f0", "#0f0"},
        {"  #ABCDEF\n", "#ABCDEF"},
        {"\xC2\xA0#123456\t", "#123456"},  // no-break space
        {"rgb(10, 20, 30)", "rgb(10, 20, 30)"},
        {"hsl(120, 50%, 50%)", "hsl(120, 50%, 50%)"},
        {"transparent", "transparent"},
        {"red", "#default"},
        {"Transparent", "#default"},
        {"RGB(1,2,3)", "#default"},
        {"", "#default"},
        {5, "#default"},
        {nullptr, "#default"},
        {Json::array({"#fff"}), "#default"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.dump());
        EXPECT_EQ(cssColor(&c.value, "#default"), c.expected);
    }
    EXPECT_EQ(cssColor(nullptr, "#000000"), "#000000");
}

TEST(ColorComponents, ParseHexadecimalColoursOnly) {
    struct Case {
        const char* color;
        std::array<std::string, 3> fusion;
        std::array<double, 3> lottie;
    };
    const std::array<std::string, 3> white{"1", "1", "1"};
    const Case cases[] = {
        {"#0f0", {"0.000000", "1.000000", "0.000000"}, {0, 1, 0}},
        {"#FF8000", {"1.000000", "0.501961", "0.000000"}, {1, 0.501961, 0}},
        {"#aBc", {"0.666667", "0.733333", "0.800000"}, {0.666667, 0.733333, 0.8}},
        {" #000000 ", {"0.000000", "0.000000", "0.000000"}, {0, 0, 0}},
        {"#12345", white, {1, 1, 1}},      // five digits
        {"#-12345", white, {1, 1, 1}},     // a sign is not a digit
        {"#+ab", white, {1, 1, 1}},
        {"#ggg", white, {1, 1, 1}},
        {"rgb(255, 0, 0)", white, {1, 1, 1}},
        {"hsl(0, 100%, 50%)", white, {1, 1, 1}},
        {"transparent", white, {1, 1, 1}},
        {"ff0000", white, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.color);
        EXPECT_EQ(fusionColorComponents(c.color), c.fusion);
        auto lottie = lottieColorComponents(c.color);
        for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(lottie[i], c.lottie[i]);
    }
}

}  // namespace
}  // namespace tessivo
