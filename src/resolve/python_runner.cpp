#include "resolve/python_runner.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/subprocess.h"

#include <glib.h>

#include <csignal>
#include <cstdlib>
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
    std::unique_ptr<Subprocess> process;
    std::filesystem::path scriptFile;
    std::shared_ptr<QueueTimer> killTimer;  // guarded by mutex

    // Returns true for the one caller that may deliver.
    bool claim() {
        std::lock_guard lock(mutex);
        if (finished) return false;
        finished = true;
        return true;
    }
};

}  // namespace

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

PythonRunner::PythonRunner(Queue& resolveOperationQueue, Queue& exportQueue, ResolveInstallation installation)
    : resolveQueue_(resolveOperationQueue), exportQueue_(exportQueue), installation_(std::move(installation)) {
    // Tests of time-outs shorten every limit rather than wait minutes.
    if (const char* scale = std::getenv("TESSIVO_TIME_LIMIT_SCALE"); scale && *scale) {
        double value = std::strtod(scale, nullptr);
        if (value > 0) timeLimitScale_ = value;
    }
}

std::map<std::string, std::string> PythonRunner::childEnvironment() const {
    std::string pythonPath = installation_.modulesFolder().string();
    if (const char* inherited = std::getenv("PYTHONPATH"); inherited) pythonPath += std::string(":") + inherited;
    return {
        {"RESOLVE_SCRIPT_API", installation_.scriptAPI.string()},
        {"RESOLVE_SCRIPT_LIB", installation_.scriptLib.string()},
        {"PYTHONPATH", pythonPath},
        {"PYTHONIOENCODING", "utf-8"},
    };
}

// Any thread.
void PythonRunner::runResolvePython(std::string script, std::vector<std::string> arguments, double timeoutSeconds,
                                    Completion completion) {
    timeoutSeconds *= timeLimitScale_;
    resolveQueue_.post([this, script = std::move(script), arguments = std::move(arguments), timeoutSeconds,
                        completion = std::move(completion)] { run(script, arguments, timeoutSeconds, completion); });
}

// Runs on the Resolve operations queue and holds it until the child exits.
void PythonRunner::run(const std::string& script, const std::vector<std::string>& arguments, double timeoutSeconds,
                       const Completion& completion) {
    auto state = std::make_shared<RunState>();
    state->scriptFile = temporaryDirectory() / ("orvel_resolve_bridge_" + makeUUID() + ".py");

    Error writeError;
    std::string contents = std::string(kMediaImportScript) + script;
    if (!writeFileAtomically(state->scriptFile, contents, &writeError)) {
        completion(writeError);
        return;
    }

    std::vector<std::string> argv{installation_.interpreter().string(), "-c", kRunnerWrapperScript,
                                  state->scriptFile.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    auto running = running_;
    running->fetch_add(1);
    auto launched = Subprocess::launch(argv, childEnvironment());
    if (!launched) {
        running->fetch_sub(1);
        removeFileQuietly(state->scriptFile);
        if (state->claim()) completion(launched.error());
        return;
    }
    state->process = std::move(launched).value();
    Subprocess* process = state->process.get();

    std::shared_ptr<QueueTimer> limitTimer;
    if (timeoutSeconds > 0) {
        // Export queue.
        Queue* exportQueue = &exportQueue_;
        limitTimer = exportQueue_.postAfter(timeoutSeconds, [exportQueue, state, timeoutSeconds, completion] {
            {
                std::lock_guard lock(state->mutex);
                if (state->finished || !state->process->isRunning()) return;
                state->finished = true;
                // A child that ignores the polite signal is killed after a grace period.
                state->killTimer = exportQueue->postAfter(kKillGraceSeconds, [state] {
                    state->process->sendSignal(SIGKILL);
                });
            }
            state->process->sendSignal(SIGTERM);
            removeFileQuietly(state->scriptFile);
            auto whole = static_cast<long long>(timeoutSeconds);
            completion(bridgeError(408, "DaVinci n'a pas répondu après " + std::to_string(whole) +
                                            "s. Vérifie la timeline active et l'autorisation de scripting externe."));
        });
    }

    ProcessOutput output = process->communicate();

    // The child is gone: its timers have nothing left to do.
    if (limitTimer) limitTimer->cancel();
    {
        std::lock_guard lock(state->mutex);
        if (state->killTimer) state->killTimer->cancel();
    }

    removeFileQuietly(state->scriptFile);
    Result<Json> outcome = evaluateOutput(output);
    running->fetch_sub(1);
    if (state->claim()) completion(std::move(outcome));
}

}  // namespace tessivo
