#include "render/frame_reuse.h"

#include "platform/files.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

using Kind = FrameReuse::Kind;
using Action = FrameReuse::Action;

class FrameReuseTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tessivo-reuse-" + makeUUID());
        fs::create_directories(folder);
        VideoWriterSettings settings;
        settings.width = 64;
        settings.height = 36;
        settings.fps = 30;
        auto opened = VideoWriter::configure(folder / "out.mov", settings);
        ASSERT_TRUE(opened.ok());
        writer = std::move(opened).value();
        reuse = std::make_unique<FrameReuse>(*writer);
    }
    void TearDown() override {
        reuse.reset();
        writer.reset();
        fs::remove_all(folder);
    }
    fs::path folder;
    std::unique_ptr<VideoWriter> writer;
    std::unique_ptr<FrameReuse> reuse;
};

// A run of frames as a loop sees them: what each needs, and which static
// frame is kept afterwards.
TEST_F(FrameReuseTest, StaticFramesAreKeptUntilAnotherFrameIsDrawn) {
    struct Step {
        Kind kind;
        std::optional<std::string> key;
        Action action;
        std::optional<std::string> keptAfter;
    } steps[] = {
        {Kind::Empty, {}, Action::Blank, {}},
        {Kind::Static, "A", Action::Draw, "A"},
        {Kind::Static, "A", Action::Reuse, "A"},
        {Kind::Empty, {}, Action::Blank, "A"},  // a blank frame leaves the kept one
        {Kind::Static, "A", Action::Reuse, "A"},
        {Kind::Static, "B", Action::Draw, "B"},
        {Kind::Static, "A", Action::Draw, "A"},
        {Kind::Dynamic, {}, Action::Draw, {}},
        {Kind::Static, "A", Action::Draw, "A"},
        {Kind::Static, {}, Action::Draw, {}},  // static without a key is drawn and not kept
        {Kind::Static, {}, Action::Draw, {}},
        {Kind::Dynamic, "A", Action::Draw, {}},
    };
    std::shared_ptr<PixelBuffer> kept;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(index++);
        const Action action = reuse->plan(step.kind, step.key);
        ASSERT_EQ(action, step.action);
        std::shared_ptr<PixelBuffer> buffer;
        if (action == Action::Draw) {
            buffer = reuse->drawingBuffer();
            ASSERT_NE(buffer, nullptr);
            EXPECT_NE(buffer, kept);  // the kept frame is never drawn over
            reuse->drawn(buffer, step.kind, step.key);
            if (step.keptAfter) kept = buffer;
        } else {
            buffer = reuse->reusedBuffer(action);
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(buffer, action == Action::Blank ? writer->blankPixelBuffer() : kept);
        }
        EXPECT_EQ(reuse->keptKey(), step.keptAfter);
        if (!step.keptAfter) kept.reset();
    }
    reuse->clear();
    EXPECT_EQ(reuse->keptKey(), std::nullopt);
    EXPECT_EQ(reuse->reusedBuffer(Action::Reuse), nullptr);
}

TEST_F(FrameReuseTest, DrawingBuffersComeBackOnlyWhenNobodyElseHoldsThem) {
    auto first = reuse->drawingBuffer();
    reuse->drawn(first, Kind::Dynamic, std::nullopt);
    auto second = reuse->drawingBuffer();
    EXPECT_NE(second, first);  // still held here, as by the writer's queue
    reuse->drawn(second, Kind::Dynamic, std::nullopt);
    PixelBuffer* firstAddress = first.get();
    first.reset();
    second.reset();
    EXPECT_EQ(reuse->drawingBuffer().get(), firstAddress);

    // However many are held, a new one is made; the pool stays bounded.
    std::vector<std::shared_ptr<PixelBuffer>> held;
    for (size_t i = 0; i < FrameReuse::kPooledBuffers + 3; ++i) held.push_back(reuse->drawingBuffer());
    for (size_t i = 0; i < held.size(); ++i)
        for (size_t j = i + 1; j < held.size(); ++j) EXPECT_NE(held[i], held[j]);
}

}  // namespace
}  // namespace tessivo
