#include "delivery/segment_cutter.h"

#include "platform/files.h"
#include "render/tests/movie_probe.h"
#include "render/video_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace fs = std::filesystem;

namespace tessivo {
namespace {

using testing::probeMovie;

constexpr int kWidth = 160;
constexpr int kHeight = 64;
constexpr int kBits = 9;  // frame numbers up to 511 drawn as bars

class TempFolder {
public:
    TempFolder() : path_(fs::temp_directory_path() / ("tessivo-cut-" + makeUUID())) { fs::create_directories(path_); }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Frame i shows its number in binary: bar b is opaque white when bit b is set,
// else transparent (black once composed for H.264).
void drawFrameNumber(PixelBuffer& buffer, int frame) {
    const int barWidth = kWidth / kBits;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(buffer.data() + y * buffer.stride());
        for (int x = 0; x < kWidth; ++x) {
            const int bar = std::min(x / barWidth, kBits - 1);
            row[x] = (frame >> bar) & 1 ? 0xFFFFFFFFu : 0u;
        }
    }
    buffer.markDirty();
}

int readFrameNumber(const testing::ProbedFrame& frame) {
    const int barWidth = kWidth / kBits;
    int number = 0;
    for (int bar = 0; bar < kBits; ++bar) {
        auto rgba = frame.pixel(bar * barWidth + barWidth / 2, kHeight / 2);
        if (rgba[0] > 128 && rgba[3] > 128) number |= 1 << bar;
    }
    return number;
}

fs::path writeNumberedMovie(const fs::path& path, const std::string& background, double fps, int frames,
                            std::vector<std::int64_t> keyFrames) {
    VideoWriterSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.fps = fps;
    settings.format = background == "transparent" ? "mov" : "mp4";
    settings.background = background;
    settings.keyFrames = std::move(keyFrames);
    auto writer = VideoWriter::configure(path, settings);
    EXPECT_TRUE(writer.ok()) << (writer.ok() ? "" : writer.error().message);
    if (!writer.ok()) return path;
    for (int i = 0; i < frames; ++i) {
        auto buffer = writer.value()->makePixelBuffer();
        drawFrameNumber(*buffer, i);
        EXPECT_FALSE(writer.value()->appendPixelBuffer(buffer, i).has_value());
    }
    EXPECT_FALSE(writer.value()->finish().has_value());
    return path;
}

// The frames a cut of [offset, offset + length) must hold, counted the slow way.
std::vector<int> expectedFrames(double offset, double length, double fps, int frames) {
    const double tolerance = 0.5 / 60000;
    std::vector<int> wanted;
    for (int i = 0; i < frames; ++i) {
        const double t = i / fps;
        if (t >= offset - tolerance && t < offset + length - tolerance) wanted.push_back(i);
    }
    if (wanted.empty()) wanted.push_back(std::min(frames - 1, int(std::floor((offset + tolerance) * fps))));
    return wanted;
}

ClipSegment segment(double start, double end, std::string text = "bloc") {
    return ClipSegment{"id", std::move(text), start, end, 0};
}

TEST(SegmentCutterTest, EachSegmentHoldsExactlyItsFrames) {
    struct Case {
        const char* name;
        std::string background;
        double fps;
        bool forceKeyFrames;
        bool exact;  // the writer's key frames make the cut frame-exact
    };
    const Case cases[] = {
        {"ProRes 25", "transparent", 25, false, true},
        {"ProRes 29.97", "transparent", 30000.0 / 1001, false, true},
        {"ProRes 23.976", "transparent", 24000.0 / 1001, false, true},
        {"H.264 60 with key frames", "black", 60, true, true},
        {"H.264 29.97 with key frames", "black", 30000.0 / 1001, true, true},
        // Without key frames at the cuts the copy must widen back to one.
        {"H.264 60 without key frames", "black", 60, false, false},
    };
    const double renderStart = 10;
    const std::vector<ClipSegment> segments = {
        segment(10.5, 11.3, "premier"),
        segment(11.0, 11.04),          // shorter than a frame at 25 fps
        segment(12.002, 12.004),       // shorter than 0.01 s
        segment(9.0, 10.2),            // starts before the render
        segment(11.1, 12.7),           // overlaps the first
        segment(13.2173, 14.1),        // off the frame grid
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const int frames = int(std::ceil(5 * c.fps));
        const std::string extension = c.background == "transparent" ? "mov" : "mp4";
        const fs::path render = folder.path() / ("Tessivo_DaVinci_1." + extension);
        writeNumberedMovie(render, c.background, c.fps, frames,
                           c.forceKeyFrames ? segmentKeyFrames(segments, renderStart, c.fps, frames)
                                            : std::vector<std::int64_t>{});
        const auto whole = probeMovie(render);
        ASSERT_TRUE(whole.has_value());
        auto files = createResolveSegmentFiles(render, segments, renderStart);
        ASSERT_TRUE(files.ok()) << files.error().message;
        ASSERT_EQ(files.value().size(), segments.size());

        // Ordered by start: 9.0, 10.5, 11.0, 11.1, 12.002, 13.2173.
        std::vector<ClipSegment> ordered = segments;
        std::stable_sort(ordered.begin(), ordered.end(), [](auto& a, auto& b) { return a.start < b.start; });
        bool allExact = true;
        for (std::size_t i = 0; i < files.value().size(); ++i) {
            const SegmentFile& file = files.value()[i];
            SCOPED_TRACE(file.filePath.filename().string());
            char name[32];
            std::snprintf(name, sizeof name, "Tessivo_%03zu.%s", i + 1, extension.c_str());
            EXPECT_EQ(file.filePath, segmentFolder(render) / name);
            const CutRange range = cutRange(ordered[i], renderStart);
            auto movie = probeMovie(file.filePath);
            ASSERT_TRUE(movie.has_value());
            ASSERT_FALSE(movie->frames.empty());
            const auto wanted = expectedFrames(range.offset, range.length, c.fps, frames);
            // The record stands where its frames stand in the render.
            EXPECT_NEAR(file.start, renderStart + wanted.front() / c.fps, 1e-9);
            EXPECT_NEAR(file.end, renderStart + (wanted.back() + 1) / c.fps, 1e-9);
            std::vector<int> got;
            for (const auto& frame : movie->frames) got.push_back(readFrameNumber(frame));
            if (c.exact) {
                EXPECT_EQ(got, wanted);
                EXPECT_DOUBLE_EQ(movie->frames.front().seconds, 0.0);
            } else {
                // Still decodable and ends where it must; only the start may come early.
                EXPECT_EQ(got.back(), wanted.back());
                EXPECT_LE(got.front(), wanted.front());
                allExact = allExact && got == wanted;
            }
            if (c.background == "transparent") {
                EXPECT_EQ(movie->codecTag, "ap4h");
                EXPECT_EQ(movie->profile, whole->profile);
                EXPECT_EQ(movie->pixelFormat, whole->pixelFormat);
                EXPECT_EQ(movie->brand, "qt  ");
                // Alpha survives the copy: bar 0 of an even frame is transparent.
                const auto& first = movie->frames.front();
                EXPECT_EQ(first.pixel(kWidth / kBits / 2, kHeight / 2)[3], got.front() & 1 ? 255 : 0);
            } else {
                EXPECT_EQ(movie->codec, "h264");
                EXPECT_NE(movie->brand, "qt  ");
            }
        }
        if (!c.exact) {
            EXPECT_FALSE(allExact) << "cuts between key frames cannot all be exact";
        }
        EXPECT_EQ(files.value()[0].text, "bloc");
        // The 0.002 s block is cut with 0.01 s, which holds the one frame shown then.
        EXPECT_NEAR(files.value()[4].end - files.value()[4].start, 1 / c.fps, 1e-9);
    }
}

TEST(SegmentCutterTest, KeyFramesFallOnEverySegmentStart) {
    // 60 fps from 0: 0.5 s is frame 30; 1.0083 s lies inside frame 60 and the
    // next frame to start is 61; a 0.005 s block at 2.001 s holds no frame
    // start and takes frame 120, the one shown then. Duplicates count once,
    // and the last frame bounds them.
    const std::vector<ClipSegment> segments = {segment(0.5, 1), segment(1.0083, 2), segment(0.5, 0.7),
                                               segment(2.001, 2.006), segment(9, 10)};
    EXPECT_EQ(segmentKeyFrames(segments, 0, 60, 300), (std::vector<std::int64_t>{30, 61, 120, 299}));
    // A render starting at 100 s moves everything by that much.
    const std::vector<ClipSegment> later = {segment(100.5, 101), segment(99, 100.1)};
    EXPECT_EQ(segmentKeyFrames(later, 100, 25, 100), (std::vector<std::int64_t>{0, 13}));
}

TEST(SegmentCutterTest, FailuresCarryTheirCodes) {
    TempFolder folder;
    const std::vector<ClipSegment> one = {segment(0.2, 0.6)};

    // Not a movie at all.
    const fs::path bogus = folder.path() / "bogus.mov";
    std::ofstream(bogus) << "not a movie";
    auto refused = createResolveSegmentFiles(bogus, one, 0);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, -40);
    EXPECT_EQ(refused.error().message, "AVFoundation ne peut pas créer les segments passthrough.");

