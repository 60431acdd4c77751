#include "platform/paths.h"

#include "platform/configuration.h"

#include <glib.h>

#include <system_error>

#ifndef TESSIVO_SOURCE_RESOURCES
#define TESSIVO_SOURCE_RESOURCES ""
#endif

namespace tessivo {

namespace fs = std::filesystem;

fs::path moviesDirectory() {
    if (const char* videos = g_get_user_special_dir(G_USER_DIRECTORY_VIDEOS); videos && *videos)
        return videos;
    return fs::path(g_get_home_dir()) / "Videos";
}

fs::path applicationSupportDirectory() { return g_get_user_data_dir(); }

fs::path temporaryDirectory() { return g_get_tmp_dir(); }

fs::path configDirectory() { return fs::path(g_get_user_config_dir()) / "tessivo"; }

fs::path executableDirectory() {
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

fs::path resourcesDirectory() { return Configuration::process().resourcesFolder; }

fs::path defaultResourcesDirectory() {
    std::error_code ec;
    auto installed = executableDirectory().parent_path() / "share" / "tessivo";
    if (fs::is_directory(installed, ec)) return installed;
    return TESSIVO_SOURCE_RESOURCES;
}

std::optional<fs::path> resourceFile(const fs::path& relative) {
    auto path = resourcesDirectory() / relative;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return path;
    return std::nullopt;
}

}  // namespace tessivo
