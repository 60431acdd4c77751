#include "resolve/resolve_installation.h"

#include <unistd.h>

#include <system_error>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

// Without a trailing separator: "/home/resolve/Developer/Scripting/" has the
// name "Scripting" and the parent "/home/resolve/Developer".
fs::path trimmed(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (normal.filename().empty() && normal.has_parent_path() && normal != normal.root_path())
        normal = normal.parent_path();
    return normal;
}

bool isExecutableFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

bool isFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

}  // namespace

ResolveInstallation ResolveInstallation::atRoot(const fs::path& root) {
    ResolveInstallation installation;
    installation.root = trimmed(root);
    installation.resolvePython = installation.root / "bin" / "ResolvePython";
    installation.scriptAPI = installation.root / "Developer" / "Scripting";
    installation.scriptLib = installation.root / "libs" / "Fusion" / "fusionscript.so";
    return installation;
}

ResolveInstallation ResolveInstallation::withScriptingFolder(const fs::path& folder) {
    fs::path scripting = trimmed(folder);
    fs::path parent = scripting.parent_path();
    ResolveInstallation installation = atRoot(parent.filename() == "Developer" ? parent.parent_path() : parent);
    installation.scriptAPI = scripting;
    return installation;
}

ResolveInstallation ResolveInstallation::locate(const std::optional<fs::path>& location,
                                                const std::vector<fs::path>& roots) {
    if (location) {
        fs::path named = trimmed(*location);
        if (isFolder(named / "Developer" / "Scripting")) return atRoot(named);
        if (isFolder(named / "Modules") || named.filename() == "Scripting") return withScriptingFolder(named);
        return atRoot(named);
    }
    for (const auto& root : roots) {
        auto installation = atRoot(root);
        if (installation.hasScriptingModule() || isExecutableFile(installation.resolvePython)) return installation;
    }
    return roots.empty() ? ResolveInstallation{} : atRoot(roots.front());
}

std::vector<fs::path> ResolveInstallation::standardRoots() { return {"/opt/resolve", "/home/resolve"}; }

fs::path ResolveInstallation::interpreter() const {
    return isExecutableFile(resolvePython) ? resolvePython : systemPython;
}

bool ResolveInstallation::hasScriptingModule() const {
    std::error_code ec;
    return fs::is_regular_file(modulesFolder() / "DaVinciResolveScript.py", ec);
}

}  // namespace tessivo
