#include "resolve/python_runner.h"
#include "resolve/tests/runner_fixture.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

namespace tessivo {
namespace {

TEST(ExtractOrvelJSON, Cases) {
    struct Case { const char* output; const char* expected; };  // nullptr: not found
    const Case cases[] = {
        {R"(__ORVEL_JSON__{"a":1})", R"({"a":1})"},
        {"noise\n__ORVEL_JSON__  {\"a\":{\"b\":2}} trailing", R"({"a":{"b":2}})"},
        {R"(__ORVEL_JSON__{"s":"}"})", R"({"s":"}"})"},
        {R"(__ORVEL_JSON__{"s":"\"}","t":1})", R"({"s":"\"}","t":1})"},
        {R"(__ORVEL_JSON__{"s":"\\"})", R"({"s":"\\"})"},
        {"__ORVEL_JSON__{\"n\":1}\n__ORVEL_JSON__{\"n\":2}\n", R"({"n":2})"},
        {"__ORVEL_JSON__[1,2]", nullptr},
        {"__ORVEL_JSON__[{\"a\":1}]", R"({"a":1})"},
        {"__ORVEL_JSON__{\"a\":1", nullptr},
        {"{\"a\":1}", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        auto got = extractOrvelJSON(c.output);
        if (c.expected) {
            ASSERT_TRUE(got) << c.output;
            EXPECT_EQ(*got, c.expected) << c.output;
        } else {
            EXPECT_FALSE(got) << c.output;
        }
    }
}

TEST_F(RunnerTest, ResultsAndBridgeErrors) {
    struct Case {
        const char* name;
        const char* script;
        bool ok;
        const char* json;     // expected result when ok
        std::int64_t code;    // expected error code otherwise
        const char* message;  // expected error text (prefix match when it ends with '*')
    };
    const Case cases[] = {
        {"plain", R"(print('__ORVEL_JSON__{"success": true, "n": 1}'))", true, R"({"success":true,"n":1})", 0, ""},
        {"braces in strings", R"(import json; print('__ORVEL_JSON__' + json.dumps({"t": "a}\"}{"})))", true,
         R"({"t":"a}\"}{"})", 0, ""},
        {"two markers", "print('__ORVEL_JSON__{\"p\": 1}')\nprint('__ORVEL_JSON__{\"p\": 2}')", true, R"({"p":2})",
         0, ""},
        {"non-ascii kept", R"(print('__ORVEL_JSON__{"m": "Réglé ✓"}'))", true, R"({"m":"Réglé ✓"})", 0, ""},
        {"exit status ignored with a result", "import sys\nprint('__ORVEL_JSON__{\"a\": 1}')\nsys.exit(3)", true,
         R"({"a":1})", 0, ""},
        {"array", R"(print('__ORVEL_JSON__[{"a": 1}]'))", true, R"({"a":1})", 0, ""},
        {"no marker, stderr", "import sys\nsys.stderr.write('bad thing')\nsys.exit(4)", false, nullptr, 4,
         "bad thing"},
        {"no marker, stdout only", "print('just text')\nimport sys; sys.exit(5)", false, nullptr, 5, "just text\n"},
        {"nothing at all", "pass", false, nullptr, 0, "DaVinci Resolve n'a pas renvoye de reponse."},
        {"marker without brace", "print('__ORVEL_JSON__ oops')\nimport sys; sys.exit(2)", false, nullptr, 2,
         "__ORVEL_JSON__ oops\n"},
        {"text exit code", "import sys\nsys.exit('boom')", false, nullptr, 1, "boom\n"},
        {"crash before the closing brace", "import sys\nsys.stdout.write('__ORVEL_JSON__{\"a\": ')\nraise ValueError('x')",
         false, nullptr, 1, "Traceback*"},
        {"syntax error", "def (:\n", false, nullptr, 1, "Traceback*"},
        {"invalid JSON", R"(print('__ORVEL_JSON__{"a": nope}'))", false, nullptr, 2,
         "Réponse DaVinci illisible : *"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = run(c.script);
        ASSERT_EQ(result.ok(), c.ok) << (result.ok() ? result.value().dump() : result.error().message);
        if (c.ok) {
            EXPECT_EQ(result.value(), Json::parse(c.json));
            continue;
        }
        EXPECT_EQ(result.error().domain, "OrvelResolveBridge");
        EXPECT_EQ(result.error().code, c.code);
        std::string expected = c.message;
        if (!expected.empty() && expected.back() == '*') {
            expected.pop_back();
            EXPECT_EQ(result.error().message.rfind(expected, 0), 0u) << result.error().message;
        } else {
            EXPECT_EQ(result.error().message, expected);
        }
    }
}

