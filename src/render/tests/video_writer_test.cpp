#include "render/video_writer.h"
#include "render/tests/movie_probe.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <array>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <random>

namespace tessivo {
namespace {

using testing::probeMovie;

constexpr int kWidth = 320;
constexpr int kHeight = 180;

// A temporary folder per test.
class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() / ("tessivo-writer-" + makeUUID());
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A buffer with one block at (100...199, 50...119) of straight colour
// (255, 64, 0) at alpha 128, stored premultiplied as Cairo stores it.
std::shared_ptr<PixelBuffer> blockBuffer(VideoWriter& writer) {
    auto buffer = writer.makePixelBuffer();
    unsigned char* data = buffer->writableData();
    for (int y = 50; y < 120; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + y * buffer->stride());
        for (int x = 100; x < 200; ++x) row[x] = (128u << 24) | (128u << 16) | (32u << 8) | 0u;
    }
    return buffer;
}

VideoWriterSettings settingsFor(const std::string& format, const std::string& background, double fps = 30) {
    VideoWriterSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.fps = fps;
    s.format = format;
    s.background = background;
    return s;
}

bool near(int value, int expected, int tolerance) { return std::abs(value - expected) <= tolerance; }

TEST(VideoWriterTest, ChoiceTable) {
    struct Case {
        std::string background, format, encoder, name, muxer;
        bool transparent;
    } cases[] = {
        {"transparent", "mov", "prores_ks", "ProRes 4444", "mov", true},
        {"transparent", "mp4", "prores_ks", "ProRes 4444", "mp4", true},
        {"black", "mov", "libx264", "H.264", "mov", false},
        {"white", "webm", "libx264", "H.264", "mp4", false},
        {"Transparent", "MOV", "libx264", "H.264", "mp4", false},
    };
    for (const auto& c : cases) {
        WriterChoice choice = writerChoice(c.background, c.format);
        EXPECT_EQ(choice.encoder, c.encoder) << c.background << "/" << c.format;
        EXPECT_EQ(choice.codecName, c.name);
        EXPECT_EQ(choice.muxer, c.muxer);
        EXPECT_EQ(choice.transparent, c.transparent);
    }
}

// What each codec writes for the block frame: the stream's identity, the
// colour at the block and the pixels around it.
TEST(VideoWriterTest, WritesDecodableMoviesWithTheRightPixels) {
    struct Case {
        std::string format, background, codec, profile, pixelFormat, brand;
        std::vector<int> block;    // decoded RGBA inside the block
        std::vector<int> outside;  // decoded RGBA around it
    } cases[] = {
        // Straight colour comes back with its alpha: the edges keep their colour.
        // (FFmpeg's ProRes decoder reports 4444 streams as 12-bit 4:4:4 with alpha.)
        {"mov", "transparent", "prores", "4444", "yuva444p12le", "qt  ", {255, 64, 0, 128}, {0, 0, 0, 0}},
        // Composed over opaque black.
        {"mov", "black", "h264", "", "yuv420p", "qt  ", {128, 32, 0, 255}, {0, 0, 0, 255}},
        {"mp4", "white", "h264", "", "yuv420p", "isom", {128, 32, 0, 255}, {0, 0, 0, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format + "/" + c.background);
        TempFolder folder;
        const fs::path target = folder.path() / ("out." + c.format);
        auto writer = VideoWriter::configure(target, settingsFor(c.format, c.background));
        ASSERT_TRUE(writer.ok()) << writer.error().message;
        auto block = blockBuffer(*writer.value());
        for (int i = 0; i < 4; ++i) ASSERT_FALSE(writer.value()->appendPixelBuffer(block, i).has_value());
        EXPECT_FALSE(fs::exists(target));  // only complete files carry the target's name
        ASSERT_FALSE(writer.value()->finish().has_value());
        EXPECT_FALSE(fs::exists(writer.value()->temporaryPath()));

        auto movie = probeMovie(target);
        ASSERT_TRUE(movie.has_value());
        EXPECT_EQ(movie->codec, c.codec);
        if (!c.profile.empty()) {
            EXPECT_EQ(movie->profile, c.profile);
        }
        if (c.codec == "prores") {
            EXPECT_EQ(movie->codecTag, "ap4h");
        }
        EXPECT_EQ(movie->pixelFormat, c.pixelFormat);
        EXPECT_EQ(movie->brand, c.brand);
        ASSERT_EQ(movie->frames.size(), 4u);
        for (size_t i = 0; i < movie->frames.size(); ++i) {
            const auto& frame = movie->frames[i];
            EXPECT_NEAR(frame.seconds, i / 30.0, 1e-6);
            auto inside = frame.pixel(150, 85);
            for (int k = 0; k < 4; ++k) EXPECT_TRUE(near(inside[k], c.block[k], 6)) << "inside channel " << k << " = " << inside[k];
            for (auto [x, y] : {std::pair{10, 10}, {300, 170}, {99, 85}, {150, 120}}) {
                auto p = frame.pixel(x, y);
                EXPECT_EQ(p[3], c.outside[3]) << x << "," << y;
                for (int k = 0; k < 3; ++k) EXPECT_TRUE(near(p[k], c.outside[k], 3)) << x << "," << y;
            }
        }
    }
}

// Repeated buffers: ProRes frames stand alone, so a repeat writes the kept
// packet again; H.264 encodes every frame. Either way the file holds every
// frame at its own time with its own pixels.
TEST(VideoWriterTest, RepeatedBuffersKeepEveryFrame) {
    struct Case {
        std::string background;
        std::int64_t encoded, reused;
    } cases[] = {{"transparent", 2, 6}, {"black", 8, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.background);
        TempFolder folder;
        const fs::path target = folder.path() / "out.mov";
        auto opened = VideoWriter::configure(target, settingsFor("mov", c.background, 29.97));
        ASSERT_TRUE(opened.ok());
        VideoWriter& writer = *opened.value();
        auto block = blockBuffer(writer);
        // blank, blank, block x4, blank, block
        std::vector<bool> isBlock = {false, false, true, true, true, true, false, true};
        for (size_t i = 0; i < isBlock.size(); ++i) {
            auto buffer = isBlock[i] ? block : writer.blankPixelBuffer();
            ASSERT_FALSE(writer.appendPixelBuffer(buffer, static_cast<std::int64_t>(i)).has_value());
        }
        ASSERT_FALSE(writer.finish().has_value());
        EXPECT_EQ(writer.framesEncoded(), c.encoded);
        EXPECT_EQ(writer.packetsReused(), c.reused);
        EXPECT_EQ(writer.framesAppended(), 8);

        auto movie = probeMovie(target);
        ASSERT_TRUE(movie.has_value());
        ASSERT_EQ(movie->frames.size(), isBlock.size());
        for (size_t i = 0; i < isBlock.size(); ++i) {
            EXPECT_NEAR(movie->frames[i].seconds, i * 1001 / 30000.0, 1e-9) << i;
            const int alphaInside = movie->frames[i].pixel(150, 85)[3];
            if (c.background == "transparent") EXPECT_TRUE(near(alphaInside, isBlock[i] ? 128 : 0, 2)) << i;
            else EXPECT_TRUE(near(movie->frames[i].pixel(150, 85)[0], isBlock[i] ? 128 : 0, 6)) << i;
        }
    }
}

TEST(VideoWriterTest, ExactFrameRates) {
    struct Case {
        double fps;
        int num, den;
    } cases[] = {
        {30, 30, 1},          {25, 25, 1},          {48, 48, 1},         {240, 240, 1},
        {30.003, 30, 1},      {29.97, 30000, 1001}, {29.97002997, 30000, 1001},
        {23.976, 24000, 1001}, {23.98, 24000, 1001}, {59.94, 60000, 1001}, {119.88, 120000, 1001},
        {47.952, 48000, 1001}, {14.985, 15000, 1001},
        // Neither: the nearest fraction.
        {29.9, 299, 10},      {12.5, 25, 2},        {0.5, 1, 2},         {29.95, 599, 20},
        // No rate at all.
        {0, 0, 1},            {-25, 0, 1},          {NAN, 0, 1},         {INFINITY, 0, 1},
    };
    for (const auto& c : cases) {
        const AVRational rate = exactFrameRate(c.fps);
        EXPECT_EQ(rate.num, c.num) << c.fps;
        EXPECT_EQ(rate.den, c.den) << c.fps;
    }
}

// Editing software reads a constant frame rate only when every frame lasts
// exactly as long: the stream's rates are the exact fraction, and every
// frame's step in the container is the same number of units.
TEST(VideoWriterTest, FrameRatesAreExactAndFramesEvenlySpaced) {
    struct Case {
        double fps;
        testing::Rational rate;
    } cases[] = {
        {23.976, {24000, 1001}}, {24, {24, 1}}, {25, {25, 1}},   {29.97, {30000, 1001}}, {30, {30, 1}},
        {48, {48, 1}},           {50, {50, 1}}, {59.94, {60000, 1001}}, {60, {60, 1}},
    };
    // Long enough for any rounding of the times to show as an uneven step.
    constexpr int kFrames = 125;
    for (const auto& [background, format] : {std::pair{"transparent", "mov"}, {"black", "mp4"}}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(background) + " at " + std::to_string(c.fps));
            TempFolder folder;
            const fs::path target = folder.path() / (std::string("out.") + format);
            auto writer = VideoWriter::configure(target, settingsFor(format, background, c.fps));
            ASSERT_TRUE(writer.ok()) << writer.error().message;
            auto blank = writer.value()->blankPixelBuffer();
            for (int i = 0; i < kFrames; ++i) ASSERT_FALSE(writer.value()->appendPixelBuffer(blank, i).has_value());
            ASSERT_FALSE(writer.value()->finish().has_value());

            auto movie = probeMovie(target);
            ASSERT_TRUE(movie.has_value());
            EXPECT_EQ(movie->averageFrameRate, c.rate);
            EXPECT_EQ(movie->realFrameRate, c.rate);
            ASSERT_EQ(movie->frames.size(), size_t(kFrames));
            // One frame lasts tb.den * rate.den / (tb.num * rate.num) units.
            const testing::Rational tb = movie->timeBase;
            const std::int64_t units = std::int64_t(tb.den) * c.rate.den;
            const std::int64_t per = std::int64_t(tb.num) * c.rate.num;
            ASSERT_EQ(units % per, 0) << "time base " << tb.num << "/" << tb.den;
            const std::int64_t step = units / per;
            EXPECT_EQ(movie->frames[0].pts, 0);
            for (int i = 1; i < kFrames; ++i)
                ASSERT_EQ(movie->frames[i].pts - movie->frames[i - 1].pts, step) << "frame " << i;
            ASSERT_EQ(movie->packetDurations.size(), size_t(kFrames));
            for (int i = 0; i < kFrames; ++i) ASSERT_EQ(movie->packetDurations[i], step) << "packet " << i;
        }
    }
}

