#include "resolve/resolve_installation.h"

#include "platform/configuration.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "resolve/python_runner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

// Fake installations in a temporary folder: "opt" has nothing, "iso" has the
// scripting module, "python" has only an executable ResolvePython, "copy" is a
// scripting folder kept outside any installation.
class InstallationTest : public ::testing::Test {
protected:
    fs::path base = temporaryDirectory() / ("tessivo-installation-" + makeUUID());

    void SetUp() override {
        fs::create_directories(base / "opt");
        fs::create_directories(base / "iso/Developer/Scripting/Modules");
        writeFileAtomically(base / "iso/Developer/Scripting/Modules/DaVinciResolveScript.py", "");
        fs::create_directories(base / "python/bin");
        writeFileAtomically(base / "python/bin/ResolvePython", "#!/bin/sh\n");
        ::chmod((base / "python/bin/ResolvePython").c_str(), 0755);
        fs::create_directories(base / "tools/sim/Scripting/Modules");
    }
    void TearDown() override { fs::remove_all(base); }
};

TEST_F(InstallationTest, FourPathsFromOneRoot) {
    struct Case {
        const char* name;
        std::optional<std::string> location;  // relative to base unless absolute
        std::vector<std::string> roots;
        std::string root, scripting;          // expected, relative to base unless absolute
    };
    const Case cases[] = {
        {"the root named", "iso", {}, "iso", "iso/Developer/Scripting"},
        {"the scripting folder named", "iso/Developer/Scripting", {}, "iso", "iso/Developer/Scripting"},
        {"with a trailing separator", "iso/Developer/Scripting/", {}, "iso", "iso/Developer/Scripting"},
        {"a root not there yet", "/home/resolve", {}, "/home/resolve", "/home/resolve/Developer/Scripting"},
        {"a scripting folder elsewhere", "tools/sim/Scripting", {}, "tools/sim", "tools/sim/Scripting"},
        {"probed: the second root holds Resolve", std::nullopt, {"opt", "iso"}, "iso", "iso/Developer/Scripting"},
        {"probed: Resolve's Python alone counts", std::nullopt, {"python", "iso"}, "python",
         "python/Developer/Scripting"},
        {"probed: nothing found, the first root", std::nullopt, {"opt", "missing"}, "opt",
         "opt/Developer/Scripting"},
    };
    auto at = [&](const std::string& p) { return p.empty() || p[0] == '/' ? fs::path(p) : base / p; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<fs::path> location;
        if (c.location) location = at(*c.location);
        std::vector<fs::path> roots;
        for (const auto& r : c.roots) roots.push_back(at(r));
        auto i = c.roots.empty() ? ResolveInstallation::locate(location) : ResolveInstallation::locate(location, roots);
        EXPECT_EQ(i.root, at(c.root));
        EXPECT_EQ(i.scriptAPI, at(c.scripting));
        EXPECT_EQ(i.modulesFolder(), at(c.scripting) / "Modules");
        EXPECT_EQ(i.scriptLib, at(c.root) / "libs/Fusion/fusionscript.so");
        EXPECT_EQ(i.resolvePython, at(c.root) / "bin/ResolvePython");
    }
}

TEST_F(InstallationTest, InterpreterIsResolvePythonWhenExecutable) {
    EXPECT_EQ(ResolveInstallation::atRoot(base / "python").interpreter(), base / "python/bin/ResolvePython");
    EXPECT_EQ(ResolveInstallation::atRoot(base / "iso").interpreter(), "/usr/bin/python3");
    ::chmod((base / "python/bin/ResolvePython").c_str(), 0644);
    EXPECT_EQ(ResolveInstallation::atRoot(base / "python").interpreter(), "/usr/bin/python3");
}

TEST(RunnerSetup, FollowsTheConfiguration) {
    auto configuration = Configuration::fromVariables({
        {"TESSIVO_RESOLVE_SCRIPT_API", "/home/resolve"},
        {"TESSIVO_TIME_LIMIT_SCALE", "0.5"},
        {"PYTHONPATH", "/x"},
        {"RESOLVE_SCRIPT_LIB", "/elsewhere/fusionscript.so"},
    });
    auto setup = RunnerSetup::fromConfiguration(configuration);
    EXPECT_EQ(setup.installation.root, "/home/resolve");
    EXPECT_EQ(setup.timeLimitScale, 0.5);
    SerialQueue a("a"), b("b");
    PythonRunner runner(a, b, setup);
    EXPECT_EQ(runner.childEnvironment(), (std::map<std::string, std::string>{
                                             {"RESOLVE_SCRIPT_API", "/home/resolve/Developer/Scripting"},
                                             {"RESOLVE_SCRIPT_LIB", "/elsewhere/fusionscript.so"},
                                             {"PYTHONPATH", "/home/resolve/Developer/Scripting/Modules:/x"},
                                             {"PYTHONIOENCODING", "utf-8"},
                                         }));
}

}  // namespace
}  // namespace tessivo
