// Where Resolve's scripting pieces live on this machine. The one place that
// knows the installation paths, so that tests and the demo mode can point the
// program at the simulator instead.
#pragma once

#include <filesystem>
#include <string>

namespace tessivo {

struct ResolveInstallation {
    // Resolve's own Python (21.1 and later); used when it is an executable file.
    std::filesystem::path resolvePython = "/opt/resolve/bin/ResolvePython";
    std::filesystem::path systemPython = "/usr/bin/python3";
    // The scripting folder; its "Modules" sub-folder holds DaVinciResolveScript.
    std::filesystem::path scriptAPI = "/opt/resolve/Developer/Scripting";
    std::filesystem::path scriptLib = "/opt/resolve/libs/Fusion/fusionscript.so";

    // The Linux defaults, with TESSIVO_RESOLVE_SCRIPT_API replacing the
    // scripting folder when it is set.
    static ResolveInstallation fromEnvironment();

    std::filesystem::path interpreter() const;
    std::filesystem::path modulesFolder() const { return scriptAPI / "Modules"; }
    // True when the scripting folder holds Resolve's module.
    bool hasScriptingModule() const;
};

}  // namespace tessivo
