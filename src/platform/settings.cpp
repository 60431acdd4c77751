#include "platform/settings.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace tessivo {

namespace {
constexpr const char* kGroup = "defaults";
}

std::filesystem::path Settings::defaultPath() {
    return configDirectory() / "settings.ini";
}

Settings::Settings(std::filesystem::path file) : file_(std::move(file)), keyFile_(g_key_file_new()) {
    GErrorOut error;
    if (!g_key_file_load_from_file(keyFile_.get(), file_.c_str(), G_KEY_FILE_KEEP_COMMENTS, error.out())) {
        // A missing file is the first launch; anything else is logged and the
        // settings start empty (the file is rewritten on the next change).
        if (error && !g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT))
            logLine("Réglages illisibles (" + file_.string() + "): " + error.message());
    }
}

bool Settings::hasKey(const std::string& key) const {
    return g_key_file_has_key(keyFile_.get(), kGroup, key.c_str(), nullptr);
}

std::optional<bool> Settings::boolValue(const std::string& key) const {
    GErrorOut error;
    gboolean value = g_key_file_get_boolean(keyFile_.get(), kGroup, key.c_str(), error.out());
    if (error) return std::nullopt;
    return value != FALSE;
}

std::optional<std::string> Settings::stringValue(const std::string& key) const {
    GUniquePtr<gchar> value(g_key_file_get_string(keyFile_.get(), kGroup, key.c_str(), nullptr));
    if (!value) return std::nullopt;
    return std::string(value.get());
}

void Settings::setBool(const std::string& key, bool value) {
    g_key_file_set_boolean(keyFile_.get(), kGroup, key.c_str(), value);
    save();
}

void Settings::setString(const std::string& key, const std::string& value) {
    g_key_file_set_string(keyFile_.get(), kGroup, key.c_str(), value.c_str());
    save();
}

void Settings::remove(const std::string& key) {
    g_key_file_remove_key(keyFile_.get(), kGroup, key.c_str(), nullptr);
    save();
}

void Settings::save() {
    gsize length = 0;
    GUniquePtr<gchar> data(g_key_file_to_data(keyFile_.get(), &length, nullptr));
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    Error error;
    if (!writeFileAtomically(file_, std::string_view(data.get(), length), &error))
        logLine("Réglages non enregistrés (" + file_.string() + "): " + error.message);
}

}  // namespace tessivo