// A buffer of opaque `inside` whose last four columns and rows are opaque
// `edge`: wide enough that the decoder's smoothing of the 2x2 colour blocks
// of 4:2:0 does not mix the two colours at the pixels looked at.
std::shared_ptr<PixelBuffer> edgedBuffer(VideoWriter& writer, std::array<std::uint32_t, 3> inside,
                                         std::array<std::uint32_t, 3> edge) {
    auto buffer = writer.makePixelBuffer();
    auto argb = [](std::array<std::uint32_t, 3> c) { return 0xff000000u | (c[0] << 16) | (c[1] << 8) | c[2]; };
    const int w = buffer->width(), h = buffer->height();
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(buffer->writableData() + y * buffer->stride());
        for (int x = 0; x < w; ++x) row[x] = argb(x >= w - 4 || y >= h - 4 ? edge : inside);
    }
    return buffer;
}

// H.264 in 4:2:0 codes colour per 2x2 block, so it needs even sides: an odd
// side gains one row or column that repeats the edge. ProRes 4444 keeps the
// exact size.
TEST(VideoWriterTest, OddSizesAreWrittenWithTheirEdges) {
    struct Case {
        std::string format, background;
        int width, height;
        int codedWidth, codedHeight;
    } cases[] = {
        {"mov", "transparent", 641, 361, 641, 361},
        {"mov", "black", 641, 361, 642, 362},
        {"mp4", "black", 321, 180, 322, 180},
        {"mp4", "black", 320, 181, 320, 182},
        {"mov", "black", 320, 180, 320, 180},
    };
    const std::array<std::uint32_t, 3> inside = {40, 60, 200}, edge = {230, 200, 20};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.background + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        TempFolder folder;
        const fs::path target = folder.path() / ("out." + c.format);
        auto settings = settingsFor(c.format, c.background);
        settings.width = c.width;
        settings.height = c.height;
        auto writer = VideoWriter::configure(target, settings);
        ASSERT_TRUE(writer.ok()) << writer.error().message;
        auto buffer = edgedBuffer(*writer.value(), inside, edge);
        for (int i = 0; i < 2; ++i) ASSERT_FALSE(writer.value()->appendPixelBuffer(buffer, i).has_value());
        ASSERT_FALSE(writer.value()->finish().has_value());

        auto movie = probeMovie(target);
        ASSERT_TRUE(movie.has_value());
        ASSERT_EQ(movie->frames.size(), 2u);
        for (const auto& frame : movie->frames) {
            ASSERT_EQ(frame.width, c.codedWidth);
            ASSERT_EQ(frame.height, c.codedHeight);
            auto expectColour = [&](int x, int y, const std::array<std::uint32_t, 3>& colour) {
                auto p = frame.pixel(x, y);
                for (int k = 0; k < 3; ++k)
                    EXPECT_TRUE(near(p[k], int(colour[k]), 8)) << x << "," << y << " channel " << k << " = " << p[k];
                EXPECT_EQ(p[3], 255) << x << "," << y;
            };
            const int mid = c.height / 2, centre = c.width / 2;
            expectColour(centre, mid, inside);
            // The last column and row of the picture, and the added ones beyond them.
            for (int x = c.width - 1; x < c.codedWidth; ++x) expectColour(x, mid, edge);
            for (int y = c.height - 1; y < c.codedHeight; ++y) expectColour(centre, y, edge);
            expectColour(c.codedWidth - 1, c.codedHeight - 1, edge);
            expectColour(c.width - 8, mid, inside);
            expectColour(centre, c.height - 8, inside);
        }
    }
}

