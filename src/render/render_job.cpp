#include "render/render_job.h"

#include "bridge/caption_sequence.h"
#include "bridge/coercion.h"
#include "platform/files.h"
#include "platform/log.h"
#include "render/native_text_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale>
#include <sstream>

namespace tessivo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRenderComplete = "window.onRenderComplete()";
constexpr const char* kRenderCancelled = "window.onRenderCancelled()";

const Json* jsonMember(const Json& params, const char* key) { return member(params, key); }

std::optional<std::string> textParam(const Json& params, const char* key) {
    const Json* value = jsonMember(params, key);
    if (value && value->is_string()) return value->get<std::string>();
    return std::nullopt;
}

std::optional<double> numberParam(const Json& params, const char* key) {
    const Json* value = jsonMember(params, key);
    if (value && value->is_number()) return value->get<double>();
    return std::nullopt;
}

std::optional<int> integerParam(const Json& params, const char* key) {
    const Json* value = jsonMember(params, key);
    if (!value || !value->is_number()) return std::nullopt;
    if (value->is_number_integer()) {
        if (value->is_number_unsigned()) {
            auto v = value->get<std::uint64_t>();
            if (v > std::uint64_t(std::numeric_limits<int>::max())) return std::nullopt;
            return int(v);
        }
        auto v = value->get<std::int64_t>();
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return std::nullopt;
        return int(v);
    }
    // A real with an integral value (1280.0) is an integer too.
    double v = value->get<double>();
    if (!std::isfinite(v) || v != std::trunc(v) || v < std::numeric_limits<int>::min() ||
        v > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(v);
}

// The leading decimal number of `text` (white space before it skipped), in the C locale.
std::optional<double> leadingNumber(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t begin = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        size_t exponentDigits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j, ++exponentDigits;
        if (exponentDigits > 0) i = j;
    }
    std::istringstream stream(text.substr(begin, i - begin));
    stream.imbue(std::locale::classic());
    double value = 0;
    stream >> value;
    if (stream.fail()) return std::nullopt;
    return value;
}

std::optional<double> parseFrameRate(const Json* value) {
    if (!value) return std::nullopt;
    std::optional<double> parsed;
    if (value->is_boolean()) parsed = value->get<bool>() ? 1.0 : 0.0;
    else if (value->is_number()) parsed = value->get<double>();
    else if (value->is_string()) parsed = leadingNumber(value->get<std::string>());
    if (parsed && *parsed > 0 && *parsed <= 240) return parsed;
    return std::nullopt;
}

double secondsBetween(RenderMetrics::TimePoint from, RenderMetrics::TimePoint to) {
    return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

// The caption renderer behind the loop's interface.
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

}  // namespace

// ---- Render params ----

RenderParams RenderParams::read(const Json& params) {
    RenderParams p;
    if (auto v = integerParam(params, "width")) p.width = *v;
    if (auto v = integerParam(params, "height")) p.height = *v;
    if (auto v = numberParam(params, "start")) p.start = *v;
    if (auto v = numberParam(params, "end")) p.end = *v;
    p.fps = normalizedFrameRate(member(params, "fps"), 60);
    if (auto v = textParam(params, "format")) p.format = *v;
    if (auto v = textParam(params, "encoding")) p.encoding = *v;
    if (auto v = textParam(params, "renderer")) p.renderer = *v;
    p.background = p.format == "mov" ? "transparent" : "black";
    if (auto v = textParam(params, "bg")) p.background = *v;
    return p;
}

double normalizedFrameRate(const Json* value, const Json* fallback) {
    if (auto parsed = parseFrameRate(value)) return *parsed;
    if (auto parsed = parseFrameRate(fallback)) return *parsed;
    return 30;
}

double normalizedFrameRate(const Json* value, double fallback) {
    const Json fallbackValue = fallback;
    return normalizedFrameRate(value, &fallbackValue);
}

std::optional<std::int64_t> renderFrameCount(double start, double end, double fps) {
    const double length = end - start;
    if (!std::isfinite(length) || !std::isfinite(fps) || fps <= 0) return std::nullopt;
    if (length > kMaximumRenderSeconds) return std::nullopt;
    const double frames = std::ceil(length * fps);
    return std::max<std::int64_t>(1, frames > 1 ? static_cast<std::int64_t>(frames) : 1);
}

// ---- Metrics ----

void RenderMetrics::reset(TimePoint startedAt) {
    std::lock_guard lock(mutex_);
    startedAt_ = startedAt;
    writerReadyAt_.reset();
    renderReadyAt_.reset();
    encodingFinishedAt_.reset();
    insertionStartedAt_.reset();
    snapshotCount_ = 0;
    snapshotSeconds_ = 0;
    reusedFrameCount_ = 0;
    blankFrameCount_ = 0;
    totalFrameCount_ = 0;
}

