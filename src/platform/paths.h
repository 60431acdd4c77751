// Where Tessivo reads and writes on this machine.
#pragma once

#include <filesystem>
#include <optional>

namespace tessivo {

// The user's Videos folder (XDG), else $HOME/Videos. Used for movies and exports.
std::filesystem::path moviesDirectory();
// $XDG_DATA_HOME (~/.local/share): the per-user application data folder.
std::filesystem::path applicationSupportDirectory();
// The temporary folder.
std::filesystem::path temporaryDirectory();
// $XDG_CONFIG_HOME/tessivo: where the settings file lives.
std::filesystem::path configDirectory();

// The application resources of this process's configuration
// (Configuration::process().resourcesFolder).
std::filesystem::path resourcesDirectory();
// Where the resources are when the configuration names no folder: share/tessivo
// beside the installed program, else the source tree's resources/ for a program
// run uninstalled from the build tree.
std::filesystem::path defaultResourcesDirectory();

// A named file among the resources (for example "resolve_comfort.py"), or
// nullopt when it is not there.
std::optional<std::filesystem::path> resourceFile(const std::filesystem::path& relative);

// The folder of the running executable.
std::filesystem::path executableDirectory();

}  // namespace tessivo
