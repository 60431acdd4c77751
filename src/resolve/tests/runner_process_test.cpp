// The runner's child processes: how arguments reach a script, what its output
// may hold, what it leaves behind, and how runs end.
#include "resolve/tests/runner_fixture.h"

#include <gtest/gtest.h>

#include <future>
#include <random>

namespace tessivo {
namespace {

// Prints what the script received: each argument as the hex of its bytes.
const char* kEchoArguments = R"(
import json, os, sys
print('__ORVEL_JSON__' + json.dumps({"args": [os.fsencode(a).hex() for a in sys.argv[1:]],
                                     "self": os.path.basename(sys.argv[0])[:21]}))
)";

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

TEST_F(RunnerTest, ArgumentsReachTheScriptByteForByte) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"none", {}, {}},
        {"one empty argument", {""}, {""}},
        {"empty ones between others", {"a", "", "", "b"}, {"a", "", "", "b"}},
        {"French text, line breaks, spaces", {"Réglé ✓ « ok »", "ligne 1\nligne 2\r\n", "  "},
         {"Réglé ✓ « ok »", "ligne 1\nligne 2\r\n", "  "}},
        {"bytes that are not UTF-8", {"\xff\xfe", "caf\xe9"}, {"\xff\xfe", "caf\xe9"}},
        // As on a command line, an argument ends at its first NUL byte; it
        // does not turn into two.
        {"a NUL byte", {"avant\0après"s, "next"}, {"avant", "next"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = run(kEchoArguments, 30, c.arguments);
        ASSERT_TRUE(result.ok()) << result.error().message;
        std::vector<std::string> expected;
        for (const auto& e : c.expected) expected.push_back(hex(e));
        EXPECT_EQ(result.value()["args"], Json(expected));
        EXPECT_EQ(result.value()["self"], "orvel_resolve_bridge_");
    }
}

TEST_F(RunnerTest, FiftyMegabyteArgumentRoundTrip) {
    // A delivery request with a long clip list: far above the 128 KiB a single
    // command-line argument may have.
    std::string request = R"({"clips": [)";
    std::mt19937 random(7);
    while (request.size() < 50u * 1024 * 1024) {
        request += R"({"path": "/home/monteur/Vidéos/Tessivo/DaVinci/segment_)" + std::to_string(random()) +
                   R"(.mov", "start": 12.5},)";
    }
    request += R"({"last": true}]})";
    auto result = run(R"(
import json, sys
request = json.loads(sys.argv[1])
print('__ORVEL_JSON__' + json.dumps({"echo": sys.argv[1], "clips": len(request["clips"])}, ensure_ascii=False))
)", 120, {request, "second"});
    ASSERT_TRUE(result.ok()) << result.error().message.substr(0, 300);
    EXPECT_TRUE(result.value()["echo"] == request) << "the argument came back changed";
    EXPECT_GT(result.value()["clips"].get<int>(), 100000);
}

TEST_F(RunnerTest, ArgumentsAreNotOnTheCommandLine) {
    // Other local users can read /proc/PID/cmdline.
    auto result = run(R"(
import json, sys
with open('/proc/self/cmdline', 'rb') as f:
    cmdline = f.read()
print('__ORVEL_JSON__' + json.dumps({"visible": b'secret caption' in cmdline, "got": sys.argv[1]}))
)", 30, {"secret caption"});
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(result.value()["got"], "secret caption");
    EXPECT_EQ(result.value()["visible"], false);
}

