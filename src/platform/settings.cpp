#include "platform/settings.h"

#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <ctime>
#include <string_view>

namespace tessivo {

namespace {
constexpr const char* kGroup = "defaults";
constexpr GKeyFileFlags kLoadFlags = G_KEY_FILE_KEEP_COMMENTS;

// The lines of `text` that the key-file reader accepts, each judged in its
// place (a key line only counts under a group). `dropped` counts the others.
std::string readableLines(std::string_view text, int& dropped) {
    std::string kept;
    bool inGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        start = end + 1;
        bool isGroup = !line.empty() && line.front() == '[';
        std::string probe = (inGroup && !isGroup ? "[probe]\n" : "") + line + "\n";
        GUniquePtr<GKeyFile> single(g_key_file_new());
        if (!isValidUTF8(line) ||
            !g_key_file_load_from_data(single.get(), probe.data(), probe.size(), kLoadFlags, nullptr)) {
            ++dropped;
            continue;
        }
        inGroup = inGroup || isGroup;
        kept += line;
        kept += '\n';
    }
    return kept;
}

// A name beside `file` that is not taken: "<name>.corrupt-20260107-101500",
// then "-2", "-3"... for several in the same second.
std::filesystem::path unusedAsideName(const std::filesystem::path& file) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string base = file.filename().string() + ".corrupt-" + stamp;
    std::error_code ec;
    for (int n = 1;; ++n) {
        auto candidate = file.parent_path() / (n == 1 ? base : base + "-" + std::to_string(n));
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return candidate;
    }
}
}  // namespace

std::filesystem::path Settings::defaultPath() {
    return configDirectory() / "settings.ini";
}

Settings::Settings(std::filesystem::path file) : file_(std::move(file)), keyFile_(g_key_file_new()) {
    GErrorOut error;
    if (g_key_file_load_from_file(keyFile_.get(), file_.c_str(), kLoadFlags, error.out())) return;
    // A missing file is the first launch.
    if (!error || g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT)) return;
    keyFile_.reset(g_key_file_new());
    // A file whose bytes read but whose lines do not all parse is recovered;
    // anything else (a folder, no permission) is left alone.
    std::error_code ec;
    auto text = error.get()->domain == G_KEY_FILE_ERROR && std::filesystem::is_regular_file(file_, ec)
                    ? readFile(file_)
                    : std::nullopt;
    if (text) {
        recoverFromUnreadableFile(*text, error.message());
    } else {
        // The file is there but cannot be read: whatever it holds stays as it is.
        writable_ = false;
        logLine("Réglages illisibles (" + file_.string() + "): " + error.message() +
                " ; le fichier est laissé tel quel et rien n'y sera écrit pendant cette session");
    }
}

void Settings::recoverFromUnreadableFile(const std::string& text, const std::string& reason) {
    int dropped = 0;
    std::string kept = readableLines(text, dropped);
    if (!g_key_file_load_from_data(keyFile_.get(), kept.data(), kept.size(), kLoadFlags, nullptr))
        keyFile_.reset(g_key_file_new());
    std::string what = "Réglages illisibles (" + file_.string() + "): " + reason + " ; " +
                       std::to_string(dropped) + " ligne(s) ignorée(s)";
    std::filesystem::path aside = unusedAsideName(file_);
    std::error_code ec;
    std::filesystem::rename(file_, aside, ec);
    if (ec) {
        writable_ = false;
        logLine(what + " ; impossible de mettre le fichier de côté (" + ec.message() +
                "), rien n'y sera écrit pendant cette session");
        return;
    }
    setAside_ = aside;
    logLine(what + " ; l'original est gardé sous " + aside.string());
    // What still reads becomes the new file, so the next launch reads it cleanly.
    save();
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
    if (!writable_) return;
    gsize length = 0;
    GUniquePtr<gchar> data(g_key_file_to_data(keyFile_.get(), &length, nullptr));
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    Error error;
    if (!writeFileAtomically(file_, std::string_view(data.get(), length), &error))
        logLine("Réglages non enregistrés (" + file_.string() + "): " + error.message);
}

}  // namespace tessivo
