// Small JPEG images of effect preview frames and Resolve stills: every listing
// inlines the frames as data URLs, so they are kept small on disk.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessivo {

// The image at `file` scaled so that its largest side is at most `maxSide`
// (its embedded orientation applied), as JPEG bytes of `quality` (0...100).
// nullopt when the file is not an image or the encoding fails.
std::optional<std::string> jpegThumbnail(const std::filesystem::path& file, int maxSide, int quality);

// Shrinks each frame in place to at most 640 pixels, JPEG quality 42, through a
// temporary ".<name>-optimized.jpg" beside it. Returns the paths that were
// shrunk (unchanged, extension included); a frame that cannot be read or
// written is left out, and a frame whose replacement failed is kept only when
// a file is still there.
std::vector<std::filesystem::path> optimizeFusionPreviewFrames(const std::vector<std::filesystem::path>& frames);

}  // namespace tessivo
