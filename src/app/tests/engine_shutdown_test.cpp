// Closing the program while a Resolve script hangs.
#include "app/engine.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace tessivo {
namespace {

namespace fs = std::filesystem;

bool isAlive(pid_t pid) {
    if (::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';  // a zombie is dead
}

TEST(EngineShutdown, HangingScriptEndsWithTheEngine) {
    for (bool shutdownFirst : {true, false}) {
        SCOPED_TRACE(shutdownFirst ? "shutdown, then destruction" : "destruction alone");
        // A Resolve whose module hangs on import, with a helper beside it.
        fs::path folder = temporaryDirectory() / ("tessivo-shutdown-" + makeUUID());
        fs::create_directories(folder / "Scripting/Modules");
        fs::path pids = folder / "pids";
        writeFileAtomically(folder / "Scripting/Modules/DaVinciResolveScript.py",
                            "import os, subprocess, time\n"
                            "helper = subprocess.Popen(['sleep', '600'])\n"
                            "open(" + Json(pids.string()).dump() + ", 'w').write('%d %d' % (os.getpid(), helper.pid))\n"
                            "time.sleep(600)\n");
        ExportEngine::Options options;
        options.configuration = Configuration::fromVariables({});
        options.configuration.settingsFile = folder / "settings.ini";
        options.configuration.resolveLocation = folder / "Scripting";
        auto engine = ExportEngine::create(options);
        engine->handleWebMessage(Json::parse(R"({"type": "importResolveSubtitles", "payload": {}})"));
        engine->handleWebMessage(Json::parse(R"({"type": "importResolveSubtitles", "payload": {}})"));

        std::optional<std::string> text;
        for (int i = 0; i < 400 && !(text = readFile(pids)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(text) << "the script did not start";
        pid_t child = 0, helper = 0;
        ASSERT_EQ(std::sscanf(text->c_str(), "%d %d", &child, &helper), 2);

        // Should the engine wait for the script's limit, end the script after
        // a while so that the test fails instead of hanging.
        std::atomic<bool> destroyed{false};
        std::thread watchdog([&] {
            for (int i = 0; i < 200 && !destroyed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!destroyed) ::kill(-child, SIGKILL);
        });
        auto started = std::chrono::steady_clock::now();
        if (shutdownFirst) engine->shutdown();
        engine.reset();
        auto took = std::chrono::steady_clock::now() - started;
        destroyed = true;
        watchdog.join();

        EXPECT_LT(took, std::chrono::seconds(10)) << "the engine waited for the hanging script";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(isAlive(child));
        EXPECT_FALSE(isAlive(helper));
        ::kill(helper, SIGKILL);
        fs::remove_all(folder);
    }
}

}  // namespace
}  // namespace tessivo
