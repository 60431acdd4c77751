#include "fusion/fusion_setting.h"

#include "delivery/tests/process_output.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

namespace tessivo {
namespace {

using testing::runProcess;
using testing::ScratchFolder;
using testing::shellQuoted;

TEST(FusionFloat, ShortestFormWithAFraction) {
    const std::pair<double, const char*> cases[] = {
        {0.08, "0.08"}, {0.5, "0.5"}, {1.0, "1.0"}, {0.0, "0.0"}, {-0.0, "0.0"},
        {0.025, "0.025"}, {0.42, "0.42"}, {0.1 + 0.2, "0.30000000000000004"},
        {1.0 - 0.7, "0.30000000000000004"}, {0.00001, "1e-05"}, {12345.0, "12345.0"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(fusionFloat(value), text) << value;
}

TEST(FusionQuoted, EscapesInOrder) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"\\\"", "\"\\\\\\\"\""},  // backslash first, so the quote's backslash is not doubled
        {"two\nlines", "\"two\\nlines\""},
        {"crlf\r\nend", "\"crlf\\nend\""},
        {"\r", "\"\""},
        {"été ✓", "\"été ✓\""},
    };
    for (const auto& [text, quoted] : cases) EXPECT_EQ(fusionQuoted(text), quoted) << text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) result.push_back(line);
    return result;
}

TEST(FusionSettingDocument, ExactLinesWithoutOutline) {
    Json sequence = {{"text", "Hello"}, {"font", "Anton"}, {"size", 8}, {"x", 50}, {"y", 25}, {"color", "#ff0000"}};
    const std::string expected =
        "Composition {\n"
        "    CurrentTime = 0,\n"
        "    RenderRange = { 0, 59 },\n"
        "    GlobalRange = { 0, 59 },\n"
        "    CurrentID = 3,\n"
        "    HiQ = true,\n"
        "    PlaybackUpdateMode = 0,\n"
        "    StereoMode = false,\n"
        "    SavedOutputs = 0,\n"
        "    HeldTools = 0,\n"
        "    DisabledTools = 0,\n"
        "    LockedTools = 0,\n"
        "    AudioOffset = 0,\n"
        "    Resumable = true,\n"
        "    OutputClips = {\n"
        "    },\n"
        "    CustomData = { TEMPLATE_ID = \"Text+\" },\n"
        "    Tools = {\n"
        "        Template = TextPlus {\n"
        "            CtrlWZoom = false,\n"
        "            Inputs = {\n"
        "                GlobalOut = Input { Value = 59, },\n"
        "                Width = Input { Value = 1920, },\n"
        "                Height = Input { Value = 1080, },\n"
        "                UseFrameFormatSettings = Input { Value = 1, },\n"
        "                StyledText = Input { Value = \"Hello\", },\n"
        "                Font = Input { Value = \"Anton\", },\n"
        "                Style = Input { Value = \"Regular\", },\n"
        "                Size = Input { Value = 0.08, },\n"
        "                Center = Input { Value = { 0.5, 0.75 }, },\n"
        "                Red1 = Input { Value = 1.000000, },\n"
        "                Green1 = Input { Value = 0.000000, },\n"
        "                Blue1 = Input { Value = 0.000000, },\n"
        "                Alpha1 = Input { Value = 1, },\n"
        "\n"
        "            },\n"
        "            ViewInfo = OperatorInfo { Pos = { 220, 30 } },\n"
        "        },\n"
        "        MediaOut1 = Saver {\n"
        "            Inputs = {\n"
        "                Index = Input { Value = \"0\", },\n"
        "                Input = Input {\n"
        "                    SourceOp = \"Template\",\n"
        "                    Source = \"Output\",\n"
        "                },\n"
        "            },\n"
        "            ViewInfo = OperatorInfo { Pos = { 460, 30 } },\n"
        "        },\n"
        "    },\n"
        "    Frames = {\n"
        "    },\n"
        "}";
    std::string document = makeResolveFusionSettingDocument(sequence, 1920, 1080, 60);
    EXPECT_EQ(document, expected);
    EXPECT_EQ(lines(document).size(), 52u);
}

