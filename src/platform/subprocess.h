// Child processes on GSubprocess.
#pragma once

#include "platform/error.h"
#include "platform/glib_ptr.h"

#include <gio/gio.h>
#include <sys/types.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tessivo {

struct ProcessOutput {
    std::string standardOutput;
    std::string standardError;
    // The exit status, or the signal number for a child ended by a signal.
    int status = 0;
    bool signaled = false;
    // The pipes were still open when the time allowed after the exit ran out:
    // a process the child left behind holds them.
    bool pipesHeldOpen = false;
};

struct SubprocessOptions {
    // Standard output and standard error are pipes; else they are inherited.
    bool capture = true;
    // The child leads a process group of its own, so that signalGroup() also
    // reaches the processes it starts.
    bool ownProcessGroup = false;
};

class Subprocess {
public:
    using Options = SubprocessOptions;

    // How long communicate() keeps reading after the exit by default.
    static constexpr double kDrainSeconds = 0.25;

    // Starts argv[0] (searched in PATH) with the program's environment plus
    // `environment` (replacing inherited values). Standard input is inherited.
    static Result<std::unique_ptr<Subprocess>> launch(const std::vector<std::string>& argv,
                                                      const std::map<std::string, std::string>& environment,
                                                      Options options = Options{});

    // Blocks the calling thread until the child has exited, reading both pipes
    // meanwhile (so a large output cannot stall it). After the exit the pipes
    // are read to their ends, for `drainSeconds` at most: a process the child
    // left behind (a background helper) can hold them open for ever, and its
    // life is not the child's.
    ProcessOutput communicate(double drainSeconds = kDrainSeconds);

    // Any thread. The child alone; no effect once it has been reaped.
    void sendSignal(int signal);
    // Any thread. The child's process group when it has its own (the child and
    // what it started, even after the child itself is gone); else the child.
    void signalGroup(int signal);
    bool isRunning() const { return running_.load(); }
    pid_t pid() const { return pid_; }

private:
    Subprocess(GObjectPtr<GSubprocess> process, Options options, pid_t pid)
        : process_(std::move(process)), options_(options), pid_(pid) {}
    GObjectPtr<GSubprocess> process_;
    Options options_;
    pid_t pid_ = 0;
    std::atomic<bool> running_{true};
};

}  // namespace tessivo