TEST_F(RunnerTest, UnreadableAnswerQuotesBothEnds) {
    // An object-looking text that is not JSON: the message quotes its first and
    // last 180 characters.
    auto result = run("print('__ORVEL_JSON__{\"k\": ' + 'x' * 400 + '}')");
    ASSERT_FALSE(result.ok());
    const auto& m = result.error().message;
    EXPECT_EQ(result.error().code, 2);
    auto debut = m.find("\nDébut : {\"k\": x");
    auto fin = m.find("\nFin : ");
    ASSERT_NE(debut, std::string::npos) << m;
    ASSERT_NE(fin, std::string::npos) << m;
    EXPECT_EQ(m.substr(fin + std::string("\nFin : ").size()), std::string(179, 'x') + "}");
}

TEST_F(RunnerTest, AnAnswerNestedTooDeepIsABridgeError) {
    // 60,000 nested objects would exhaust the stack of whoever copies them.
    auto result = run("print('__ORVEL_JSON__' + '{\"k\": ' * 60000 + '1' + '}' * 60000)");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, 2);
    EXPECT_EQ(result.error().message.rfind("Réponse DaVinci illisible : ", 0), 0u);
    EXPECT_NE(result.error().message.find("256"), std::string::npos);
}

TEST_F(RunnerTest, ArgumentsEnvironmentAndMediaImportFunction) {
    // The configuration decides what the child gets, not the test process's
    // own environment.
    setenv("PYTHONPATH", "/from/the/process", 1);
    setenv("RESOLVE_SCRIPT_LIB", "/from/the/process/fusionscript.so", 1);
    struct Case {
        const char* name;
        std::optional<std::string> pythonPath, scriptLib;
        const char* expectedPythonPath;
        const char* expectedLib;
    };
    const Case cases[] = {
        {"installation alone", std::nullopt, std::nullopt, "/opt/tessivo-test/Developer/Scripting/Modules",
         "/opt/tessivo-test/libs/Fusion/fusionscript.so"},
        {"inherited PYTHONPATH after the modules", "/x", std::nullopt,
         "/opt/tessivo-test/Developer/Scripting/Modules:/x", "/opt/tessivo-test/libs/Fusion/fusionscript.so"},
        {"inherited library kept", std::nullopt, "/home/me/fusionscript.so",
         "/opt/tessivo-test/Developer/Scripting/Modules", "/home/me/fusionscript.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        runnerSetup.inheritedPythonPath = c.pythonPath;
        runnerSetup.inheritedScriptLib = c.scriptLib;
        auto result = run(R"(
import json, os, sys
print('__ORVEL_JSON__' + json.dumps({
    "argv": sys.argv[1:], "self": sys.argv[0].split('/')[-1][:21],
    "pythonpath": os.environ.get("PYTHONPATH"), "api": os.environ.get("RESOLVE_SCRIPT_API"),
    "lib": os.environ.get("RESOLVE_SCRIPT_LIB"), "io": os.environ.get("PYTHONIOENCODING"),
    "media": callable(globals().get("orvel_import_project_media"))}))
)", 30, {"{\"a\": 1}", "second"});
        ASSERT_TRUE(result.ok()) << result.error().message;
        const auto& v = result.value();
        EXPECT_EQ(v["argv"], Json::parse(R"(["{\"a\": 1}", "second"])"));
        EXPECT_EQ(v["self"], "orvel_resolve_bridge_");
        EXPECT_EQ(v["pythonpath"], c.expectedPythonPath);
        EXPECT_EQ(v["api"], "/opt/tessivo-test/Developer/Scripting");
        EXPECT_EQ(v["lib"], c.expectedLib);
        EXPECT_EQ(v["io"], "utf-8");
        EXPECT_EQ(v["media"], true);
    }
    unsetenv("PYTHONPATH");
    unsetenv("RESOLVE_SCRIPT_LIB");
}

TEST_F(RunnerTest, MediaImportUsesTheExportsBinAndRestoresTheCurrentFolder) {
    auto result = run(R"(
import json
class Folder:
    def __init__(self, name): self.name = name; self.subs = {}
    def GetName(self): return self.name
    def GetSubFolderList(self): return self.subs
class Pool:
    def __init__(self): self.root = Folder("Master"); self.current = self.root; self.log = []
    def GetRootFolder(self): return self.root
    def GetCurrentFolder(self): return self.current
    def SetCurrentFolder(self, f): self.current = f; self.log.append(f.name); return True
    def AddSubFolder(self, parent, name):
        f = Folder(name); parent.subs[float(len(parent.subs) + 1)] = f; return f
    def ImportMedia(self, paths): return [self.current.name + ":" + p for p in paths]
pool = Pool()
first = orvel_import_project_media(pool, ["a.mov"])
second = orvel_import_project_media(pool, ["b.mov"])
print('__ORVEL_JSON__' + json.dumps({"first": first, "second": second, "bins": len(pool.root.subs),
      "current": pool.current.name, "log": pool.log}))
)");
    ASSERT_TRUE(result.ok()) << result.error().message;
    const auto& v = result.value();
    EXPECT_EQ(v["first"], Json::parse(R"(["Tessivo Exports:a.mov"])"));
    EXPECT_EQ(v["second"], Json::parse(R"(["Tessivo Exports:b.mov"])"));
    EXPECT_EQ(v["bins"], 1);
    EXPECT_EQ(v["current"], "Master");
}

TEST_F(RunnerTest, TimeLimitEndsTheChildAndDeliversOnce) {
    auto pidFile = temporaryDirectory() / ("tessivo_runner_pid_" + makeUUID());
    std::shared_ptr<Outcome> outcome;
    auto started = std::chrono::steady_clock::now();
    auto result = run("import os, time\nopen(" + Json(pidFile.string()).dump() +
                          ", 'w').write(str(os.getpid()))\ntime.sleep(30)\nprint('__ORVEL_JSON__{}')",
                      1.9, {}, &outcome);
    auto waited = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, 408);
    EXPECT_EQ(result.error().message,
              "DaVinci n'a pas répondu après 1s. Vérifie la timeline active et l'autorisation de scripting externe.");
    EXPECT_LT(waited, std::chrono::seconds(10));

    auto pidText = readFile(pidFile);
    removeFileQuietly(pidFile);
    ASSERT_TRUE(pidText);
    pid_t pid = std::stoi(*pidText);
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = ::kill(pid, 0) != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone) << "the child outlived its time limit";
    // The exit that follows the termination must not deliver a second outcome.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard lock(outcome->mutex);
    EXPECT_EQ(outcome->results.size(), 1u);
}