void RenderMetrics::setWriterReady(TimePoint at) { std::lock_guard lock(mutex_); writerReadyAt_ = at; }
void RenderMetrics::setRenderReady(TimePoint at) { std::lock_guard lock(mutex_); renderReadyAt_ = at; }
void RenderMetrics::setEncodingFinished(TimePoint at) { std::lock_guard lock(mutex_); encodingFinishedAt_ = at; }
void RenderMetrics::setInsertionStarted(TimePoint at) { std::lock_guard lock(mutex_); insertionStartedAt_ = at; }
void RenderMetrics::setTotalFrames(std::int64_t frames) { std::lock_guard lock(mutex_); totalFrameCount_ = frames; }
void RenderMetrics::addReusedFrame() { std::lock_guard lock(mutex_); ++reusedFrameCount_; }
void RenderMetrics::addBlankFrame() { std::lock_guard lock(mutex_); ++blankFrameCount_; }
void RenderMetrics::addSnapshot(double seconds) {
    std::lock_guard lock(mutex_);
    ++snapshotCount_;
    snapshotSeconds_ += seconds;
}
std::int64_t RenderMetrics::totalFrames() const { std::lock_guard lock(mutex_); return totalFrameCount_; }
std::int64_t RenderMetrics::reusedFrames() const { std::lock_guard lock(mutex_); return reusedFrameCount_; }
std::int64_t RenderMetrics::blankFrames() const { std::lock_guard lock(mutex_); return blankFrameCount_; }

Json RenderMetrics::payload(TimePoint finishedAt) const {
    std::lock_guard lock(mutex_);
    const TimePoint started = startedAt_.value_or(finishedAt);
    const TimePoint writerReady = writerReadyAt_.value_or(started);
    const TimePoint renderReady = renderReadyAt_.value_or(writerReady);
    const TimePoint encodingFinished = encodingFinishedAt_.value_or(renderReady);
    const TimePoint insertionStarted = insertionStartedAt_.value_or(encodingFinished);
    const double capture = std::max(0.0, snapshotSeconds_);
    const double render = secondsBetween(renderReady, encodingFinished);
    Json payload = Json::object();
    payload["totalFrames"] = totalFrameCount_;
    payload["snapshots"] = snapshotCount_;
    payload["reusedFrames"] = reusedFrameCount_;
    payload["blankFrames"] = blankFrameCount_;
    payload["preparationSeconds"] = secondsBetween(started, renderReady);
    payload["captureSeconds"] = capture;
    payload["renderSeconds"] = render;
    payload["encodingSeconds"] = std::max(0.0, render - capture);
    payload["insertionSeconds"] = secondsBetween(insertionStarted, finishedAt);
    payload["elapsedSeconds"] = secondsBetween(started, finishedAt);
    return payload;
}

// ---- The job ----

// What a job shares with the export queue. The fields above `cancelled` are
// fixed when the job starts; the writer and the reuse buffers belong to the
// export queue.
struct RenderJob::Session {
    std::uint64_t id = 0;
    fs::path url;
    Json params;
    RenderParams settings;
    std::int64_t totalFrames = 0;
    std::atomic<bool> cancelled{false};

    std::unique_ptr<VideoWriter> writer;
    std::int64_t nextFrame = 0;
    std::optional<std::string> lastStaticReuseKey;
    std::shared_ptr<PixelBuffer> lastStaticPixelBuffer;
    bool fileCompleted = false;  // the movie stands complete at `url`
};

RenderJob::RenderJob(EngineContext& engine) : engine_(engine) {
    sourceFactory_ = [](int width, int height, std::vector<NativeTextSequence> sequences) {
        return std::unique_ptr<NativeFrameSource>(new CaptionFrameSource(width, height, std::move(sequences)));
    };
}

RenderJob::~RenderJob() {
    if (session_) session_->cancelled = true;
}

void RenderJob::resetExportMetrics(RenderMetrics::TimePoint startedAt) {
    metrics_.reset(startedAt);
    pendingRenderRequestID_.reset();
}

void RenderJob::startExport(const Json& params) {
    if (isRendering()) return;
    const std::string format = textParam(params, "format").value_or("mov");
    SavePanel* panel = engine_.savePanel();
    if (!panel) {
        cancelExport("aucun panneau d'enregistrement");
        return;
    }
    SavePanelRequest request{"Enregistrer la video", "Kinetype_Render." + format, format};
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    panel->chooseOutputFile(request, [this, weak, params](std::optional<fs::path> chosen) {
        if (!weak.lock()) return;
        if (chosen && !chosen->empty()) executeExport(*chosen, params);
        else cancelExport("aucun fichier choisi");
    });
}

