#include "platform/configuration.h"

#include "platform/paths.h"
#include "platform/settings.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

TEST(Configuration, FromVariables) {
    using Variables = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        Variables variables;
        std::filesystem::path settingsFile, resourcesFolder;  // empty: the defaults
        double scale;
        std::optional<std::filesystem::path> resolve;
        std::optional<std::string> pythonPath, scriptLib;
    };
    const Case cases[] = {
        {"nothing set", {}, {}, {}, 1.0, std::nullopt, std::nullopt, std::nullopt},
        {"everything set",
         {{"TESSIVO_SETTINGS_FILE", "/s/settings.ini"}, {"TESSIVO_RESOURCES", "/r"},
          {"TESSIVO_TIME_LIMIT_SCALE", "0.02"}, {"TESSIVO_RESOLVE_SCRIPT_API", "/home/resolve"},
          {"PYTHONPATH", "/x:/y"}, {"RESOLVE_SCRIPT_LIB", "/l/fusionscript.so"}},
         "/s/settings.ini", "/r", 0.02, "/home/resolve", "/x:/y", "/l/fusionscript.so"},
        // Empty values count as unset, except PYTHONPATH, which is handed on as it is.
        {"empty values",
         {{"TESSIVO_SETTINGS_FILE", ""}, {"TESSIVO_RESOURCES", ""}, {"TESSIVO_TIME_LIMIT_SCALE", ""},
          {"TESSIVO_RESOLVE_SCRIPT_API", ""}, {"PYTHONPATH", ""}, {"RESOLVE_SCRIPT_LIB", ""}},
         {}, {}, 1.0, std::nullopt, "", std::nullopt},
        {"scale not a positive number: zero", {{"TESSIVO_TIME_LIMIT_SCALE", "0"}}, {}, {}, 1.0, {}, {}, {}},
        {"scale not a positive number: negative", {{"TESSIVO_TIME_LIMIT_SCALE", "-2"}}, {}, {}, 1.0, {}, {}, {}},
        {"scale not a positive number: text", {{"TESSIVO_TIME_LIMIT_SCALE", "fast"}}, {}, {}, 1.0, {}, {}, {}},
        {"scale not a positive number: trailing text", {{"TESSIVO_TIME_LIMIT_SCALE", "0.5x"}}, {}, {}, 1.0, {}, {}, {}},
        {"scale not a positive number: infinite", {{"TESSIVO_TIME_LIMIT_SCALE", "inf"}}, {}, {}, 1.0, {}, {}, {}},
        {"scale in exponent form", {{"TESSIVO_TIME_LIMIT_SCALE", "1e-2"}}, {}, {}, 0.01, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto configuration = Configuration::fromVariables(c.variables);
        EXPECT_EQ(configuration.settingsFile, c.settingsFile.empty() ? Settings::defaultPath() : c.settingsFile);
        EXPECT_EQ(configuration.resourcesFolder,
                  c.resourcesFolder.empty() ? defaultResourcesDirectory() : c.resourcesFolder);
        EXPECT_DOUBLE_EQ(configuration.timeLimitScale, c.scale);
        EXPECT_EQ(configuration.resolveLocation, c.resolve);
        EXPECT_EQ(configuration.inheritedPythonPath, c.pythonPath);
        EXPECT_EQ(configuration.inheritedScriptLib, c.scriptLib);
    }
}

}  // namespace
}  // namespace tessivo