TEST_F(RunnerTest, ChildIgnoringTerminationIsKilled) {
    auto result = run("import signal, time\nsignal.signal(signal.SIGTERM, signal.SIG_IGN)\ntime.sleep(30)", 0.5);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, 408);
    EXPECT_EQ(result.error().message.find("après 0s"), std::string("DaVinci n'a pas répondu ").size());
    // The queue is free again only once the child is gone: a second run completes.
    auto next = run("print('__ORVEL_JSON__{\"after\": true}')", 10);
    ASSERT_TRUE(next.ok());
}

TEST_F(RunnerTest, RunsAreSerialisedInRequestOrder) {
    PythonRunner runner(resolveQueue, exportQueue, setup());
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<double> starts, ends;
    std::vector<int> order;
    const std::string script = R"(
import json, sys, time
start = time.time(); time.sleep(0.3)
print('__ORVEL_JSON__' + json.dumps({"i": int(sys.argv[1]), "start": start, "end": time.time()})))";
    for (int i = 0; i < 3; ++i) {
        runner.runResolvePython(script, {std::to_string(i)}, 30, [&](Result<Json> r) {
            std::lock_guard lock(mutex);
            ASSERT_TRUE(r.ok());
            order.push_back(r.value()["i"].get<int>());
            starts.push_back(r.value()["start"].get<double>());
            ends.push_back(r.value()["end"].get<double>());
            cv.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    cv.wait_for(lock, std::chrono::seconds(30), [&] { return order.size() == 3; });
    ASSERT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_GE(starts[1], ends[0]);
    EXPECT_GE(starts[2], ends[1]);
}

TEST_F(RunnerTest, LaunchFailureIsPassedOn) {
    RunnerSetup broken = setup();
    broken.installation.systemPython = "/nonexistent/python3";
    PythonRunner runner(resolveQueue, exportQueue, broken);
    std::promise<Result<Json>> promise;
    runner.runResolvePython("print(1)", {}, 5, [&](Result<Json> r) { promise.set_value(std::move(r)); });
    auto result = promise.get_future().get();
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().domain, "OrvelResolveBridge");
}

}  // namespace
}  // namespace tessivo
