#include "render/native_frame_loop.h"

#include "platform/log.h"
#include "render/native_text_renderer.h"

namespace tessivo {

namespace {

class CaptionFrameSource final : public NativeFrameSource {
public:
    CaptionFrameSource(int width, int height, std::vector<NativeTextSequence> sequences)
        : renderer_(width, height, std::move(sequences)) {}
    State frameState(double time) const override {
        FrameState state = renderer_.frameState(time);
        switch (state.kind) {
            case FrameKind::Empty: return {Kind::Empty, {}};
            case FrameKind::Static: return {Kind::Static, std::move(state.key)};
            case FrameKind::Dynamic: break;
        }
        return {Kind::Dynamic, {}};
    }
    void drawFrame(double time, unsigned char* data, int stride) override { renderer_.drawFrame(time, data, stride); }

private:
    NativeCaptionRenderer renderer_;
};

// A project without caption blocks: the range is written as blank frames.
class NoCaptionSource final : public NativeFrameSource {
public:
    State frameState(double) const override { return {Kind::Empty, {}}; }
    void drawFrame(double, unsigned char*, int) override {}
};

FrameReuse::Kind reuseKind(NativeFrameSource::Kind kind) {
    switch (kind) {
        case NativeFrameSource::Kind::Empty: return FrameReuse::Kind::Empty;
        case NativeFrameSource::Kind::Static: return FrameReuse::Kind::Static;
        case NativeFrameSource::Kind::Dynamic: break;
    }
    return FrameReuse::Kind::Dynamic;
}

}  // namespace

std::unique_ptr<NativeFrameSource> makeCaptionFrameSource(int width, int height,
                                                          std::vector<NativeTextSequence> sequences) {
    return std::make_unique<CaptionFrameSource>(width, height, std::move(sequences));
}

void runNativeFrameLoop(FrameLoopHost& host, const std::shared_ptr<RenderSession>& session,
                        const NativeFrameSourceFactory& factory) {
    EngineContext& engine = host.engine();
    std::weak_ptr<EngineContext> weak = engine.weakContext();
    const std::uint64_t id = session->id;
    const RenderParams& p = session->settings;
    auto sequences = nativeSequences(session->params);
    std::unique_ptr<NativeFrameSource> source;
    if (sequences.empty()) source = std::make_unique<NoCaptionSource>();
    else source = factory(p.width, p.height, std::move(sequences));
    FrameReuse& reuse = *session->reuse;
    RenderMetrics& metrics = host.loopMetrics();
    FrameLoopHost* hostPointer = &host;

    for (std::int64_t i = 0; i < session->totalFrames; ++i) {
        if (session->cancelled || weak.expired()) return;
        const double t = p.start + static_cast<double>(i) / p.fps;
        const NativeFrameSource::State state = source->frameState(t);
        const FrameReuse::Kind kind = reuseKind(state.kind);
        const std::optional<std::string> key =
            state.kind == NativeFrameSource::Kind::Static ? std::optional<std::string>(state.key) : std::nullopt;
        const FrameReuse::Action action = reuse.plan(kind, key);

        std::shared_ptr<PixelBuffer> buffer;
        if (action == FrameReuse::Action::Draw) {
            buffer = reuse.drawingBuffer();
            if (buffer) {
                source->drawFrame(t, buffer->writableData(), buffer->stride());
                reuse.drawn(buffer, kind, key);
            }
        } else {
            buffer = reuse.reusedBuffer(action);
            if (buffer && action == FrameReuse::Action::Blank) metrics.addBlankFrame();
            if (buffer && action == FrameReuse::Action::Reuse) metrics.addReusedFrame();
        }
        if (!buffer) {
            host.scheduleCancel(id, "mémoire insuffisante pour une image");
            return;
        }
        if (auto failed = session->append(buffer)) {
            logLine("Erreur append natif: " + failed->message);
            host.scheduleCancel(id, failed->message);
            return;
        }
        if (i % 3 == 0 || i + 1 == session->totalFrames) {
            const std::int64_t appended = i + 1;
            engine.mainQueue().post([hostPointer, weak, id, appended] {
                if (weak.lock()) hostPointer->framesAppended(id, appended);
            });
        }
    }
}

}  // namespace tessivo
