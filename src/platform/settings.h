// The user's settings: one key file, $XDG_CONFIG_HOME/tessivo/settings.ini,
// group [defaults], keys named as the program names them
// ("TessivoFloatingFusionPaletteEnabled", ...). Every change is written at once,
// atomically. Used on the main thread.
//
// A file that does not read whole is never written over: it is moved aside to
// "settings.ini.corrupt-<date>-<time>" (a unique name beside it), the lines that
// still read are kept in force and written back as the new file. When it cannot
// be moved aside (or cannot be read at all), nothing is written during this run.
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
    // Where an unreadable file was moved at load; empty when none was.
    const std::filesystem::path& setAsideFile() const { return setAside_; }
    // False when changes stay in memory because the file on disk must be kept.
    bool writable() const { return writable_; }

private:
    void recoverFromUnreadableFile(const std::string& text, const std::string& reason);
    void save();
    std::filesystem::path file_;
    std::filesystem::path setAside_;
    bool writable_ = true;
    GUniquePtr<GKeyFile> keyFile_;
};

}  // namespace tessivo