TEST(FusionSettingDocument, OutlineLinesReplaceTheEmptyLine) {
    Json sequence = {{"hasOutline", true}, {"outlineWidth", 2}, {"outlineColor", "#0000ff"}};
    auto document = lines(makeResolveFusionSettingDocument(sequence, 1280, 720, 30));
    ASSERT_EQ(document.size(), 57u);
    const std::vector<std::string> outline(document.begin() + 34, document.begin() + 40);
    EXPECT_EQ(outline, (std::vector<std::string>{
                           "                    Enabled2 = Input { Value = 1, },",
                           "                    Red2 = Input { Value = 0.000000, },",
                           "                    Green2 = Input { Value = 0.000000, },",
                           "                    Blue2 = Input { Value = 1.000000, },",
                           "                    Alpha2 = Input { Value = 1, },",
                           "                    Thickness2 = Input { Value = 0.025, },",
                       }));
    EXPECT_EQ(document[33], "                Alpha1 = Input { Value = 1, },");
    EXPECT_EQ(document[40], "            },");
    EXPECT_EQ(document[26], "                Font = Input { Value = \"Bebas Neue\", },");
}

// The values a Lua reader sees in a document: runs read_setting.lua.
std::map<std::string, std::string> readWithLua(const std::string& document, const std::filesystem::path& folder) {
    const char* lua = std::getenv("TESSIVO_LUA");
    const char* harness = std::getenv("TESSIVO_FUSION_HARNESS");
    std::string luaProgram = lua && *lua ? lua : "lua5.4";
    std::string harnessPath = harness ? harness : TESSIVO_SOURCE_DIR "/src/fusion/tests/read_setting.lua";
    auto path = folder / ("doc-" + makeUUID() + ".setting");
    EXPECT_TRUE(writeFileAtomically(path, document));
    auto result = runProcess(shellQuoted(luaProgram) + " " + shellQuoted(harnessPath) + " " + shellQuoted(path.string()));
    EXPECT_EQ(result.exitStatus, 0) << result.output << "\n" << document;
    std::map<std::string, std::string> values;
    for (const auto& line : lines(result.output)) {
        auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

double number(const std::map<std::string, std::string>& values, const std::string& key) {
    auto it = values.find(key);
    if (it == values.end()) {
        ADD_FAILURE() << "missing " << key;
        return std::nan("");
    }
    return std::strtod(it->second.c_str(), nullptr);
}

TEST(FusionSettingDocument, LuaReadsTheIntendedValues) {
    struct Case {
        const char* name;
        Json sequence;
        std::int64_t frames;
        std::string styledText;  // as the harness prints it
        std::string font;
        double size, centerX, centerY;
        std::array<double, 3> fill;
        bool outline;
        std::array<double, 3> stroke;
        double thickness;
        std::int64_t range;
    };
    const Case cases[] = {
        {"defaults", Json::object(), 60, "", "Bebas Neue", 0.08, 0.5, 0.5, {1, 1, 1}, false, {}, 0, 59},
        {"escapes", {{"text", "a \"b\" \\c\r\nd"}, {"font", "My \"Font\""}}, 1,
         "a \"b\" \\\\c\\nd", "My \"Font\"", 0.08, 0.5, 0.5, {1, 1, 1}, false, {}, 0, 1},
        {"lua-looking text", {{"text", "\"]] os.exit(1) --[["}}, 2, "\"]] os.exit(1) --[[", "Bebas Neue",
         0.08, 0.5, 0.5, {1, 1, 1}, false, {}, 0, 1},
        {"small and top", {{"size", 1}, {"y", 0}, {"x", -5}, {"color", "#0f0"}}, 3, "", "Bebas Neue",
         0.02, 0.0, 1.0, {0, 1, 0}, false, {}, 0, 2},
        {"large and bottom", {{"size", 60}, {"y", 100}, {"x", 150}, {"color", "rgb(1,2,3)"}}, 10, "", "Bebas Neue",
         0.42, 1.0, 0.0, {1, 1, 1}, false, {}, 0, 9},
        {"odd position", {{"x", 33.3}, {"y", 70}, {"size", "12.5"}}, 24, "", "Bebas Neue",
         0.125, 0.333, 1 - 0.7, {1, 1, 1}, false, {}, 0, 23},
        {"outline", {{"hasOutline", true}, {"outlineWidth", 2}, {"outlineColor", "#FF8000"}}, 30, "", "Bebas Neue",
         0.08, 0.5, 0.5, {1, 1, 1}, true, {1, 128 / 255.0, 0}, 0.025, 29},
        {"thick outline", {{"hasOutline", "true"}, {"outlineWidth", 20}}, 30, "", "Bebas Neue",
         0.08, 0.5, 0.5, {1, 1, 1}, true, {0, 0, 0}, 0.08, 29},
        {"negative outline", {{"hasOutline", 1}, {"outlineWidth", -3}, {"outlineColor", "blue"}}, 30, "", "Bebas Neue",
         0.08, 0.5, 0.5, {1, 1, 1}, true, {0, 0, 0}, 0.0, 29},
        {"hairline outline", {{"hasOutline", true}, {"outlineWidth", 0.0001}}, 30, "", "Bebas Neue",
         0.08, 0.5, 0.5, {1, 1, 1}, true, {0, 0, 0}, 0.0001 / 80, 29},
        {"not-a-number inputs", {{"size", "nan"}, {"x", "nan"}, {"y", "inf"}, {"hasOutline", true}, {"outlineWidth", "nan"}},
         30, "", "Bebas Neue", 0.08, 0.5, 0.5, {1, 1, 1}, true, {0, 0, 0}, 0.0, 29},
    };
    ScratchFolder scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto values = readWithLua(makeResolveFusionSettingDocument(c.sequence, 1920, 1080, c.frames), scratch.path());
        EXPECT_EQ(values["StyledText"], c.styledText);
        EXPECT_EQ(values["Font"], c.font);
        EXPECT_EQ(values["Style"], "Regular");
        EXPECT_EQ(values["TemplateId"], "Text+");
        EXPECT_EQ(values["SaverSource"], "Template.Output");
        EXPECT_EQ(values["Width"], "1920");
        EXPECT_EQ(values["Height"], "1080");
        EXPECT_EQ(values["GlobalOut"], std::to_string(c.range));
        EXPECT_EQ(values["RenderRange"], std::to_string(c.range));
        EXPECT_EQ(values["GlobalRange"], std::to_string(c.range));
        EXPECT_DOUBLE_EQ(number(values, "Size"), c.size);
        EXPECT_DOUBLE_EQ(number(values, "CenterX"), c.centerX);
        EXPECT_DOUBLE_EQ(number(values, "CenterY"), c.centerY);
        const char* fillKeys[] = {"Red1", "Green1", "Blue1"};
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(number(values, fillKeys[i]), c.fill[i], 5e-7) << fillKeys[i];
        EXPECT_EQ(values.count("Enabled2"), c.outline ? 1u : 0u);
        EXPECT_EQ(values.count("Thickness2"), c.outline ? 1u : 0u);
        if (c.outline) {
            const char* strokeKeys[] = {"Red2", "Green2", "Blue2"};
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(number(values, strokeKeys[i]), c.stroke[i], 5e-7) << strokeKeys[i];
            EXPECT_DOUBLE_EQ(number(values, "Thickness2"), c.thickness);
            EXPECT_EQ(values["Alpha2"], "1");
        }
    }
}

TEST(FusionSettingDocument, HarnessRejectsForeignCode) {
    // The reader must be able to fail: a document reaching for os, or not parsing.
    ScratchFolder scratch;
    const char* lua = std::getenv("TESSIVO_LUA");
    const char* harness = std::getenv("TESSIVO_FUSION_HARNESS");
    std::string command = shellQuoted(lua && *lua ? lua : "lua5.4") + " " +
                          shellQuoted(harness ? harness : TESSIVO_SOURCE_DIR "/src/fusion/tests/read_setting.lua") + " ";
    const std::string bad[] = {
        "os.exit(0)",
        "Composition { Tools = { Template = TextPlus { Inputs = { StyledText = Input { Value = \"a\nb\" } } } } }",
        "Composition { Value = io.open('x') }",
    };
    for (const auto& text : bad) {
        auto path = scratch.path() / "bad.setting";
        ASSERT_TRUE(writeFileAtomically(path, text));
        EXPECT_NE(runProcess(command + shellQuoted(path.string())).exitStatus, 0) << text;
    }
}

}  // namespace
}  // namespace tessivo