TEST_F(RunnerTest, NulBytesInTheOutput) {
    struct Case {
        const char* name;
        const char* script;
        bool ok;
        const char* json;
        const char* messagePrefix;
    };
    const Case cases[] = {
        {"before the marker", R"(import sys; sys.stdout.write('noise\0noise\n__ORVEL_JSON__{"a": 1}\n'))", true,
         R"({"a":1})", ""},
        {"after the result", R"(import sys; sys.stdout.write('__ORVEL_JSON__{"a": 2}\0\n'))", true, R"({"a":2})", ""},
        // Raw inside the JSON text it is valid UTF-8 but not valid JSON.
        {"inside the result", R"(import sys; sys.stdout.write('__ORVEL_JSON__{"a": "\0"}\n'))", false, nullptr,
         "Réponse DaVinci illisible : "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = run(c.script);
        ASSERT_EQ(result.ok(), c.ok) << (result.ok() ? result.value().dump() : result.error().message);
        if (c.ok) {
            EXPECT_EQ(result.value(), Json::parse(c.json));
        } else {
            EXPECT_EQ(result.error().domain, "OrvelResolveBridge");
            EXPECT_EQ(result.error().message.rfind(c.messagePrefix, 0), 0u) << result.error().message;
        }
    }
    auto failure = run(R"(import sys; sys.stderr.write('x\0y'); sys.exit(3))");
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(failure.error().message, std::string("x\0y", 3));
    EXPECT_EQ(failure.error().code, 3);
}

TEST_F(RunnerTest, HelperHoldingTheOutputDoesNotHoldTheRun) {
    // The helper inherits the script's standard output and outlives it.
    auto result = run(R"(
import json, subprocess
helper = subprocess.Popen(['sleep', '30'])
print('__ORVEL_JSON__' + json.dumps({"helper": helper.pid}), flush=True)
)", 5);
    ASSERT_TRUE(result.ok()) << result.error().message;
    pid_t helper = result.value()["helper"].get<int>();
    // The queue is free for the next run while the helper still lives.
    EXPECT_TRUE(isAlive(helper));
    auto next = run("print('__ORVEL_JSON__{\"next\": true}')", 5);
    EXPECT_TRUE(next.ok());
    ::kill(helper, SIGKILL);
}

TEST_F(RunnerTest, TimeLimitEndsWhatTheScriptStarted) {
    auto pidFile = temporaryDirectory() / ("tessivo_runner_pids_" + makeUUID());
    auto result = run(R"(
import os, subprocess, time
helper = subprocess.Popen(['sleep', '60'], stdout=subprocess.DEVNULL)
open()" + Json(pidFile.string()).dump() + R"(, 'w').write('%d %d' % (os.getpid(), helper.pid))
time.sleep(60)
)", 1);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, 408);
    auto pids = readFile(pidFile);
    removeFileQuietly(pidFile);
    ASSERT_TRUE(pids);
    pid_t child = 0, helper = 0;
    ASSERT_EQ(std::sscanf(pids->c_str(), "%d %d", &child, &helper), 2);
    EXPECT_TRUE(processGone(child));
    EXPECT_TRUE(processGone(helper)) << "a process the script started outlived its time limit";
}

TEST_F(RunnerTest, ShutdownEndsTheRunningChildAndStartsNoOther) {
    auto pidFile = temporaryDirectory() / ("tessivo_runner_pid_" + makeUUID());
    PythonRunner runner(resolveQueue, exportQueue, runnerSetup);
    std::promise<Result<Json>> hanging, queued;
    runner.runResolvePython("import os, time\nopen(" + Json(pidFile.string()).dump() +
                                ", 'w').write(str(os.getpid()))\ntime.sleep(120)",
                            {}, 120, [&](Result<Json> r) { hanging.set_value(std::move(r)); });
    runner.runResolvePython("print('__ORVEL_JSON__{}')", {}, 120,
                            [&](Result<Json> r) { queued.set_value(std::move(r)); });
    std::optional<std::string> pid;
    for (int i = 0; i < 400 && !(pid = readFile(pidFile)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    removeFileQuietly(pidFile);
    ASSERT_TRUE(pid && !pid->empty());

    runner.shutdown();
    auto first = hanging.get_future();
    ASSERT_EQ(first.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the run outlived the shutdown";
    auto ended = first.get();
    ASSERT_FALSE(ended.ok());
    EXPECT_EQ(ended.error().domain, kDomainPlatform);
    EXPECT_TRUE(processGone(std::stoi(*pid)));
    auto second = queued.get_future();
    ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto refused = second.get();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, ended.error().message);
    EXPECT_EQ(runner.runningCount(), 0);
}

}  // namespace
}  // namespace tessivo
