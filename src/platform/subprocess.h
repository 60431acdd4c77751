// Child processes on GSubprocess.
#pragma once

#include "platform/error.h"
#include "platform/glib_ptr.h"

#include <gio/gio.h>

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
};

class Subprocess {
public:
    // Starts argv[0] (searched in PATH) with the program's environment plus
    // `environment` (replacing inherited values). With `capture`, standard
    // output and standard error are pipes; standard input is inherited.
    static Result<std::unique_ptr<Subprocess>> launch(const std::vector<std::string>& argv,
                                                      const std::map<std::string, std::string>& environment,
                                                      bool capture = true);

    // Blocks the calling thread: reads both pipes to their ends while the child
    // runs (so a large output cannot stall it), then waits for the exit.
    ProcessOutput communicate();

    // Any thread. No effect once the child has been reaped.
    void sendSignal(int signal);
    bool isRunning() const { return running_.load(); }

private:
    explicit Subprocess(GObjectPtr<GSubprocess> process) : process_(std::move(process)) {}
    GObjectPtr<GSubprocess> process_;
    std::atomic<bool> running_{true};
};

}  // namespace tessivo