TEST(VideoWriterTest, RefusalsAreWriterErrorsAndLeaveNoFile) {
    struct Case {
        VideoWriterSettings settings;
        std::int64_t code;
        std::string message;
    } cases[] = {
        // MPEG-4 cannot carry ProRes.
        {settingsFor("mp4", "transparent"), 1, "Codec ProRes 4444 indisponible pour cette résolution."},
        {[] { auto s = settingsFor("mov", "black"); s.width = 16385; return s; }(), 1,
         "Codec H.264 indisponible pour cette résolution."},
        {[] { auto s = settingsFor("mov", "transparent"); s.height = 0; return s; }(), 1,
         "Codec ProRes 4444 indisponible pour cette résolution."},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const fs::path target = folder.path() / "out.mov";
        auto writer = VideoWriter::configure(target, c.settings);
        ASSERT_FALSE(writer.ok());
        EXPECT_EQ(writer.error().domain, "Kinetype");
        EXPECT_EQ(writer.error().code, c.code);
        EXPECT_EQ(writer.error().message, c.message);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

TEST(VideoWriterTest, AnExistingFileIsReplacedOnlyByAFinishedMovie) {
    TempFolder folder;
    const fs::path target = folder.path() / "Kinetype_Render.mov";
    for (bool finish : {false, true}) {
        SCOPED_TRACE(finish ? "finished" : "cancelled");
        { std::ofstream(target) << "an older file"; }
        auto writer = VideoWriter::configure(target, settingsFor("mov", "transparent"));
        ASSERT_TRUE(writer.ok());
        ASSERT_FALSE(writer.value()->appendPixelBuffer(writer.value()->blankPixelBuffer(), 0).has_value());
        if (finish) ASSERT_FALSE(writer.value()->finish().has_value());
        else writer.value()->cancel();
        EXPECT_FALSE(fs::exists(writer.value()->temporaryPath()));
        auto movie = probeMovie(target);
        EXPECT_EQ(movie.has_value(), finish);
        if (!finish) {
            EXPECT_EQ(readFile(target).value_or(""), "an older file");
        }
    }
}

TEST(VideoWriterTest, AFinishThatCannotPlaceTheFileFailsAndCleansUp) {
    TempFolder folder;
    // A folder with contents stands where the movie should go: the rename fails.
    const fs::path target = folder.path() / "out.mov";
    fs::create_directories(target / "inside");
    auto writer = VideoWriter::configure(target, settingsFor("mov", "transparent"));
    ASSERT_TRUE(writer.ok());
    ASSERT_FALSE(writer.value()->appendPixelBuffer(writer.value()->blankPixelBuffer(), 0).has_value());
    auto failure = writer.value()->finish();
    ASSERT_TRUE(failure.has_value());
    EXPECT_FALSE(fs::exists(writer.value()->temporaryPath()));
    EXPECT_TRUE(fs::is_directory(target / "inside"));
}

TEST(VideoWriterTest, FramesOutOfOrderAreRefused) {
    TempFolder folder;
    auto writer = VideoWriter::configure(folder.path() / "out.mov", settingsFor("mov", "transparent"));
    ASSERT_TRUE(writer.ok());
    auto blank = writer.value()->blankPixelBuffer();
    ASSERT_FALSE(writer.value()->appendPixelBuffer(blank, 3).has_value());
    EXPECT_TRUE(writer.value()->appendPixelBuffer(blank, 3).has_value());
    EXPECT_TRUE(writer.value()->appendPixelBuffer(blank, 1).has_value());
}

// A buffer drawn over after an append is encoded anew, whichever way it was
// written, and the frame already appended keeps the pixels it had: the kept
// packet belongs to the old pixels, and a write waits while the writer still
// has to read them.
TEST(VideoWriterTest, AWriteAfterAnAppendNeverReusesTheOldPacket) {
    enum class Write { None, Data, Surface };
    struct Case {
        std::string name;
        Write write;
        std::int64_t encoded, reused;
    } cases[] = {
        {"appended again as it was", Write::None, 1, 1},
        {"rewritten through writableData", Write::Data, 2, 0},
        {"redrawn through writableSurface", Write::Surface, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const fs::path target = folder.path() / "out.mov";
        auto opened = VideoWriter::configure(target, settingsFor("mov", "transparent"));
        ASSERT_TRUE(opened.ok());
        VideoWriter& writer = *opened.value();
        auto buffer = blockBuffer(writer);
        ASSERT_FALSE(writer.appendPixelBuffer(buffer, 0).has_value());
        // Straight away, while the frame may still wait for the encoder: the
        // block goes, and an opaque square appears at the top left.
        if (c.write == Write::Data) {
            unsigned char* data = buffer->writableData();
            std::memset(data, 0, static_cast<size_t>(buffer->stride()) * kHeight);
            for (int y = 10; y < 40; ++y)
                for (int x = 10; x < 40; ++x) reinterpret_cast<std::uint32_t*>(data + y * buffer->stride())[x] = 0xffffffffu;
        } else if (c.write == Write::Surface) {
            auto cr = CairoPtr::adopt(cairo_create(buffer->writableSurface()));
            cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
            cairo_set_source_rgba(cr.get(), 0, 0, 0, 0);
            cairo_paint(cr.get());
            cairo_set_source_rgba(cr.get(), 1, 1, 1, 1);
            cairo_rectangle(cr.get(), 10, 10, 30, 30);
            cairo_fill(cr.get());
        }
        ASSERT_FALSE(writer.appendPixelBuffer(buffer, 1).has_value());
        ASSERT_FALSE(writer.finish().has_value());
        EXPECT_EQ(writer.framesEncoded(), c.encoded);
        EXPECT_EQ(writer.packetsReused(), c.reused);

        auto movie = probeMovie(target);
        ASSERT_TRUE(movie.has_value());
        ASSERT_EQ(movie->frames.size(), 2u);
        EXPECT_TRUE(near(movie->frames[0].pixel(150, 85)[3], 128, 2));
        EXPECT_EQ(movie->frames[0].pixel(20, 20)[3], 0);
        const bool rewritten = c.write != Write::None;
        EXPECT_TRUE(near(movie->frames[1].pixel(150, 85)[3], rewritten ? 0 : 128, 2));
        EXPECT_EQ(movie->frames[1].pixel(20, 20)[3], rewritten ? 255 : 0);
    }
}

// Frames of noise, so that every packet is large.
void fillWithNoise(PixelBuffer& buffer, std::mt19937& random) {
    unsigned char* data = buffer.writableData();
    for (int y = 0; y < buffer.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + y * buffer.stride());
        for (int x = 0; x < buffer.width(); ++x) row[x] = 0xff000000u | (random() & 0xffffffu);
    }
}

// The file stops growing in the middle of a render (a full disk, here a file
// size limit): the encoding thread's write error comes back from an append
// or from finish(), stays, and nothing is left behind.
TEST(VideoWriterDeathTest, AWriteErrorOfTheEncodingThreadEndsTheMovie) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const std::string background : {"transparent", "black"}) {
        SCOPED_TRACE(background);
        auto run = [&background]() -> int {
            TempFolder folder;
            const rlimit limit{256 * 1024, 256 * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_IGN);
            const fs::path target = folder.path() / "out.mov";
            auto opened = VideoWriter::configure(target, settingsFor("mov", background));
            if (!opened.ok()) return 2;
            VideoWriter& writer = *opened.value();
            std::mt19937 random(7);
            std::optional<Error> failure;
            for (int i = 0; i < 200 && !failure; ++i) {
                auto buffer = writer.makePixelBuffer();
                fillWithNoise(*buffer, random);
                failure = writer.appendPixelBuffer(buffer, i);
            }
            if (failure) {
                // Every later append gives the same error.
                auto again = writer.appendPixelBuffer(writer.blankPixelBuffer(), 1000);
                if (!again || again->message != failure->message) return 3;
                writer.cancel();
            } else {
                failure = writer.finish();
            }
            if (!failure || failure->message.rfind("Écriture: ", 0) != 0) return 4;
            if (fs::exists(target) || fs::exists(writer.temporaryPath())) return 5;
            return 0;
        };
        EXPECT_EXIT(std::exit(run()), ::testing::ExitedWithCode(0), "");
    }
}

TEST(VideoWriterTest, CancellingWithFramesQueuedLeavesNothing) {
    TempFolder folder;
    const fs::path target = folder.path() / "out.mov";
    auto opened = VideoWriter::configure(target, settingsFor("mov", "transparent"));
    ASSERT_TRUE(opened.ok());
    VideoWriter& writer = *opened.value();
    std::mt19937 random(3);
    auto last = writer.makePixelBuffer();
    for (int i = 0; i < 6; ++i) {
        last = writer.makePixelBuffer();
        fillWithNoise(*last, random);
        ASSERT_FALSE(writer.appendPixelBuffer(last, i).has_value());
    }
    writer.cancel();
    // The writer let go of the queued frames: they can be written at once.
    EXPECT_NE(last->writableData(), nullptr);
    EXPECT_TRUE(writer.appendPixelBuffer(last, 6).has_value());
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

}  // namespace
}  // namespace tessivo
