// Reads back a movie written by the video writer: stream facts, every frame's
// presentation time and its pixels as straight RGBA, for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tessivo::testing {

struct Rational {
    int num = 0;
    int den = 1;
    bool operator==(const Rational&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Rational& r) { return out << r.num << "/" << r.den; }
};

struct ProbedFrame {
    double seconds = 0;
    std::int64_t pts = 0;  // in the stream's time base
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
    // The stream's time base and frame rates as the demuxer reports them
    // (what ffprobe shows as time_base, avg_frame_rate and r_frame_rate).
    Rational timeBase, averageFrameRate, realFrameRate;
    // The container's duration of every packet, in stream order.
    std::vector<std::int64_t> packetDurations;
    std::vector<ProbedFrame> frames;
};

// nullopt when the file cannot be opened or decoded.
std::optional<ProbedMovie> probeMovie(const std::filesystem::path& path);

}  // namespace tessivo::testing
