// Runs Python scripts against Resolve in a child process.
//
// Each run writes the script (after the media import function) and its
// arguments to private temporary files, starts the interpreter on them through
// a small wrapper, and delivers exactly one outcome: the JSON object the script
// printed after the marker "__ORVEL_JSON__", or an error. Runs are serialised
// on the Resolve operations queue, each holding it until its child exits, so
// Resolve sees one script at a time in request order. Time limits fire on the
// export queue and end the child's whole process group.
#pragma once

#include "platform/configuration.h"
#include "platform/error.h"
#include "platform/json.h"
#include "platform/queue.h"
#include "resolve/resolve_installation.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

// The script result text: the object after the last marker, braces inside
// strings not counted. nullopt when there is no marker or no complete object.
std::optional<std::string> extractOrvelJSON(std::string_view output);

// The wrapper passed to the interpreter with "-c", and the media import
// function prepended to every script.
const char* runnerWrapperScript();
const char* mediaImportFunctionScript();
// Functions delivery scripts start with: lanes for overlapping captions, named
// lane tracks, and the check of what Resolve really placed. Not prepended by
// the runner: a script that needs them begins with this text.
const char* placementFunctionsScript();

// What a runner starts its children with: the Resolve installation and the
// configuration entries that reach the scripts.
struct RunnerSetup {
    ResolveInstallation installation;
    // Multiplies every time limit (tests shorten them).
    double timeLimitScale = 1.0;
    // Appended to the child's PYTHONPATH after the modules folder.
    std::optional<std::string> inheritedPythonPath;
    // Given to the child as RESOLVE_SCRIPT_LIB instead of the installation's library.
    std::optional<std::string> inheritedScriptLib;

    static RunnerSetup fromConfiguration(const Configuration& configuration);
};

// The runner must outlive the queues' work: stop the queues (or let them run
// empty) before destroying it.
class PythonRunner {
public:
    using Completion = std::function<void(Result<Json>)>;

    PythonRunner(Queue& resolveOperationQueue, Queue& exportQueue, RunnerSetup setup);

    // Any thread. Returns at once; `completion` is called exactly once, on an
    // unspecified thread. A limit of zero or less means no limit.
    void runResolvePython(std::string script, std::vector<std::string> arguments, double timeoutSeconds,
                          Completion completion);

    // Any thread. Ends every child at once, with what it started, and starts no
    // other: the run waiting for a child returns straight away, so the Resolve
    // operations queue can be stopped without waiting for a script's limit.
    // Runs ended or refused this way deliver a platform error. For the
    // program's shutdown; there is no way back.
    void shutdown();

    // The environment entries the child gets on top of the program's own.
    std::map<std::string, std::string> childEnvironment() const;

    const ResolveInstallation& installation() const { return setup_.installation; }
    // Children alive right now (for the idle check of the headless bridge).
    int runningCount() const { return running_->load(); }

    // Grace period between the polite termination of a child past its limit
    // and a forced kill.
    static constexpr double kKillGraceSeconds = 2.0;

private:
    struct Children;
    void run(const std::string& script, const std::vector<std::string>& arguments, double timeoutSeconds,
             const Completion& completion);

    Queue& resolveQueue_;
    Queue& exportQueue_;
    RunnerSetup setup_;
    // Shared with runs in flight: a run that hit its time limit has delivered
    // its outcome and still waits for its child.
    std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
    // The process groups that may still be alive, shared with the kill timers.
    std::shared_ptr<Children> children_;
};

}  // namespace tessivo
