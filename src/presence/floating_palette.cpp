#include "presence/floating_palette.h"

#include "bridge/coercion.h"
#include "engine_api/engine_context.h"
#include "library/fusion_library.h"
#include "platform/glib_ptr.h"
#include "platform/settings.h"
#include "resolve/python_runner.h"

#include <glib.h>
#include <unistd.h>

namespace tessivo {

namespace {

bool containsIgnoringCase(const std::string& text, const char* needle) {
    GUniquePtr<gchar> folded(g_utf8_casefold(text.c_str(), -1));
    GUniquePtr<gchar> wanted(g_utf8_casefold(needle, -1));
    return folded && wanted && std::string(folded.get()).find(wanted.get()) != std::string::npos;
}

}  // namespace

bool isResolveApplication(const ActiveApplication& app) {
    return g_ascii_strcasecmp(app.windowClass.c_str(), "resolve") == 0 || containsIgnoringCase(app.title, "DaVinci Resolve");
}

bool isOwnApplication(const ActiveApplication& app, long ownPid) {
    if (app.pid != 0) return app.pid == ownPid;
    const char* own = g_get_prgname();
    // Neither a process id nor a class: nothing tells it from this program.
    if (app.windowClass.empty()) return true;
    return own && g_ascii_strcasecmp(app.windowClass.c_str(), own) == 0;
}

FloatingPalette::FloatingPalette(EngineContext& engine, FusionEffectLibrary& library, std::filesystem::path resourcesFolder,
                                 std::function<bool()> nativeTemplateRegistered)
    : engine_(engine),
      library_(library),
      resourcesFolder_(std::move(resourcesFolder)),
      nativeTemplateRegistered_(std::move(nativeTemplateRegistered)) {}

FloatingPalette::~FloatingPalette() = default;

bool FloatingPalette::enabledSetting() const { return engine_.settings().boolValue(kPaletteEnabledKey).value_or(true); }

bool FloatingPalette::isVisible() const { return view_ ? view_->isVisible() : headlessVisible_; }

void FloatingPalette::showFloatingFusionPalette() {
    engine_.settings().setBool(kPaletteEnabledKey, true);
    scheduleRefresh();
    present();
    sendState(true, true);
}

void FloatingPalette::setFloatingFusionPaletteEnabled(bool enabled) {
    engine_.settings().setBool(kPaletteEnabledKey, enabled);
    if (enabled) {
        present();
        scheduleRefresh();
    } else {
        orderOut();
    }
    sendState(enabled, enabled);
}

void FloatingPalette::handleActivatedApplication(const ActiveApplication& app) {
    if (isResolveApplication(app)) {
        if (!enabledSetting() || dismissed_) return;
        scheduleRefresh();
        present();
        return;
    }
    // The palette keeps its state while the user works in this program.
    if (isOwnApplication(app, static_cast<long>(getpid()))) return;
    orderOut();
}

void FloatingPalette::present() {
    dismissed_ = false;
    if (!view_ && viewFactory_) {
        PaletteActions actions;
        actions.select = [this](const std::string& id) {
            model_.selectedEffectID = id;
            modelChanged();
        };
        actions.chooseTrack = [this](const std::string& track) { model_.targetTrack = track; };
        actions.insert = [this] {
            if (!model_.selectedEffectID) return;
            model_.status = "Insertion à la tête de lecture…";
            modelChanged();
            insertFloatingFusionEffect(*model_.selectedEffectID, model_.targetTrack);
        };
        actions.close = [this] {
            dismissed_ = true;
            orderOut();
        };
        actions.disable = [this] { setFloatingFusionPaletteEnabled(false); };
        view_ = viewFactory_(model_, std::move(actions));
        if (view_) view_->update(model_);
    }
    if (view_) view_->show();
    headlessVisible_ = true;
}

void FloatingPalette::orderOut() {
    if (view_) view_->hide();
    headlessVisible_ = false;
}

void FloatingPalette::shutdown() {
    dismissed_ = true;
    orderOut();
}

void FloatingPalette::setStatus(const std::string& status) {
    model_.status = status;
    modelChanged();
}

void FloatingPalette::modelChanged() {
    if (view_) view_->update(model_);
}

void FloatingPalette::sendState(bool enabled, bool visible) {
    Json state{{"success", true}, {"enabled", enabled}, {"visible", visible}, {"automaticShowing", activationWatch_}};
    if (!activationWatch_)
        state["message"] = "L'ouverture automatique avec DaVinci Resolve n'est pas disponible sur ce bureau : "
                           "la palette s'ouvre depuis l'éditeur.";
    engine_.callWebFunction(kPaletteStateCallback, state);
}

void FloatingPalette::scheduleRefresh() {
    auto weak = engine_.weakContext();
    // Runs on the export queue.
    engine_.exportQueue().post([this, weak] {
        if (auto engine = weak.lock()) refresh();
    });
}

// Export queue.
void FloatingPalette::refresh() {
    auto weak = engine_.weakContext();
    auto list = library_.store().fusionEffectList(true);
    if (!list) {
        engine_.mainQueue().post([this, weak, message = list.error().message] {
            if (auto engine = weak.lock()) setStatus(message);
        });
        return;
    }
    engine_.mainQueue().post([this, weak, tiles = paletteEffects(list.value())]() mutable {
        if (!weak.lock()) return;
        applyPaletteEffects(model_, std::move(tiles));
        modelChanged();
    });
    engine_.runner().runResolvePython(resolveComfortScript(resourcesFolder_), {"snapshot", "{}"}, kTrackListTimeLimit,
                                      [this, weak](Result<Json> outcome) {
        // Any thread (the runner's completion).
        auto engine = weak.lock();
        // No answer, a time limit or a failure: the previous choices stay.
        if (!engine || !outcome || !boolValue(outcome.value(), "success", false)) return;
        auto choices = paletteTrackChoices(outcome.value());
        engine->mainQueue().post([this, weak, choices = std::move(choices)]() mutable {
            if (!weak.lock()) return;
            model_.trackChoices = std::move(choices);
            modelChanged();
        });
    });
}

void FloatingPalette::insertFloatingFusionEffect(const std::string& id, const std::string& targetTrack) {
    const bool native = nativeTemplateRegistered_ && nativeTemplateRegistered_();
    auto weak = engine_.weakContext();
    engine_.exportQueue().post([this, weak, id, targetTrack, native] {
        // Export queue: the library's files are read off the main thread.
        auto engine = weak.lock();
        if (!engine) return;
        auto fail = [&](const std::string& message) {
            engine_.mainQueue().post([this, weak, message] {
                if (weak.lock()) setStatus(message);
            });
        };
        auto root = library_.store().fusionLibraryRoot();
        if (!root) return fail(root.error().message);
        Json given = id;
        auto valid = validatedFusionEffectID(&given);
        if (!valid) return fail(valid.error().message);
        auto metadata = library_.store().readFusionMetadata(valid.value(), root.value());
        if (!metadata) return fail(metadata.error().message);
        Json request = paletteInsertionRequest(valid.value(), metadata.value(), targetTrack, native);
        // The library's insertion takes its request on the main thread.
        engine_.mainQueue().post([this, weak, request = std::move(request)] {
            if (weak.lock()) library_.insertFusionEffect(request);
        });
    });
}

}  // namespace tessivo
