#include "platform/files.h"
#include "platform/paths.h"
#include "platform/subprocess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace tessivo {
namespace {

using namespace std::string_literals;

// True when `pid` names no live process: none at all, or a zombie waiting for
// its new parent (the machine's first process) to reap it.
bool isAlive(pid_t pid) {
    if (::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

// True once `pid` names no live process (waits up to five seconds).
bool gone(pid_t pid) {
    for (int i = 0; i < 100; ++i) {
        if (!isAlive(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::unique_ptr<Subprocess> start(const std::string& shell, bool ownGroup = true) {
    auto launched = Subprocess::launch({"/bin/sh", "-c", shell}, {{"TESSIVO_TEST_VALUE", "v"}},
                                       {.capture = true, .ownProcessGroup = ownGroup});
    EXPECT_TRUE(launched.ok()) << (launched.ok() ? "" : launched.error().message);
    return launched.ok() ? std::move(launched).value() : nullptr;
}

TEST(Subprocess, OutputStatusAndEnvironment) {
    struct Case {
        const char* shell;
        std::string out, err;
        int status;
        bool signaled;
    };
    const Case cases[] = {
        {"printf 'a\\0b'; printf err >&2; exit 3", "a\0b"s, "err", 3, false},
        {"printf '%s' \"$TESSIVO_TEST_VALUE\"", "v", "", 0, false},
        // More than a pipe holds, on both streams: read while the child runs.
        {"head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2", std::string(300000, '\0'),
         std::string(200000, '\0'), 0, false},
        {"kill -9 $$", "", "", SIGKILL, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shell);
        auto process = start(c.shell);
        ASSERT_TRUE(process);
        auto output = process->communicate();
        EXPECT_EQ(output.standardOutput, c.out);
        EXPECT_EQ(output.standardError, c.err);
        EXPECT_EQ(output.status, c.status);
        EXPECT_EQ(output.signaled, c.signaled);
        EXPECT_FALSE(output.pipesHeldOpen);
        EXPECT_FALSE(process->isRunning());
    }
}

TEST(Subprocess, ExitIsNotWaitingForAHelperHoldingThePipes) {
    // The helper keeps standard output open for a minute after the child exits.
    auto process = start("sleep 60 & echo $!; echo done");
    ASSERT_TRUE(process);
    auto output = process->communicate(0.2);
    EXPECT_TRUE(output.pipesHeldOpen);
    EXPECT_EQ(output.status, 0);
    ASSERT_EQ(output.standardOutput.substr(output.standardOutput.size() - 5), "done\n");
    pid_t helper = std::stoi(output.standardOutput);
    EXPECT_TRUE(isAlive(helper));
    // The group outlives its leader, and ends with it.
    process->signalGroup(SIGKILL);
    EXPECT_TRUE(gone(helper));
}

TEST(Subprocess, GroupSignalReachesWhatTheChildStarted) {
    struct Case {
        bool ownGroup;
        bool helperEnds;
    };
    for (const Case c : {Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(c.ownGroup ? "own group" : "shared group");
        auto process = start("sleep 60 >/dev/null 2>&1 & echo $!; wait", c.ownGroup);
        ASSERT_TRUE(process);
        std::thread signaller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            process->signalGroup(SIGTERM);
        });
        auto output = process->communicate();
        signaller.join();
        EXPECT_TRUE(output.signaled);
        pid_t helper = std::stoi(output.standardOutput);
        if (c.helperEnds) {
            EXPECT_TRUE(gone(helper));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_TRUE(isAlive(helper));
        }
        ::kill(helper, SIGKILL);
    }
}

TEST(Files, PrivateFileIsTheUsersAloneFromTheStart) {
    auto folder = temporaryDirectory() / ("tessivo-private-" + makeUUID());
    std::filesystem::create_directories(folder);
    mode_t previous = ::umask(0);  // a umask that would let everybody read
    Error error;
    bool written = writePrivateFile(folder / "a", "secret\0text"s, &error);
    ::umask(previous);
    ASSERT_TRUE(written) << error.message;
    struct stat info {};
    ASSERT_EQ(::stat((folder / "a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(folder / "a"), "secret\0text"s);

    // Never through a name that is already there, a link included.
    std::filesystem::create_symlink(folder / "target", folder / "link");
    EXPECT_FALSE(writePrivateFile(folder / "a", "other", &error));
    EXPECT_FALSE(writePrivateFile(folder / "link", "other", &error));
    EXPECT_FALSE(std::filesystem::exists(folder / "target"));
    EXPECT_EQ(readFile(folder / "a"), "secret\0text"s);
    std::filesystem::remove_all(folder);
}

TEST(Files, UTF8Validity) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"\0"s, true},
        {"a\0b\0"s, true},
        {"Réglé ✓\0fin"s, true},
        {"\xff", false},
        {"ok\0\xc3("s, false},
        {"\xe2\x28\xa1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isValidUTF8(c.text), c.valid) << c.text.size();
}

}  // namespace
}  // namespace tessivo
