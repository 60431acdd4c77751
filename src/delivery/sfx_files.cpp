#include "delivery/sfx_files.h"

#include "bridge/coercion.h"
#include "platform/files.h"
#include "platform/log.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace tessivo {

namespace {

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> decodeStrictBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = 1;
        if (text[text.size() - 2] == '=') padding = 2;
    }
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t group = 0; group < text.size(); group += 4) {
        bool last = group + 4 == text.size();
        std::size_t digitsHere = last ? 4 - padding : 4;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            int digit = 0;
            if (i < digitsHere) {
                digit = base64Digit(text[group + i]);
                if (digit < 0) return std::nullopt;  // also catches a "=" in the middle
            }
            bits = (bits << 6) | static_cast<std::uint32_t>(digit);
        }
        bytes.push_back(static_cast<char>((bits >> 16) & 0xFF));
        if (digitsHere > 2) bytes.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (digitsHere > 3) bytes.push_back(static_cast<char>(bits & 0xFF));
    }
    return bytes;
}

std::string sfxExtension(std::string_view dataUrl) {
    std::string lower(dataUrl.substr(0, 32));
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string_view head(lower);
    if (head.starts_with("data:audio/mpeg") || head.starts_with("data:audio/mp3")) return "mp3";
    if (head.starts_with("data:audio/mp4") || head.starts_with("data:audio/x-m4a") ||
        head.starts_with("data:audio/aac"))
        return "m4a";
    return "wav";
}

std::vector<SFXFile> makeResolveSFXFiles(const Json& events, const std::filesystem::path& baseFolder) {
    std::vector<SFXFile> files;
    if (!events.is_array() || events.empty()) return files;

    std::filesystem::path folder = baseFolder / ("TessivoSFX-" + makeUUID());
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);  // a failure shows up as failed writes

    for (std::size_t i = 0; i < events.size(); ++i) {
        const Json& event = events[i];
        const Json* dataUrl = member(event, "dataUrl");
        if (!dataUrl || !dataUrl->is_string()) continue;
        const std::string& url = dataUrl->get_ref<const std::string&>();
        std::size_t comma = url.find(',');
        if (comma == std::string::npos) continue;
        auto audio = decodeStrictBase64(std::string_view(url).substr(comma + 1));
        // An empty payload is no audio at all: Resolve cannot import an empty file.
        if (!audio || audio->empty()) continue;

        char name[64];
        std::snprintf(name, sizeof name, "Tessivo_SFX_%03zu.%s", i + 1, sfxExtension(url).c_str());
        SFXFile file;
        file.filePath = folder / name;
        Error error;
        if (!writeFileAtomically(file.filePath, *audio, &error)) {
            logLine("SFX: écriture impossible de " + file.filePath.string() + ": " + error.message);
            continue;
        }
        file.start = finiteDoubleValue(event, "start", 0);
        const Json* eventName = member(event, "name");
        file.name = eventName && eventName->is_string() ? eventName->get<std::string>() : "Tessivo SFX";
        file.volume = finiteDoubleValue(event, "volume", 0.85);
        files.push_back(std::move(file));
    }
    return files;
}

Json sfxFileRecords(const std::vector<SFXFile>& files) {
    Json records = Json::array();
    for (const auto& file : files) {
        Json record = Json::object();
        record["filePath"] = file.filePath.string();
        record["start"] = file.start;
        record["name"] = file.name;
        record["volume"] = file.volume;
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace tessivo
