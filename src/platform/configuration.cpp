#include "platform/configuration.h"

#include "platform/paths.h"
#include "platform/settings.h"

#include <glib.h>

#include <cmath>
#include <cstdlib>

namespace tessivo {

namespace {

const std::string* variable(const std::map<std::string, std::string>& variables, const char* name) {
    auto found = variables.find(name);
    return found == variables.end() ? nullptr : &found->second;
}

const std::string* nonEmpty(const std::map<std::string, std::string>& variables, const char* name) {
    const std::string* value = variable(variables, name);
    return value && !value->empty() ? value : nullptr;
}

// A positive finite number written in full ("0.02", "1e-2"), else nullopt.
std::optional<double> positiveNumber(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(value) || value <= 0) return std::nullopt;
    return value;
}

}  // namespace

Configuration Configuration::fromVariables(const std::map<std::string, std::string>& variables) {
    Configuration configuration;
    const std::string* settings = nonEmpty(variables, "TESSIVO_SETTINGS_FILE");
    configuration.settingsFile = settings ? std::filesystem::path(*settings) : Settings::defaultPath();
    const std::string* resources = nonEmpty(variables, "TESSIVO_RESOURCES");
    configuration.resourcesFolder = resources ? std::filesystem::path(*resources) : defaultResourcesDirectory();
    if (const std::string* scale = nonEmpty(variables, "TESSIVO_TIME_LIMIT_SCALE"))
        configuration.timeLimitScale = positiveNumber(*scale).value_or(1.0);
    if (const std::string* resolve = nonEmpty(variables, "TESSIVO_RESOLVE_SCRIPT_API"))
        configuration.resolveLocation = *resolve;
    if (const std::string* pythonPath = variable(variables, "PYTHONPATH"))
        configuration.inheritedPythonPath = *pythonPath;
    if (const std::string* library = nonEmpty(variables, "RESOLVE_SCRIPT_LIB"))
        configuration.inheritedScriptLib = *library;
    return configuration;
}

Configuration Configuration::fromEnvironment() {
    std::map<std::string, std::string> variables;
    gchar** environment = g_get_environ();
    for (gchar** entry = environment; entry && *entry; ++entry) {
        std::string text = *entry;
        auto equals = text.find('=');
        if (equals != std::string::npos) variables.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    g_strfreev(environment);
    return fromVariables(variables);
}

const Configuration& Configuration::process() {
    static const Configuration configuration = fromEnvironment();
    return configuration;
}

}  // namespace tessivo