    const fs::path render = writeNumberedMovie(folder.path() / "r.mov", "transparent", 25, 25, {});
    // The second output cannot be written: a non-empty folder holds its name.
    fs::create_directories(segmentFolder(render) / "Tessivo_002.mov" / "x");
    auto blocked = createResolveSegmentFiles(render, {segment(0, 0.2), segment(0.4, 0.6)}, 0);
    ASSERT_FALSE(blocked.ok());
    EXPECT_EQ(blocked.error().code, -41);
    EXPECT_EQ(blocked.error().message.rfind("Découpe du segment 2 annulée ou échouée.", 0), 0u);

    // The segment folder's name is taken by a file.
    const fs::path other = writeNumberedMovie(folder.path() / "s.mov", "transparent", 25, 25, {});
    std::ofstream(segmentFolder(other)) << "x";
    auto noFolder = createResolveSegmentFiles(other, one, 0);
    ASSERT_FALSE(noFolder.ok());
    EXPECT_NE(noFolder.error().code, -41);

    // Nothing to cut: an empty list, and the folder is made.
    const fs::path third = writeNumberedMovie(folder.path() / "t.mov", "transparent", 25, 25, {});
    auto none = createResolveSegmentFiles(third, {}, 0);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none.value().empty());
    EXPECT_TRUE(fs::is_directory(segmentFolder(third)));
}

}  // namespace
}  // namespace tessivo
