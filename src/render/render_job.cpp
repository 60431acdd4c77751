#include "render/render_job.h"

#include "bridge/coercion.h"
#include "platform/files.h"
#include "platform/log.h"

namespace tessivo {

namespace fs = std::filesystem;

namespace {
constexpr const char* kRenderComplete = "window.onRenderComplete()";
constexpr const char* kRenderCancelled = "window.onRenderCancelled()";
}  // namespace

RenderJob::RenderJob(EngineContext& engine) : engine_(engine) {}

RenderJob::~RenderJob() {
    if (session_) session_->cancelled = true;
    pageLoop_.stop();
}

void RenderJob::resetExportMetrics(RenderMetrics::TimePoint startedAt) {
    metrics_.reset(startedAt);
    pageLoop_.reset();
}

void RenderJob::startExport(const Json& params) {
    if (isRendering()) return;
    const std::string format = renderTextParam(params, "format").value_or("mov");
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

    auto session = std::make_shared<RenderSession>();
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
            runNativeFrameLoop(*this, session, sourceFactory_);
            return;
        }
        engine_.mainQueue().post([this, weak, session] {
            if (weak.lock() && isCurrent(session->id)) pageLoop_.start(session);
        });
    });
}

// Export queue.
void RenderJob::prepareWriter(const std::shared_ptr<RenderSession>& session) {
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
    session->reuse = std::make_unique<FrameReuse>(*session->writer);
    metrics_.setWriterReady(RenderMetrics::Clock::now());
    std::string codecName = session->writer->codecName();
    std::weak_ptr<EngineContext> weak = engine_.weakContext();
    engine_.mainQueue().post([this, weak, codecName] {
        if (weak.lock()) selectedCodecName_ = codecName;
    });
}

bool RenderJob::framesAppended(std::uint64_t jobID, std::int64_t appended) {
    if (!isCurrent(jobID)) return false;
    currentFrame_ = appended;
    engine_.setRenderProgress(totalFrames_ > 0 ? double(appended) / double(totalFrames_) : 1.0);
    if (appended < totalFrames_) return true;
    finishExport(jobID);
    return false;
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
        session->releaseWriter();
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

void RenderJob::cancelJob(std::uint64_t jobID, std::string reason) {
    if (isCurrent(jobID)) cancelExport(std::move(reason));
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
            session->releaseWriter();
        });
    }
    pageLoop_.stop();
    currentFrame_ = 0;
    totalFrames_ = 0;
}

}  // namespace tessivo
