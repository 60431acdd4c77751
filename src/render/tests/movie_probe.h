// Reads back a movie written by the video writer: stream facts, every frame's
// presentation time and its pixels as straight RGBA, for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessivo::testing {

struct ProbedFrame {
    double seconds = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // straight, 4 bytes a pixel, rows of width * 4

    // R, G, B, A of the pixel at (x, y).
    std::vector<int> pixel(int x, int y) const {
        const std::uint8_t* p = rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
};

struct ProbedMovie {
    std::string codec;        // "prores", "h264"
    std::string profile;      // "4444", "High", ...
    std::string codecTag;     // "ap4h", "avc1"
    std::string pixelFormat;  // "yuva444p10le", "yuv420p"
    std::string brand;        // the file's major brand: "qt  " (QuickTime), "isom" (MPEG-4)
    std::vector<ProbedFrame> frames;
};

// nullopt when the file cannot be opened or decoded.
std::optional<ProbedMovie> probeMovie(const std::filesystem::path& path);

}  // namespace tessivo::testing