void RenderJob::executeExport(const fs::path& to, const Json& params) {
    if (session_) {
        // One job at a time: a new job replaces a running one only after it is cancelled.
        cancelExport();
    }
    resetExportMetrics(RenderMetrics::Clock::now());
    const RenderParams settings = RenderParams::read(params);
    engine_.setRenderSize(settings.width, settings.height);

    const auto frames = renderFrameCount(settings.start, settings.end, settings.fps);
    if (!frames) {
        const std::string reason = "plage de rendu refusée (" + numberText(settings.start) + " à " +
                                   numberText(settings.end) + " s)";
        logLine("Erreur renderer: " + reason);
        cancelExport(reason);
        return;
    }

    auto session = std::make_shared<Session>();
    session->id = ++currentJobID_;
    session->url = to;
    session->params = params;
    session->settings = settings;
    session->totalFrames = *frames;
    session_ = session;
    totalFrames_ = *frames;
    currentFrame_ = 0;
    metrics_.setTotalFrames(*frames);
    engine_.setRenderProgress(0);
    engine_.setRendering(true);

    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, session] {
        if (!weak.lock() || session->cancelled) return;
        prepareWriter(session);
        if (!session->writer) return;
        if (session->settings.renderer == "native") {
            renderNativeFrames(session);
            return;
        }
        // The render page path is not available in this build.
        const std::uint64_t id = session->id;
        engine_.mainQueue().post([this, weak, id] {
            if (!weak.lock() || !isCurrent(id)) return;
            const std::string reason = "rendu par la page indisponible, utiliser \"renderer\": \"native\"";
            logLine("Erreur renderer: " + reason);
            cancelExport(reason);
        });
    });
}

// Export queue.
void RenderJob::prepareWriter(const std::shared_ptr<Session>& session) {
    VideoWriterSettings settings;
    settings.width = session->settings.width;
    settings.height = session->settings.height;
    settings.fps = session->settings.fps;
    settings.format = session->settings.format;
    settings.background = session->settings.background;
    settings.timeScale = session->settings.renderer == "native" ? 600 : 60000;
    auto writer = VideoWriter::configure(session->url, settings);
    if (!writer) {
        logLine("Erreur AVFoundation: " + writer.error().message);
        scheduleCancel(session->id, writer.error().message);
        return;
    }
    session->writer = std::move(writer).value();
    metrics_.setWriterReady(RenderMetrics::Clock::now());
    std::string codecName = session->writer->codecName();
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    engine_.mainQueue().post([this, weak, codecName] {
        if (weak.lock()) selectedCodecName_ = codecName;
    });
}

// Export queue. Appends at the session's next frame index.
std::optional<Error> RenderJob::appendPixelBuffer(Session& session, const std::shared_ptr<PixelBuffer>& buffer) {
    if (!session.writer) return writerNotStartedError(kProRes4444Name);
    if (auto failed = session.writer->appendPixelBuffer(buffer, session.nextFrame)) return failed;
    ++session.nextFrame;
    return std::nullopt;
}

// Export queue. The whole native frame loop, one job item.
void RenderJob::renderNativeFrames(const std::shared_ptr<Session>& session) {
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    const std::uint64_t id = session->id;
    auto sequences = nativeSequences(session->params);
    if (sequences.empty()) {
        engine_.mainQueue().post([this, weak, id] {
            if (weak.lock()) finishExport(id);
        });
        return;
    }
    const RenderParams& p = session->settings;
    auto source = sourceFactory_(p.width, p.height, std::move(sequences));
    std::shared_ptr<PixelBuffer> spare;  // a drawn buffer nobody keeps, drawn over again

    for (std::int64_t i = 0; i < session->totalFrames; ++i) {
        if (session->cancelled || weak.expired()) return;
        const double t = p.start + static_cast<double>(i) / p.fps;
        const NativeFrameSource::State state = source->frameState(t);

        std::shared_ptr<PixelBuffer> buffer;
        if (state.kind == NativeFrameSource::Kind::Empty) {
            buffer = session->writer->blankPixelBuffer();
            if (buffer) metrics_.addBlankFrame();
        } else if (state.kind == NativeFrameSource::Kind::Static && session->lastStaticPixelBuffer &&
                   session->lastStaticReuseKey == state.key) {
            buffer = session->lastStaticPixelBuffer;
            metrics_.addReusedFrame();
        } else {
            if (spare && spare.use_count() == 1) buffer = std::move(spare);
            else buffer = session->writer->makePixelBuffer();
            if (buffer) {
                source->drawFrame(t, buffer->data(), buffer->stride());
                buffer->markDirty();
                if (state.kind == NativeFrameSource::Kind::Static) {
                    session->lastStaticReuseKey = state.key;
                    session->lastStaticPixelBuffer = buffer;
                } else {
                    session->lastStaticReuseKey.reset();
                    session->lastStaticPixelBuffer.reset();
                }
                spare = buffer;
            }
        }
        if (!buffer) {
            scheduleCancel(id, "mémoire insuffisante pour une image");
            return;
        }
        if (auto failed = appendPixelBuffer(*session, buffer)) {
            logLine("Erreur append natif: " + failed->message);
            scheduleCancel(id, failed->message);
            return;
        }
        if (i % 3 == 0 || i + 1 == session->totalFrames) {
            const std::int64_t appended = i + 1;
            engine_.mainQueue().post([this, weak, id, appended] {
                if (weak.lock()) publishProgress(id, appended);
            });
        }
    }
    engine_.mainQueue().post([this, weak, id] {
        if (weak.lock()) finishExport(id);
    });
}

