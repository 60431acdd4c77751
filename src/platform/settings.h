// The user's settings: one key file, $XDG_CONFIG_HOME/tessivo/settings.ini,
// group [defaults], keys named as the program names them
// ("TessivoFloatingFusionPaletteEnabled", ...). Every change is written at once,
// atomically. Used on the main thread.
#pragma once

#include "platform/glib_ptr.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tessivo {

class Settings {
public:
    // The default file (the configuration's TESSIVO_SETTINGS_FILE replaces it).
    static std::filesystem::path defaultPath();

    explicit Settings(std::filesystem::path file);

    bool hasKey(const std::string& key) const;
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;

    void setBool(const std::string& key, bool value);
    void setString(const std::string& key, const std::string& value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

private:
    void save();
    std::filesystem::path file_;
    GUniquePtr<GKeyFile> keyFile_;
};

}  // namespace tessivo
