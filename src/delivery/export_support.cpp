#include "delivery/export_support.h"

#include <chrono>
#include <cmath>

namespace tessivo {

std::int64_t nearestFrameCount(double value) {
    if (std::isnan(value)) return 0;
    double rounded = std::round(value);
    if (rounded >= static_cast<double>(kMaxFrameCount)) return kMaxFrameCount;
    if (rounded <= -static_cast<double>(kMaxFrameCount)) return -kMaxFrameCount;
    return static_cast<std::int64_t>(rounded);
}

Result<std::filesystem::path> createFreshFolder(const std::filesystem::path& parent, const std::string& name) {
    std::error_code code;
    std::filesystem::create_directories(parent, code);
    if (code) return fileSystemError(parent, code);
    for (int attempt = 1; attempt <= 10000; ++attempt) {
        std::filesystem::path folder = parent / (attempt == 1 ? name : name + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(folder, code)) return folder;
        if (code) return fileSystemError(folder, code);
    }
    return fileSystemError(parent / name, std::make_error_code(std::errc::file_exists));
}

std::int64_t secondsSince1970() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

Error fileSystemError(const std::filesystem::path& path, const std::error_code& code) {
    return Error{kDomainPlatform, code.value(),
                 "Impossible d'écrire « " + path.string() + " » : " + code.message()};
}

}  // namespace tessivo
