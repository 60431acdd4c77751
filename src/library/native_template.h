// The native Text+ template: one real Text+ title of Resolve, moved into the
// Power Bin "Tessivo", whose description is kept in the user's settings.
// Registration takes two presses when the title starts in a project bin: the
// first remembers it as pending, the second (with the Power Bin current)
// moves it there.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <optional>

namespace tessivo {

class EngineContext;
class Settings;

inline constexpr const char* kNativeTemplateSourceKey = "TessivoFusionNativeTemplateSource";
inline constexpr const char* kPendingNativeTemplateSourceKey = "TessivoPendingFusionNativeTemplateSource";

// The embedded native template script.
const char* nativeTemplateScript();

// A dictionary of strings made of `value`'s members: texts as they are,
// numbers as their text, booleans as "1"/"0", anything else as "".
Json templateSourceStrings(const Json& value);
// The dictionary stored under `key`, or nullopt when absent or damaged. Main thread.
std::optional<Json> storedTemplateSource(const Settings& settings, const char* key);

class NativeTemplate {
public:
    explicit NativeTemplate(EngineContext& engine) : engine_(engine) {}

    // Main thread. Answers "window.onFusionNativeTemplateStatus".
    void publishFusionNativeTemplateStatus();
    // Any thread. Runs the script and answers with `notify` true.
    void registerFusionNativeTemplate();
    // Main thread. The registered source, or nullopt.
    std::optional<Json> fusionNativeTemplateSource() const;

    static constexpr double kTimeLimit = 15;

private:
    // Main thread: the outcome of a run, applied to the settings and answered.
    void finishRegistration(Result<Json> outcome);

    EngineContext& engine_;
};

}  // namespace tessivo
