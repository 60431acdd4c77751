// The fixture of the runner's tests: real runs through a runner with the
// system's python3, in a temporary folder of the test process's own.
#pragma once

#include "platform/files.h"
#include "platform/paths.h"
#include "resolve/python_runner.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace tessivo {

// Each test process gets a temporary folder of its own, so that counting the
// script files left behind is not disturbed by other tests running alongside.
// Set before anything asks GLib for the temporary folder.
struct PrivateTemporaryFolder {
    std::string path;
    PrivateTemporaryFolder() {
        char pattern[] = "/tmp/tessivo-runner-test-XXXXXX";
        if (mkdtemp(pattern)) {
            path = pattern;
            setenv("TMPDIR", pattern, 1);
        }
    }
    ~PrivateTemporaryFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};
inline PrivateTemporaryFolder privateTemporaryFolder;

// True when `pid` names no live process: none at all, or a zombie waiting for
// its new parent (the machine's first process) to reap it.
inline bool isAlive(pid_t pid) {
    if (::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

// True once `pid` names no live process (waits up to five seconds).
inline bool processGone(pid_t pid) {
    for (int i = 0; i < 100; ++i) {
        if (!isAlive(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Runs scripts through a real runner with the system's python3, and counts the
// temporary script files left behind.
class RunnerTest : public ::testing::Test {
protected:
    SerialQueue resolveQueue{"tessivo.resolve.operations"};
    SerialQueue exportQueue{"kinetype.export.queue"};

    // No Resolve: the system's python3, and a scripting folder that is not there.
    static RunnerSetup setup() {
        RunnerSetup s;
        s.installation = ResolveInstallation::atRoot("/opt/tessivo-test");
        s.installation.resolvePython = "/nonexistent/ResolvePython";
        return s;
    }

    struct Outcome {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<Result<Json>> results;
    };

    // What the runs of run() start their children with.
    RunnerSetup runnerSetup = setup();

    Result<Json> run(const std::string& script, double limit = 30, std::vector<std::string> args = {},
                     std::shared_ptr<Outcome>* keep = nullptr) {
        PythonRunner runner(resolveQueue, exportQueue, runnerSetup);
        auto outcome = std::make_shared<Outcome>();
        runner.runResolvePython(script, std::move(args), limit, [outcome](Result<Json> r) {
            std::lock_guard lock(outcome->mutex);
            outcome->results.push_back(std::move(r));
            outcome->cv.notify_all();
        });
        std::unique_lock lock(outcome->mutex);
        outcome->cv.wait_for(lock, std::chrono::seconds(60), [&] { return !outcome->results.empty(); });
        if (keep) *keep = outcome;
        lock.unlock();
        // A run past its limit delivers before its child is gone: let the
        // queue finish with it before the runner goes away.
        for (int i = 0; i < 3000 && resolveQueue.pendingCount() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lock.lock();
        EXPECT_EQ(outcome->results.size(), 1u);
        if (outcome->results.empty()) return Error{"test", -1, "no outcome"};
        return outcome->results.front();
    }

    static int leftoverScripts() {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(temporaryDirectory()))
            if (entry.path().filename().string().rfind("orvel_resolve_bridge_", 0) == 0) ++count;
        return count;
    }

    void SetUp() override { before_ = leftoverScripts(); }
    void TearDown() override { EXPECT_EQ(leftoverScripts(), before_) << "a temporary script file was left behind"; }

private:
    int before_ = 0;
};

}  // namespace tessivo
