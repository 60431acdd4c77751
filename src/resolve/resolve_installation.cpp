#include "resolve/resolve_installation.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace tessivo {

ResolveInstallation ResolveInstallation::fromEnvironment() {
    ResolveInstallation installation;
    if (const char* api = std::getenv("TESSIVO_RESOLVE_SCRIPT_API"); api && *api)
        installation.scriptAPI = api;
    return installation;
}

std::filesystem::path ResolveInstallation::interpreter() const {
    std::error_code ec;
    if (std::filesystem::is_regular_file(resolvePython, ec) && ::access(resolvePython.c_str(), X_OK) == 0)
        return resolvePython;
    return systemPython;
}

bool ResolveInstallation::hasScriptingModule() const {
    std::error_code ec;
    return std::filesystem::is_regular_file(modulesFolder() / "DaVinciResolveScript.py", ec);
}

}  // namespace tessivo
