// The render job against a fake engine with real queues, and native frames
// scripted frame by frame; shared by the job's and the page loop's tests.
#pragma once

#include "render/render_job.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace tessivo::testing {

// The engine as the job sees it: real queues, recorded page signals.
class FakeEngine final : public EngineContext, public std::enable_shared_from_this<FakeEngine> {
public:
    class Panel final : public SavePanel {
    public:
        std::optional<fs::path> answer;
        std::vector<SavePanelRequest> requests;
        void chooseOutputFile(const SavePanelRequest& request,
                              std::function<void(std::optional<fs::path>)> done) override {
            requests.push_back(request);
            done(answer);
        }
    };

    Queue& mainQueue() override { return main_; }
    Queue& exportQueue() override { return export_; }
    Queue& resolveOperationQueue() override { return export_; }
    Queue& fusionTimelineWatchQueue() override { return export_; }
    void callWebFunction(const std::string&, const Json&) override {}
    void fusionCallback(const std::string&, Json) override {}
    void evaluatePageSignal(const std::string& script) override { signals.push_back(script); }
    const PublishedState& published() const override { return state; }
    void setRendering(bool rendering) override { state.isRendering = rendering; }
    void setRenderProgress(double progress) override {
        state.renderProgress = progress;
        progressSeen.push_back(progress);
    }
    void setRenderSize(int width, int height) override {
        state.renderWidth = width;
        state.renderHeight = height;
    }
    SavePanel* savePanel() override { return panelInstalled ? &panel : nullptr; }
    const RenderSurfaceFactory& renderSurfaceFactory() const override { return surfaceFactory; }
    void handleWebMessage(const Json& message) override {
        if (onMessage) onMessage(message);
    }
    [[noreturn]] PythonRunner& runner() override { std::abort(); }
    [[noreturn]] Settings& settings() override { std::abort(); }
    std::weak_ptr<EngineContext> weakContext() override { return weak_from_this(); }

    // Runs the main context until the job has answered and both queues are quiet.
    void runUntilAnswered() {
        runMainContextUntil([this] {
            return !signals.empty() && main_.pendingCount() == 0 && export_.pendingCount() == 0;
        });
    }

    Panel panel;
    bool panelInstalled = true;
    RenderSurfaceFactory surfaceFactory;
    std::function<void(const Json&)> onMessage;
    PublishedState state;
    std::vector<std::string> signals;
    std::vector<double> progressSeen;

private:
    MainQueue main_;
    SerialQueue export_{"kinetype.export.queue"};
};

// Frames by index at 30 fps: 'E' empty, 'A'/'B' static with that key, 'D'
// dynamic. A non-empty frame is one opaque-white block whose width encodes
// the frame's look, so that a reused frame would show in the pixels.
class ScriptedSource final : public NativeFrameSource {
public:
    ScriptedSource(int width, int height, std::string script, int delayMs)
        : width_(width), height_(height), script_(std::move(script)), delayMs_(delayMs) {}
    State frameState(double time) const override {
        char c = at(time);
        if (c == 'E') return {Kind::Empty, {}};
        if (c == 'D') return {Kind::Dynamic, {}};
        return {Kind::Static, std::string(1, c)};
    }
    void drawFrame(double time, unsigned char* data, int stride) override {
        if (delayMs_) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        std::memset(data, 0, static_cast<size_t>(stride) * height_);
        const int blockWidth = blockWidthFor(at(time), index(time));
        for (int y = 20; y < 60; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
            for (int x = 10; x < 10 + blockWidth && x < width_; ++x) row[x] = 0xffffffffu;
        }
    }
    static int blockWidthFor(char c, int index) {
        if (c == 'A') return 40;
        if (c == 'B') return 80;
        return 100 + 4 * index;  // dynamic: differs every frame
    }
    int index(double time) const { return static_cast<int>(std::lround(time * 30)); }
    char at(double time) const { return script_[std::min<size_t>(index(time), script_.size() - 1)]; }

private:
    int width_, height_;
    std::string script_;
    int delayMs_;
};

class RenderJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tessivo-job-" + makeUUID());
        fs::create_directories(folder);
        engine = std::make_shared<FakeEngine>();
        job = std::make_unique<RenderJob>(*engine);
    }
    void TearDown() override {
        job.reset();
        engine.reset();
        fs::remove_all(folder);
    }
    void useScript(std::string script, int delayMs = 0) {
        job->setNativeFrameSourceFactory([script, delayMs](int w, int h, std::vector<NativeTextSequence>) {
            return std::make_unique<ScriptedSource>(w, h, script, delayMs);
        });
    }
    static Json nativeParams(double seconds, std::string format = "mov") {
        return Json{{"width", 320},   {"height", 180}, {"start", 0},          {"end", seconds},
                    {"fps", 30},      {"format", format}, {"renderer", "native"},
                    {"sequences", Json::array({Json{{"text", "x"}}})}};
    }
    bool folderIsEmpty() const { return fs::is_empty(folder); }

    fs::path folder;
    std::shared_ptr<FakeEngine> engine;
    std::unique_ptr<RenderJob> job;
};

}  // namespace tessivo::testing
