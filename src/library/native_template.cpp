#include "library/native_template.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "platform/settings.h"
#include "resolve/python_runner.h"

extern const char kNativeTemplateScript[];

namespace tessivo {

namespace {

constexpr const char* kStatusCallback = "window.onFusionNativeTemplateStatus";

}  // namespace

const char* nativeTemplateScript() { return kNativeTemplateScript; }

Json templateSourceStrings(const Json& value) {
    Json strings = Json::object();
    if (!value.is_object()) return strings;
    for (const auto& [key, item] : value.items())
        strings[key] = item.is_string() || item.is_number() || item.is_boolean() ? stringValue(&item, "") : "";
    return strings;
}

std::optional<Json> storedTemplateSource(const Settings& settings, const char* key) {
    auto text = settings.stringValue(key);
    if (!text) return std::nullopt;
    auto value = parseJson(*text);
    if (!value || !value->is_object()) return std::nullopt;
    for (const auto& item : value->items())
        if (!item.value().is_string()) return std::nullopt;
    return value;
}

std::optional<Json> NativeTemplate::fusionNativeTemplateSource() const {
    return storedTemplateSource(engine_.settings(), kNativeTemplateSourceKey);
}

// Main thread.
void NativeTemplate::publishFusionNativeTemplateStatus() {
    auto source = fusionNativeTemplateSource();
    engine_.callWebFunction(kStatusCallback,
                            Json{{"success", source.has_value()},
                                 {"source", source.value_or(Json::object())},
                                 {"message", source ? "Modèle Text+ natif prêt."
                                                    : "Choisis un vrai Text+ dans un chutier Resolve, puis mémorise-le ici."}});
}

// Any thread (the dispatcher runs it on the export queue). The settings are
// read on the main queue, where they live.
void NativeTemplate::registerFusionNativeTemplate() {
    auto weak = engine_.weakContext();
    engine_.mainQueue().post([this, weak] {
        auto engine = weak.lock();
        if (!engine) return;
        const Json pending = storedTemplateSource(engine->settings(), kPendingNativeTemplateSourceKey).value_or(Json::object());
        engine->runner().runResolvePython(kNativeTemplateScript, {serializeJson(pending).value_or("{}")}, kTimeLimit,
                                          [this, weak](Result<Json> outcome) {
            auto alive = weak.lock();
            if (!alive) return;
            alive->mainQueue().post([this, weak, outcome = std::move(outcome)]() mutable {
                if (auto engine = weak.lock()) finishRegistration(std::move(outcome));
            });
        });
    });
}

// Main thread.
void NativeTemplate::finishRegistration(Result<Json> outcome) {
    Settings& settings = engine_.settings();
    bool success = false;
    std::string message;
    if (!outcome) {
        message = outcome.error().message;
    } else {
        const Json& result = outcome.value();
        const Json* pending = member(result, "pendingSource");
        const Json* source = member(result, "source");
        if (boolValue(result, "requiresPowerBinSelection", false) && pending && pending->is_object()) {
            settings.setString(kPendingNativeTemplateSourceKey, serializeJson(templateSourceStrings(*pending)).value_or("{}"));
            message = stringValue(result, "message", "Dans Resolve, sélectionne Chutiers partagés > Tessivo, puis reclique sur Mémoriser.");
        } else if (boolValue(result, "success", false) && source && source->is_object()) {
            settings.remove(kPendingNativeTemplateSourceKey);
            success = true;
            const Json strings = templateSourceStrings(*source);
            if (!boolValue(result, "nativeCompatible", true)) {
                message = "« " + stringValue(strings, "name", "Text") +
                          " » est enregistré dans Tessivo partagé. C'est un Text standard : il reste réutilisable, mais ne "
                          "remplace pas le modèle Text+ natif.";
            } else {
                settings.setString(kNativeTemplateSourceKey, serializeJson(strings).value_or("{}"));
                message = "« " + stringValue(strings, "name", "Text+") + " » est enregistré dans le chutier partagé Tessivo.";
            }
        } else {
            message = stringValue(result, "message", "Sélectionne un titre Fusion dans le chutier Resolve.");
        }
    }
    engine_.callWebFunction(kStatusCallback, Json{{"success", success},
                                                  {"source", fusionNativeTemplateSource().value_or(Json::object())},
                                                  {"message", message},
                                                  {"notify", true}});
}

}  // namespace tessivo
