#include "platform/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace tessivo {

void logLine(std::string_view text) {
    static std::mutex mutex;
    std::string line("[tessivo] ");
    line.append(text);
    line.push_back('\n');
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace tessivo
