#include "render/render_job.h"

#include "bridge/caption_sequence.h"
#include "bridge/coercion.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "render/native_text_renderer.h"

#include <algorithm>
#include <charconv>
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

std::string renderScriptTime(double seconds) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, seconds);
    if (ec != std::errc()) return "0.0";
    std::string literal(text, end);
    if (literal.find_first_of(".ein") != std::string::npos) {
        // An exponent without a fraction gets one before the exponent.
        const auto e = literal.find('e');
        if (e != std::string::npos && literal.find('.') == std::string::npos) literal.insert(e, ".0");
        return literal;
    }
    return literal + ".0";
}

std::string renderLoadScript(const std::string& paramsJSON) {
    return "(function() {\n    if (typeof window.loadRenderProject !== 'function') { return false; }\n"
           "    window.loadRenderProject(" + paramsJSON + ");\n    return true;\n})();";
}

std::string renderReuseStateScript(double time) {
    return "typeof window.getRenderReuseState === 'function' ? window.getRenderReuseState(" +
           renderScriptTime(time) + ") : ({kind:'dynamic', key:null})";
}

std::string renderSetTimeScript(double time, std::int64_t requestID) {
    return "window.setRenderTime(" + renderScriptTime(time) + ", " + std::to_string(requestID) + ")";
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
    RenderDelivery delivery;
};

RenderJob::RenderJob(EngineContext& engine) : engine_(engine) {
    sourceFactory_ = [](int width, int height, std::vector<NativeTextSequence> sequences) {
        return std::unique_ptr<NativeFrameSource>(new CaptionFrameSource(width, height, std::move(sequences)));
    };
}

RenderJob::~RenderJob() {
    if (session_) session_->cancelled = true;
    cleanupRenderWebView();
}