void RenderJob::publishProgress(std::uint64_t jobID, std::int64_t appendedFrames) {
    if (!isCurrent(jobID)) return;
    currentFrame_ = appendedFrames;
    engine_.setRenderProgress(totalFrames_ > 0 ? double(appendedFrames) / double(totalFrames_) : 1.0);
}

// Main thread. Closes the file on the export queue, then completes on the main thread.
void RenderJob::finishExport(std::uint64_t jobID) {
    if (!isCurrent(jobID)) return;
    currentFrame_ = totalFrames_;
    engine_.setRenderProgress(1);
    auto session = session_;
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, session] {
        if (session->cancelled) return;
        std::optional<Error> failure;
        if (session->writer) failure = session->writer->finish();
        else failure = writerNotStartedError(kProRes4444Name);
        if (!failure) session->fileCompleted = true;
        // The writer and its buffers are done with; release them on this queue.
        session->writer.reset();
        session->lastStaticPixelBuffer.reset();
        const std::uint64_t id = session->id;
        engine_.mainQueue().post([this, weak, id, failure] {
            if (weak.lock()) completeExport(id, failure);
        });
    });
}

void RenderJob::completeExport(std::uint64_t jobID, std::optional<Error> failure) {
    if (!isCurrent(jobID)) return;
    if (failure) {
        // The file was not completed: no finished movie is left, and the page
        // hears of a cancellation rather than a completion.
        logLine("Erreur AVFoundation: " + failure->message);
        cancelExport(failure->message);
        return;
    }
    metrics_.setEncodingFinished(RenderMetrics::Clock::now());
    lastCancelReason_.clear();
    endJob(false);
    engine_.setRendering(false);
    engine_.setRenderProgress(1);
    engine_.evaluatePageSignal(kRenderComplete);
}

void RenderJob::scheduleCancel(std::uint64_t jobID, std::string reason) {
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    engine_.mainQueue().post([this, weak, jobID, reason = std::move(reason)] {
        if (weak.lock() && isCurrent(jobID)) cancelExport(reason);
    });
}

void RenderJob::cancelExport() { cancelExport(std::string()); }

void RenderJob::cancelExport(std::string reason) {
    lastCancelReason_ = std::move(reason);
    endJob(true);
    engine_.setRendering(false);
    engine_.setRenderProgress(0);
    engine_.evaluatePageSignal(kRenderCancelled);
}

// Main thread. Drops the running job; its writer is abandoned on the export
// queue. A cancelled job whose file was completed just before takes it away,
// so that a cancellation never leaves a movie behind.
void RenderJob::endJob(bool cancelled) {
    if (auto session = std::exchange(session_, nullptr)) {
        session->cancelled = true;
        engine_.exportQueue().post([session, cancelled] {
            if (session->writer) session->writer->cancel();
            if (cancelled && session->fileCompleted) removeFileQuietly(session->url);
            session->writer.reset();
            session->lastStaticPixelBuffer.reset();
        });
    }
    pendingRenderRequestID_.reset();
    currentFrame_ = 0;
    totalFrames_ = 0;
}

void RenderJob::captureAndEncodeFrame(const Json& payload) {
    if (!isRendering()) return;
    const std::int64_t requestID = intValue(payload, "requestId", -1);
    if (!pendingRenderRequestID_ || *pendingRenderRequestID_ != requestID) return;
    pendingRenderRequestID_.reset();
    // Frames of the render page are requested only by the page path, which
    // this build does not run; nothing is pending until it does.
}

}  // namespace tessivo
