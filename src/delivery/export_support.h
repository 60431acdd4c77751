// Small pieces shared by the delivery routes that write files for Resolve:
// turning seconds into frame counts and making a fresh output folder per export.
#pragma once

#include "platform/error.h"
#include "platform/json.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace tessivo {

// The nearest integer, halves away from zero, saturated to ±kMaxFrameCount so
// that absurd rates or lengths cannot overflow a frame count. NaN gives 0.
inline constexpr std::int64_t kMaxFrameCount = 1'000'000'000'000LL;
std::int64_t nearestFrameCount(double value);

// Creates `parent` (with its parents) and inside it a folder that did not
// exist before: `name`, else `name-2`, `name-3`... Two exports started within
// the same second therefore never share, and never overwrite, a folder.
Result<std::filesystem::path> createFreshFolder(const std::filesystem::path& parent, const std::string& name);

// Whole seconds since 1970, for folder names.
std::int64_t secondsSince1970();

// The error value of a failed file-system operation on `path`.
Error fileSystemError(const std::filesystem::path& path, const std::error_code& code);

}  // namespace tessivo
