#include "render/page_frame_loop.h"

#include "bridge/coercion.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "render/render_page_scripts.h"

namespace tessivo {

namespace fs = std::filesystem;

namespace {

void disarmTimer(std::shared_ptr<QueueTimer>& timer) {
    if (auto t = std::exchange(timer, nullptr)) t->cancel();
}

FrameReuse::Kind reuseKind(const std::string& kind) {
    if (kind == "empty") return FrameReuse::Kind::Empty;
    if (kind == "static") return FrameReuse::Kind::Static;
    return FrameReuse::Kind::Dynamic;
}

}  // namespace

// One frame of the page on its way to the export queue.
struct PageFrameLoop::PageFrame {
    FrameReuse::Action action = FrameReuse::Action::Draw;
    SnapshotImage image;             // Draw
    std::optional<std::string> key;  // Draw: the key of a static frame
};

PageFrameLoop::~PageFrameLoop() { stop(); }

bool PageFrameLoop::isCurrent(std::uint64_t jobID) const {
    return session_ && session_->id == jobID && host_.isCurrent(jobID);
}

void PageFrameLoop::reset() {
    requestSerial_ = 0;
    pendingRequestID_.reset();
    pendingReuseKey_.reset();
}

void PageFrameLoop::cancel(std::string reason) {
    if (!session_) return;
    const std::uint64_t id = session_->id;
    host_.cancelJob(id, std::move(reason));
}

std::optional<fs::path> PageFrameLoop::renderPagePath() const {
    if (renderPage_) return renderPage_;
    const fs::path resources = resourcesDirectory();
    std::error_code ec;
    for (const fs::path& candidate : {resources / "web" / "index.html", resources / "index.html"}) {
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

void PageFrameLoop::start(const std::shared_ptr<RenderSession>& session) {
    stop();
    session_ = session;
    nextFrame_ = 0;
    const std::uint64_t jobID = session->id;
    const RenderParams& p = session->settings;
    EngineContext& engine = host_.engine();
    const RenderSurfaceFactory& factory = engine.renderSurfaceFactory();
    std::weak_ptr<EngineContext> weak = engine.weakContext();
    // The render page talks to the engine exactly as the main page does.
    RenderMessageReceiver receiver = [weak](const Json& message) {
        if (auto e = weak.lock()) e->handleWebMessage(message);
    };
    if (factory) surface_ = factory(p.width, p.height, std::move(receiver));
    if (!surface_) {
        const std::string reason =
            "aucun affichage pour la page de rendu (lancer sous un serveur graphique, ou \"renderer\": \"native\")";
        logLine("Erreur renderer: " + reason);
        cancel(reason);
        return;
    }
    const auto page = renderPagePath();
    if (!page) {
        logLine("Erreur renderer: page de rendu introuvable");
        cancel("page de rendu introuvable");
        return;
    }
    if (!surface_->loadPage(*page)) {
        const std::string reason = "page de rendu non chargée (" + page->string() + ")";
        logLine("Erreur renderer: " + reason);
        cancel(reason);
        return;
    }
    pageTimer_ = engine.mainQueue().postAfter(0.1, [this, weak, jobID] {
        if (weak.lock()) loadProject(jobID, 0);
    });
}

void PageFrameLoop::loadProject(std::uint64_t jobID, int attempt) {
    if (!isCurrent(jobID)) return;
    if (!surface_) {
        cancel("page de rendu absente");
        return;
    }
    const auto paramsJSON = serializeJson(session_->params);
    if (!paramsJSON) {
        logLine("Erreur renderer: paramètres de rendu sans forme JSON");
        cancel("paramètres de rendu sans forme JSON");
        return;
    }
    EngineContext& engine = host_.engine();
    std::weak_ptr<EngineContext> weak = engine.weakContext();
    surface_->evaluateScript(renderLoadScript(*paramsJSON), [this, weak, jobID, attempt](ScriptResult result) {
        if (!weak.lock() || !isCurrent(jobID)) return;
        EngineContext& engine = host_.engine();
        if (result.value && result.value->is_boolean() && result.value->get<bool>()) {
            host_.loopMetrics().setRenderReady(RenderMetrics::Clock::now());
            pageTimer_ = engine.mainQueue().postAfter(0.05, [this, weak, jobID] {
                if (weak.lock() && isCurrent(jobID)) requestFrame(0);
            });
            return;
        }
        // 21 evaluations in all, 0.15 s apart, for the page to define its loader.
        if (attempt > 19) {
            const std::string description = result.error.value_or("");
            logLine("Erreur renderer: loadRenderProject indisponible " + description);
            cancel("loadRenderProject indisponible " + description);
            return;
        }
        pageTimer_ = engine.mainQueue().postAfter(0.15, [this, weak, jobID, attempt] {
            if (weak.lock()) loadProject(jobID, attempt + 1);
        });
    });
}

void PageFrameLoop::requestFrame(std::int64_t frameIndex) {
    if (!session_ || frameIndex != nextFrame_ || !surface_) return;
    const std::uint64_t jobID = session_->id;
    if (!isCurrent(jobID)) return;
    armFrameLimit(jobID, frameIndex);
    const double time = session_->settings.start + static_cast<double>(frameIndex) / session_->settings.fps;
    std::weak_ptr<EngineContext> weak = host_.engine().weakContext();
    surface_->evaluateScript(renderReuseStateScript(time), [this, weak, jobID, frameIndex, time](ScriptResult result) {
        if (weak.lock()) takeReuseState(jobID, frameIndex, time, result);
    });
}

void PageFrameLoop::takeReuseState(std::uint64_t jobID, std::int64_t frameIndex, double time,
                                   const ScriptResult& result) {
    if (!isCurrent(jobID) || frameIndex != nextFrame_ || !surface_ || !session_->reuse) return;
    const Json state = result.value && result.value->is_object() ? *result.value : Json::object();
    const FrameReuse::Kind kind = reuseKind(stringValue(state, "kind", "dynamic"));
    std::optional<std::string> key;
    if (const Json* k = member(state, "key"); k && k->is_string()) key = k->get<std::string>();

    // The export queue has recorded the last frame before this one was asked for.
    const FrameReuse::Action action = session_->reuse->plan(kind, key);
    if (action == FrameReuse::Action::Blank) {
        host_.loopMetrics().addBlankFrame();
        handOff(PageFrame{action, nullptr, std::nullopt});
        return;
    }
    if (action == FrameReuse::Action::Reuse) {
        host_.loopMetrics().addReusedFrame();
        handOff(PageFrame{action, nullptr, std::nullopt});
        return;
    }
    ++requestSerial_;
    pendingRequestID_ = requestSerial_;
    pendingReuseKey_ = kind == FrameReuse::Kind::Static ? key : std::nullopt;
    surface_->evaluateScript(renderSetTimeScript(time, requestSerial_));
}

void PageFrameLoop::frameReady(const Json& payload) {
    if (!session_ || !host_.isCurrent(session_->id)) return;
    const std::int64_t requestID = intValue(payload, "requestId", -1);
    if (!pendingRequestID_ || *pendingRequestID_ != requestID) return;
    pendingRequestID_.reset();
    if (!surface_) return;
    const std::uint64_t jobID = session_->id;
    const auto requestedAt = RenderMetrics::Clock::now();
    std::weak_ptr<EngineContext> weak = host_.engine().weakContext();
    surface_->takeSnapshot([this, weak, jobID, requestedAt](SnapshotImage image, std::string error) {
        if (weak.lock()) snapshotTaken(jobID, requestedAt, std::move(image), error);
    });
}

void PageFrameLoop::snapshotTaken(std::uint64_t jobID, RenderMetrics::TimePoint requestedAt, SnapshotImage image,
                                  const std::string& error) {
    if (!isCurrent(jobID)) return;
    host_.loopMetrics().addSnapshot(secondsBetween(requestedAt, RenderMetrics::Clock::now()));
    if (!image) {
        if (!error.empty()) logLine("Erreur snapshot WebKit: " + error);
        cancel(error.empty() ? "capture sans image" : "capture: " + error);
        return;
    }
    // The bitmap must be a readable image of the frame.
    if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(image.get()) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_width(image.get()) <= 0 || cairo_image_surface_get_height(image.get()) <= 0) {
        logLine("Erreur snapshot WebKit: capture sans bitmap");
        cancel("capture sans bitmap");
        return;
    }
    handOff(PageFrame{FrameReuse::Action::Draw, std::move(image), std::exchange(pendingReuseKey_, std::nullopt)});
}

// The frame leaves the page: its limit is lifted and the export queue takes it.
void PageFrameLoop::handOff(PageFrame frame) {
    disarmTimer(frameLimitTimer_);
    auto session = session_;
    EngineContext& engine = host_.engine();
    std::weak_ptr<EngineContext> weak = engine.weakContext();
    // std::function needs a copyable callable; the frame travels in a shared slot.
    auto slot = std::make_shared<PageFrame>(std::move(frame));
    engine.exportQueue().post([this, weak, session, slot] {
        if (weak.lock()) appendFrame(session, std::move(*slot));
    });
}

// Export queue. Draws (or picks) the frame's buffer and appends it; the kept
// static buffer changes only with a snapshot.
void PageFrameLoop::appendFrame(const std::shared_ptr<RenderSession>& session, PageFrame frame) {
    if (session->cancelled || !session->writer || !session->reuse) return;
    FrameReuse& reuse = *session->reuse;
    std::shared_ptr<PixelBuffer> buffer;
    if (frame.action == FrameReuse::Action::Draw) {
        buffer = reuse.drawingBuffer();
        if (buffer) session->writer->drawImage(frame.image.get(), *buffer);
        frame.image.reset();
        reuse.drawn(buffer, frame.key ? FrameReuse::Kind::Static : FrameReuse::Kind::Dynamic, frame.key);
    } else {
        buffer = reuse.reusedBuffer(frame.action);
    }
    if (!buffer) {
        host_.scheduleCancel(session->id, "mémoire insuffisante pour une image");
        return;
    }
    if (auto failed = session->append(buffer)) {
        logLine("Erreur append: " + failed->message);
        host_.scheduleCancel(session->id, failed->message);
        return;
    }
    EngineContext& engine = host_.engine();
    std::weak_ptr<EngineContext> weak = engine.weakContext();
    const std::uint64_t id = session->id;
    const std::int64_t appended = session->nextFrame;
    engine.mainQueue().post([this, weak, id, appended] {
        if (weak.lock()) frameAppended(id, appended);
    });
}

void PageFrameLoop::frameAppended(std::uint64_t jobID, std::int64_t appendedFrames) {
    if (!isCurrent(jobID)) return;
    nextFrame_ = appendedFrames;
    if (host_.framesAppended(jobID, appendedFrames)) requestFrame(appendedFrames);
}

// A page that stops answering (no reuse state, no "frameReady", no snapshot)
// would otherwise leave the job waiting for ever.
void PageFrameLoop::armFrameLimit(std::uint64_t jobID, std::int64_t frameIndex) {
    disarmTimer(frameLimitTimer_);
    std::weak_ptr<EngineContext> weak = host_.engine().weakContext();
    const double limit = frameRequestLimitSeconds_;
    frameLimitTimer_ = host_.engine().mainQueue().postAfter(limit, [this, weak, jobID, frameIndex, limit] {
        if (!weak.lock() || !isCurrent(jobID) || nextFrame_ != frameIndex) return;
        const std::string reason = "l'image " + std::to_string(frameIndex) + " n'a pas été rendue par la page en " +
                                   numberText(limit) + " s";
        logLine("Erreur renderer: " + reason);
        cancel(reason);
    });
}

void PageFrameLoop::stop() {
    disarmTimer(pageTimer_);
    disarmTimer(frameLimitTimer_);
    if (auto surface = std::exchange(surface_, nullptr)) surface->removeMessageHandler();
    pendingRequestID_.reset();
    pendingReuseKey_.reset();
    session_.reset();
}

}  // namespace tessivo
