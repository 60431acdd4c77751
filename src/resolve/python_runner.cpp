#include "resolve/python_runner.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/subprocess.h"

#include <glib.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <mutex>

extern const char kRunnerWrapperScript[];
extern const char kMediaImportScript[];
extern const char kPlacementScript[];

namespace tessivo {

const char* runnerWrapperScript() { return kRunnerWrapperScript; }
const char* mediaImportFunctionScript() { return kMediaImportScript; }
const char* placementFunctionsScript() { return kPlacementScript; }

namespace {

constexpr std::string_view kMarker = "__ORVEL_JSON__";

// The first `count` characters (code points) of valid UTF-8 text.
std::string utf8Prefix(const std::string& text, long count) {
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    const char* p = begin;
    for (long i = 0; i < count && p < end; ++i) p = g_utf8_next_char(p);
    return std::string(begin, std::min(p, end));
}

std::string utf8Suffix(const std::string& text, long count) {
    long length = g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size()));
    if (length <= count) return text;
    const char* start = g_utf8_offset_to_pointer(text.c_str(), length - count);
    return std::string(start, text.c_str() + text.size());
}

Error bridgeError(std::int64_t code, std::string message) {
    return Error{kDomainBridge, code, std::move(message)};
}

Result<Json> evaluateOutput(const ProcessOutput& output) {
    std::string out = isValidUTF8(output.standardOutput) ? output.standardOutput : std::string();
    std::string err = isValidUTF8(output.standardError) ? output.standardError : std::string();

    if (auto text = extractOrvelJSON(out)) {
        if (!isValidUTF8(*text)) return bridgeError(2, "Réponse DaVinci non encodable en UTF-8.");
        std::string inner;
        try {
            auto parsed = parseJsonOrThrow(*text);
            if (parsed.is_object()) return parsed;
            inner = "La réponse DaVinci n'est pas un objet JSON.";
        } catch (const nlohmann::json::exception& e) {
            inner = e.what();
        }
        return bridgeError(2, "Réponse DaVinci illisible : " + inner + "\nDébut : " + utf8Prefix(*text, 180) +
                                  "\nFin : " + utf8Suffix(*text, 180));
    }
    std::string message = !err.empty() ? err : !out.empty() ? out : "DaVinci Resolve n'a pas renvoye de reponse.";
    return bridgeError(output.status, std::move(message));
}

// Shared by the process-end path, the time-limit timer and the launch path:
// whichever sets `finished` first delivers the outcome.
struct RunState {
    std::mutex mutex;
    bool finished = false;
    bool limitHit = false;
    std::shared_ptr<Subprocess> process;
    std::filesystem::path scriptFile;
    std::filesystem::path argumentsFile;

    // Returns true for the one caller that may deliver.
    bool claim() {
        std::lock_guard lock(mutex);
        if (finished) return false;
        finished = true;
        return true;
    }
    void removeFiles() const {
        removeFileQuietly(scriptFile);
        removeFileQuietly(argumentsFile);
    }
};

// Removes a run's temporary files when the run ends, however it ends.
struct RemoveFilesAtEnd {
    const RunState& state;
    ~RemoveFilesAtEnd() { state.removeFiles(); }
};

// The arguments file the wrapper reads: each argument ended by a NUL byte. An
// argument ends at its first NUL byte, as it would on a command line.
std::string packArguments(const std::vector<std::string>& arguments) {
    std::size_t size = 0;
    for (const auto& argument : arguments) size += argument.size() + 1;
    std::string packed;
    packed.reserve(size);
    for (const auto& argument : arguments) {
        packed.append(argument, 0, argument.find('\0'));
        packed.push_back('\0');
    }
    return packed;
}

Error shutdownError() {
    return Error{kDomainPlatform, ECANCELED, "Tessivo se ferme : le script DaVinci Resolve a été arrêté."};
}

}  // namespace

// The children whose process group may still be alive: from their launch to
// their exit, or, past a time limit, until the group has been killed.
struct PythonRunner::Children {
    std::mutex mutex;
    bool stopping = false;
    std::vector<std::shared_ptr<Subprocess>> alive;

    void remove(const std::shared_ptr<Subprocess>& process) {
        std::lock_guard lock(mutex);
        std::erase(alive, process);
    }
};

std::optional<std::string> extractOrvelJSON(std::string_view output) {
    auto marker = output.rfind(kMarker);
    if (marker == std::string_view::npos) return std::nullopt;
    auto open = output.find('{', marker + kMarker.size());
    if (open == std::string_view::npos) return std::nullopt;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (std::size_t i = open; i < output.size(); ++i) {
        char c = output[i];
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (depth == 1) return std::string(output.substr(open, i - open + 1));
            --depth;
        }
    }
    return std::nullopt;
}

RunnerSetup RunnerSetup::fromConfiguration(const Configuration& configuration) {
    RunnerSetup setup;
    setup.installation = ResolveInstallation::locate(configuration.resolveLocation);
    setup.timeLimitScale = configuration.timeLimitScale > 0 ? configuration.timeLimitScale : 1.0;
    setup.inheritedPythonPath = configuration.inheritedPythonPath;
    setup.inheritedScriptLib = configuration.inheritedScriptLib;
    return setup;
}