void RenderJob::resetExportMetrics(RenderMetrics::TimePoint startedAt) {
    metrics_.reset(startedAt);
    renderRequestSerial_ = 0;
    pendingRenderRequestID_.reset();
    pendingReuseKey_.reset();
    lastStaticReuseKey_.reset();
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

void RenderJob::executeExport(const fs::path& to, const Json& params, RenderDelivery delivery) {
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
        if (delivery.ended) delivery.ended(reason);
        return;
    }

    auto session = std::make_shared<Session>();
    session->id = ++currentJobID_;
    session->url = to;
    session->params = params;
    session->settings = settings;
    session->totalFrames = *frames;
    session->delivery = std::move(delivery);
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
        const std::uint64_t id = session->id;
        engine_.mainQueue().post([this, weak, id] {
            if (weak.lock() && isCurrent(id)) prepareRenderWebView(id);
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
    if (session->delivery.keyFrames) settings.keyFrames = session->delivery.keyFrames(settings.fps, session->totalFrames);
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
    auto finished = std::move(session_->delivery.finished);
    const fs::path url = session_->url;
    endJob(false);
    engine_.setRendering(false);
    engine_.setRenderProgress(1);
    if (finished) {
        metrics_.setInsertionStarted(RenderMetrics::Clock::now());
        finished(url);
    } else {
        engine_.evaluatePageSignal(kRenderComplete);
    }
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
    auto ended = session_ ? std::move(session_->delivery.ended) : nullptr;
    endJob(true);
    engine_.setRendering(false);
    engine_.setRenderProgress(0);
    engine_.evaluatePageSignal(kRenderCancelled);
    if (ended) ended(lastCancelReason_);
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
    cleanupRenderWebView();
    pendingRenderRequestID_.reset();
    pendingReuseKey_.reset();
    currentFrame_ = 0;
    totalFrames_ = 0;
}

// ---- The render page ----

// One frame of the page path on its way to the export queue.
struct RenderJob::PageFrame {
    enum class Kind { Blank, Reused, Snapshot };
    Kind kind = Kind::Snapshot;
    SnapshotImage image;              // Snapshot
    std::optional<std::string> key;   // Snapshot of a static frame
};

std::optional<fs::path> RenderJob::renderPagePath() const {
    if (renderPage_) return renderPage_;
    const fs::path resources = resourcesDirectory();
    std::error_code ec;
    for (const fs::path& candidate : {resources / "web" / "index.html", resources / "index.html"}) {
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

void RenderJob::prepareRenderWebView(std::uint64_t jobID) {
    if (!isCurrent(jobID)) return;
    cleanupRenderWebView();
    const RenderParams& p = session_->settings;

    const RenderSurfaceFactory& factory = engine_.renderSurfaceFactory();
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    // The render page talks to the engine exactly as the main page does.
    RenderMessageReceiver receiver = [weak](const Json& message) {
        if (auto engine = weak.lock()) engine->handleWebMessage(message);
    };
    if (factory) renderSurface_ = factory(p.width, p.height, std::move(receiver));
    if (!renderSurface_) {
        const std::string reason =
            "aucun affichage pour la page de rendu (lancer sous un serveur graphique, ou \"renderer\": \"native\")";
        logLine("Erreur renderer: " + reason);
        cancelExport(reason);
        return;
    }
    const auto page = renderPagePath();
    if (!page) {
        logLine("Erreur renderer: page de rendu introuvable");
        cancelExport("page de rendu introuvable");
        return;
    }
    if (!renderSurface_->loadPage(*page)) {
        const std::string reason = "page de rendu non chargée (" + page->string() + ")";
        logLine("Erreur renderer: " + reason);
        cancelExport(reason);
        return;
    }
    pageTimer_ = engine_.mainQueue().postAfter(0.1, [this, weak, jobID] {
        if (weak.lock()) loadProjectIntoRenderWebView(jobID, 0);
    });
}

void RenderJob::loadProjectIntoRenderWebView(std::uint64_t jobID, int attempt) {
    if (!isCurrent(jobID)) return;
    if (!renderSurface_) {
        cancelExport("page de rendu absente");
        return;
    }
    const auto paramsJSON = serializeJson(session_->params);
    if (!paramsJSON) {
        logLine("Erreur renderer: paramètres de rendu sans forme JSON");
        cancelExport("paramètres de rendu sans forme JSON");
        return;
    }
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    renderSurface_->evaluateScript(renderLoadScript(*paramsJSON), [this, weak, jobID, attempt](ScriptResult result) {
        if (!weak.lock() || !isCurrent(jobID)) return;
        if (result.value && result.value->is_boolean() && result.value->get<bool>()) {
            metrics_.setRenderReady(RenderMetrics::Clock::now());
            pageTimer_ = engine_.mainQueue().postAfter(0.05, [this, weak, jobID] {
                if (weak.lock() && isCurrent(jobID)) requestFrameFromReact(0);
            });
            return;
        }
        // 21 evaluations in all, 0.15 s apart, for the page to define its loader.
        if (attempt > 19) {
            const std::string description = result.error.value_or("");
            logLine("Erreur renderer: loadRenderProject indisponible " + description);
            cancelExport("loadRenderProject indisponible " + description);
            return;
        }
        pageTimer_ = engine_.mainQueue().postAfter(0.15, [this, weak, jobID, attempt] {
            if (weak.lock()) loadProjectIntoRenderWebView(jobID, attempt + 1);
        });
    });
}

void RenderJob::requestFrameFromReact(std::int64_t frameIndex) {
    if (!isRendering() || frameIndex != currentFrame_ || !renderSurface_) return;
    const std::uint64_t jobID = currentJobID_;
    armFrameLimit(jobID, frameIndex);
    const double time = session_->settings.start + static_cast<double>(frameIndex) / session_->settings.fps;
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    renderSurface_->evaluateScript(renderReuseStateScript(time),
                                   [this, weak, jobID, frameIndex, time](ScriptResult result) {
                                       if (weak.lock()) takeReuseState(jobID, frameIndex, time, result);
                                   });
}

void RenderJob::takeReuseState(std::uint64_t jobID, std::int64_t frameIndex, double time, const ScriptResult& result) {
    if (!isCurrent(jobID) || frameIndex != currentFrame_ || !renderSurface_) return;
    const Json state = result.value && result.value->is_object() ? *result.value : Json::object();
    const std::string kind = stringValue(state, "kind", "dynamic");
    std::optional<std::string> key;
    if (const Json* k = member(state, "key"); k && k->is_string()) key = k->get<std::string>();

    if (kind == "empty") {
        metrics_.addBlankFrame();
        handOffPageFrame(PageFrame{PageFrame::Kind::Blank, nullptr, std::nullopt});
        return;
    }
    if (kind == "static" && key && key == lastStaticReuseKey_) {
        metrics_.addReusedFrame();
        handOffPageFrame(PageFrame{PageFrame::Kind::Reused, nullptr, std::nullopt});
        return;
    }
    ++renderRequestSerial_;
    pendingRenderRequestID_ = renderRequestSerial_;
    pendingReuseKey_ = kind == "static" ? key : std::nullopt;
    renderSurface_->evaluateScript(renderSetTimeScript(time, renderRequestSerial_));
}

void RenderJob::captureAndEncodeFrame(const Json& payload) {
    if (!isRendering()) return;
    const std::int64_t requestID = intValue(payload, "requestId", -1);
    if (!pendingRenderRequestID_ || *pendingRenderRequestID_ != requestID) return;
    pendingRenderRequestID_.reset();
    if (!renderSurface_) return;
    const std::uint64_t jobID = currentJobID_;
    const auto requestedAt = RenderMetrics::Clock::now();
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    renderSurface_->takeSnapshot([this, weak, jobID, requestedAt](SnapshotImage image, std::string error) {
        if (weak.lock()) snapshotTaken(jobID, requestedAt, std::move(image), error);
    });
}

void RenderJob::snapshotTaken(std::uint64_t jobID, RenderMetrics::TimePoint requestedAt, SnapshotImage image,
                              const std::string& error) {
    if (!isCurrent(jobID)) return;
    metrics_.addSnapshot(secondsBetween(requestedAt, RenderMetrics::Clock::now()));
    if (!image) {
        if (!error.empty()) logLine("Erreur snapshot WebKit: " + error);
        cancelExport(error.empty() ? "capture sans image" : "capture: " + error);
        return;
    }
    // The bitmap must be a readable image of the frame.
    if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(image.get()) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_width(image.get()) <= 0 || cairo_image_surface_get_height(image.get()) <= 0) {
        logLine("Erreur snapshot WebKit: capture sans bitmap");
        cancelExport("capture sans bitmap");
        return;
    }
    handOffPageFrame(PageFrame{PageFrame::Kind::Snapshot, std::move(image), std::exchange(pendingReuseKey_, std::nullopt)});
}

// The frame leaves the page: its limit is lifted and the export queue takes it.
void RenderJob::handOffPageFrame(PageFrame frame) {
    disarmTimer(frameLimitTimer_);
    auto session = session_;
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    // std::function needs a copyable callable; the frame travels in a shared slot.
    auto slot = std::make_shared<PageFrame>(std::move(frame));
    engine_.exportQueue().post([this, weak, session, slot] {
        if (weak.lock()) appendPageFrame(session, std::move(*slot));
    });
}

// Export queue. Draws (or picks) the frame's buffer and appends it; the kept
// static buffer changes only with a snapshot.
void RenderJob::appendPageFrame(const std::shared_ptr<Session>& session, PageFrame frame) {
    if (session->cancelled || !session->writer) return;
    std::shared_ptr<PixelBuffer> buffer;
    switch (frame.kind) {
        case PageFrame::Kind::Blank:
            buffer = session->writer->blankPixelBuffer();
            break;
        case PageFrame::Kind::Reused:
            buffer = session->lastStaticPixelBuffer;
            break;
        case PageFrame::Kind::Snapshot:
            buffer = session->writer->drawImage(frame.image.get());
            frame.image.reset();
            if (buffer && frame.key) {
                session->lastStaticReuseKey = frame.key;
                session->lastStaticPixelBuffer = buffer;
            } else {
                session->lastStaticReuseKey.reset();
                session->lastStaticPixelBuffer.reset();
            }
            break;
    }
    if (!buffer) {
        scheduleCancel(session->id, "mémoire insuffisante pour une image");
        return;
    }
    if (auto failed = appendPixelBuffer(*session, buffer)) {
        logLine("Erreur append: " + failed->message);
        scheduleCancel(session->id, failed->message);
        return;
    }
    std::optional<std::string> keptKey;
    if (session->lastStaticPixelBuffer) keptKey = session->lastStaticReuseKey;
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    const std::uint64_t id = session->id;
    const std::int64_t appended = session->nextFrame;
    engine_.mainQueue().post([this, weak, id, appended, keptKey] {
        if (weak.lock()) pageFrameAppended(id, appended, keptKey);
    });
}

void RenderJob::pageFrameAppended(std::uint64_t jobID, std::int64_t appendedFrames,
                                  std::optional<std::string> keptKey) {
    if (!isCurrent(jobID)) return;
    lastStaticReuseKey_ = std::move(keptKey);
    currentFrame_ = appendedFrames;
    engine_.setRenderProgress(totalFrames_ > 0 ? double(appendedFrames) / double(totalFrames_) : 1.0);
    if (currentFrame_ >= totalFrames_) finishExport(jobID);
    else requestFrameFromReact(currentFrame_);
}

// A page that stops answering (no reuse state, no "frameReady", no snapshot)
// would otherwise leave the job waiting for ever.
void RenderJob::armFrameLimit(std::uint64_t jobID, std::int64_t frameIndex) {
    disarmTimer(frameLimitTimer_);
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    const double limit = frameRequestLimitSeconds_;
    frameLimitTimer_ = engine_.mainQueue().postAfter(limit, [this, weak, jobID, frameIndex, limit] {
        if (!weak.lock() || !isCurrent(jobID) || currentFrame_ != frameIndex) return;
        const std::string reason = "l'image " + std::to_string(frameIndex) + " n'a pas été rendue par la page en " +
                                   numberText(limit) + " s";
        logLine("Erreur renderer: " + reason);
        cancelExport(reason);
    });
}

void RenderJob::disarmTimer(std::shared_ptr<QueueTimer>& timer) {
    if (auto t = std::exchange(timer, nullptr)) t->cancel();
}

// Main thread. Lets go of the render page: no message of it reaches the engine
// afterwards, and no pending timer of the page path fires.
void RenderJob::cleanupRenderWebView() {
    disarmTimer(pageTimer_);
    disarmTimer(frameLimitTimer_);
    if (auto surface = std::exchange(renderSurface_, nullptr)) surface->removeMessageHandler();
}

}  // namespace tessivo
