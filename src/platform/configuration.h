// The program's configuration as its environment gives it. Built once, by
// Configuration::fromEnvironment(), and handed down from there (the engine
// takes it through its options): no other code reads environment variables, so
// tests give a component the configuration they want instead of changing the
// process environment.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tessivo {

struct Configuration {
    // TESSIVO_SETTINGS_FILE, else $XDG_CONFIG_HOME/tessivo/settings.ini.
    std::filesystem::path settingsFile;
    // TESSIVO_RESOURCES, else share/tessivo beside the installed program, else
    // the source tree's resources/ for a program run from the build tree.
    std::filesystem::path resourcesFolder;
    // TESSIVO_TIME_LIMIT_SCALE: multiplies the time limit of every Resolve
    // script (tests shorten them); 1 unless it is a positive number.
    double timeLimitScale = 1.0;
    // TESSIVO_RESOLVE_SCRIPT_API: the Resolve installation to use, named by its
    // root folder (/home/resolve) or by its scripting folder. Unset: probed.
    std::optional<std::filesystem::path> resolveLocation;
    // PYTHONPATH and RESOLVE_SCRIPT_LIB of the program's environment, handed on
    // to the Resolve scripts (an empty RESOLVE_SCRIPT_LIB counts as unset).
    std::optional<std::string> inheritedPythonPath;
    std::optional<std::string> inheritedScriptLib;

    // From the process environment.
    static Configuration fromEnvironment();
    // From the given variables; a name that is absent is unset.
    static Configuration fromVariables(const std::map<std::string, std::string>& variables);
    // The process's own configuration, built from its environment on first use.
    // For code that runs outside any engine (the program's entry, font lookup).
    static const Configuration& process();
};

}  // namespace tessivo