PythonRunner::PythonRunner(Queue& resolveOperationQueue, Queue& exportQueue, RunnerSetup setup)
    : resolveQueue_(resolveOperationQueue),
      exportQueue_(exportQueue),
      setup_(std::move(setup)),
      children_(std::make_shared<Children>()) {}

std::map<std::string, std::string> PythonRunner::childEnvironment() const {
    const auto& installation = setup_.installation;
    std::string pythonPath = installation.modulesFolder().string();
    if (setup_.inheritedPythonPath) pythonPath += ":" + *setup_.inheritedPythonPath;
    // A library named by the user's own environment wins: Resolve's module
    // loads the one RESOLVE_SCRIPT_LIB names.
    return {
        {"RESOLVE_SCRIPT_API", installation.scriptAPI.string()},
        {"RESOLVE_SCRIPT_LIB", setup_.inheritedScriptLib.value_or(installation.scriptLib.string())},
        {"PYTHONPATH", pythonPath},
        {"PYTHONIOENCODING", "utf-8"},
    };
}

// Any thread.
void PythonRunner::runResolvePython(std::string script, std::vector<std::string> arguments, double timeoutSeconds,
                                    Completion completion) {
    timeoutSeconds *= setup_.timeLimitScale;
    resolveQueue_.post([this, script = std::move(script), arguments = std::move(arguments), timeoutSeconds,
                        completion = std::move(completion)] { run(script, arguments, timeoutSeconds, completion); });
}

// Any thread.
void PythonRunner::shutdown() {
    std::vector<std::shared_ptr<Subprocess>> alive;
    {
        std::lock_guard lock(children_->mutex);
        children_->stopping = true;
        alive = children_->alive;
    }
    for (const auto& process : alive) process->signalGroup(SIGKILL);
}

// Runs on the Resolve operations queue and holds it until the child exits.
void PythonRunner::run(const std::string& script, const std::vector<std::string>& arguments, double timeoutSeconds,
                       const Completion& completion) {
    auto state = std::make_shared<RunState>();
    const std::string name = "orvel_resolve_bridge_" + makeUUID();
    state->scriptFile = temporaryDirectory() / (name + ".py");
    state->argumentsFile = temporaryDirectory() / (name + ".args");
    RemoveFilesAtEnd removeFiles{*state};

    // Both files are the user's alone: the arguments carry caption texts and paths.
    Error writeError;
    if (!writePrivateFile(state->scriptFile, std::string(kMediaImportScript) + script, &writeError) ||
        !writePrivateFile(state->argumentsFile, packArguments(arguments), &writeError)) {
        state->removeFiles();
        completion(writeError);
        return;
    }

    const std::vector<std::string> argv{installation().interpreter().string(), "-c", kRunnerWrapperScript,
                                        state->scriptFile.string(), state->argumentsFile.string()};
    std::optional<Error> notLaunched;
    {
        // Launched and registered under the lock, so that shutdown() either
        // finds the child or keeps it from starting.
        std::lock_guard lock(children_->mutex);
        if (children_->stopping) {
            notLaunched = shutdownError();
        } else if (auto launched = Subprocess::launch(argv, childEnvironment(), {.capture = true,
                                                                                 .ownProcessGroup = true})) {
            state->process = std::shared_ptr<Subprocess>(std::move(launched).value());
            children_->alive.push_back(state->process);
        } else {
            notLaunched = launched.error();
        }
    }
    if (notLaunched) {
        state->removeFiles();
        if (state->claim()) completion(*notLaunched);
        return;
    }

    auto running = running_;
    running->fetch_add(1);
    std::shared_ptr<QueueTimer> limitTimer;
    if (timeoutSeconds > 0) {
        // Export queue.
        Queue* exportQueue = &exportQueue_;
        auto children = children_;
        limitTimer = exportQueue_.postAfter(timeoutSeconds, [exportQueue, children, state, timeoutSeconds,
                                                             completion] {
            {
                std::lock_guard lock(state->mutex);
                if (state->finished || !state->process->isRunning()) return;
                state->finished = true;
                state->limitHit = true;
                // What ignores the polite signal is killed after a grace period,
                // the child and whatever it started alike.
                exportQueue->postAfter(kKillGraceSeconds, [children, process = state->process] {
                    process->signalGroup(SIGKILL);
                    children->remove(process);
                });
            }
            state->process->signalGroup(SIGTERM);
            state->removeFiles();
            auto whole = static_cast<long long>(timeoutSeconds);
            completion(bridgeError(408, "DaVinci n'a pas répondu après " + std::to_string(whole) +
                                            "s. Vérifie la timeline active et l'autorisation de scripting externe."));
        });
    }

    // Returns at the child's exit: a helper the script left holding its output
    // does not keep the queue.
    ProcessOutput output = state->process->communicate();

    if (limitTimer) limitTimer->cancel();
    bool limitHit = false;
    {
        std::lock_guard lock(state->mutex);
        limitHit = state->limitHit;
    }
    // Past a time limit the kill timer still ends the rest of the group.
    if (!limitHit) children_->remove(state->process);
    bool endedByShutdown = false;
    {
        std::lock_guard lock(children_->mutex);
        endedByShutdown = children_->stopping && output.signaled;
    }

    state->removeFiles();
    Result<Json> outcome = endedByShutdown ? Result<Json>(shutdownError()) : evaluateOutput(output);
    running->fetch_sub(1);
    if (state->claim()) completion(std::move(outcome));
}

}  // namespace tessivo
