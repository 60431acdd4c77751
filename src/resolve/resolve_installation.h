// Where Resolve's scripting pieces live on this machine. The one place that
// knows the installation layout, so that tests and the demo mode can point the
// program at the simulator instead.
//
// An installation is one root folder (/opt/resolve from the package, or
// /home/resolve from the ISO) holding:
//   bin/ResolvePython                    Resolve's own Python (21.1 and later)
//   Developer/Scripting                  the scripting folder
//   Developer/Scripting/Modules          its modules (DaVinciResolveScript.py)
//   libs/Fusion/fusionscript.so          the library the module loads
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

struct ResolveInstallation {
    std::filesystem::path root = "/opt/resolve";
    // Used when it is an executable file; else systemPython.
    std::filesystem::path resolvePython = "/opt/resolve/bin/ResolvePython";
    std::filesystem::path systemPython = "/usr/bin/python3";
    std::filesystem::path scriptAPI = "/opt/resolve/Developer/Scripting";
    std::filesystem::path scriptLib = "/opt/resolve/libs/Fusion/fusionscript.so";

    // The installation under `root`.
    static ResolveInstallation atRoot(const std::filesystem::path& root);
    // The installation a scripting folder belongs to: <root>/Developer/Scripting
    // inside an installation; the folder's parent is the root of a scripting
    // folder kept elsewhere (a copy, or the simulator's tree).
    static ResolveInstallation withScriptingFolder(const std::filesystem::path& folder);
    // `location` (a root or a scripting folder, told apart by their contents)
    // when given; else the first of `roots` that holds Resolve's module or
    // Python; else the first of `roots`.
    static ResolveInstallation locate(const std::optional<std::filesystem::path>& location,
                                      const std::vector<std::filesystem::path>& roots = standardRoots());
    // Where Resolve's installers put it: /opt/resolve, then /home/resolve.
    static std::vector<std::filesystem::path> standardRoots();

    std::filesystem::path interpreter() const;
    std::filesystem::path modulesFolder() const { return scriptAPI / "Modules"; }
    // True when the scripting folder holds Resolve's module.
    bool hasScriptingModule() const;
};

}  // namespace tessivo
