#include "app/gtk/tests/editor_session.h"

#include "app/gtk/web_view_host.h"
#include "platform/files.h"
#include "platform/glib_ptr.h"
#include "platform/paths.h"
#include "platform/queue.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <system_error>

namespace tessivo::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    runMainContextUntil([&] { return condition() || Clock::now() >= deadline; });
    return condition();
}

void runFor(double seconds) {
    waitFor([] { return false; }, seconds);
}

void ScriptedSavePanel::chooseOutputFile(const SavePanelRequest& request,
                                         std::function<void(std::optional<fs::path>)> done) {
    requests.push_back(request);
    // Answered from the main loop, later, as a dialog would.
    auto* later = new std::function<void()>([done = std::move(done), file = answer] { done(file); });
    g_idle_add(
        +[](gpointer data) {
            std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
            (*work)();
            return G_SOURCE_REMOVE;
        },
        later);
}

namespace {

const fs::path kSimulator = fs::path(TESSIVO_SOURCE_DIR) / "tools" / "resolve-sim" / "resolve-sim";

// The process's scratch folder, its HOME and XDG folders, and the simulator
// as the Resolve installation; removed when the process ends.
class ProcessScratch {
public:
    ProcessScratch() {
        root_ = fs::temp_directory_path() / ("tessivo-editor-" + makeUUID());
        const fs::path home = root_ / "home";
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / ".local" / "share").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
        setenv("TESSIVO_RESOLVE_SCRIPT_API", (kSimulator.parent_path() / "Scripting").c_str(), 1);
        // The web processes may outlive the folder by a moment at exit.
        setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
        unsetenv("PYTHONPATH");
        unsetenv("RESOLVE_SCRIPT_LIB");
    }
    ~ProcessScratch() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

const ProcessScratch& processScratch() {
    static const ProcessScratch scratch;
    return scratch;
}

struct CallResult {
    bool done = false;
    std::optional<Json> value;
    std::string error;
};

}  // namespace

EditorSession::EditorSession() {
    folder_ = processScratch().root() / ("session-" + makeUUID());
    fs::create_directories(folder_);
    simState_ = folder_ / "resolve.json";
    // Read by every Resolve script the engine starts from now on.
    setenv("TESSIVO_RESOLVE_SIM_STATE", simState_.c_str(), 1);
}

EditorSession::~EditorSession() {
    close();
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

bool EditorSession::displayAvailable(std::string* reason) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        *reason = "no DISPLAY: run under xvfb-run -a";
        return false;
    }
    if (!gtk_init_check(nullptr, nullptr)) {
        *reason = std::string("GTK cannot open the display ") + display;
        return false;
    }
    return true;
}

bool EditorSession::sim(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"/usr/bin/python3", kSimulator.string(), "--state", simState_.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<gchar*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    GErrorOut spawnError;
    const bool spawned = g_spawn_sync(nullptr, raw.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                                      &status, spawnError.out());
    GUniquePtr<gchar> ownedOut(out), ownedErr(err);
    if (!spawned || !g_spawn_check_wait_status(status, nullptr)) {
        error_ = "resolve-sim failed: " + spawnError.message() + (out ? out : "") + (err ? err : "");
        return false;
    }
    return true;
}

std::optional<Json> EditorSession::simState() const {
    auto text = readFile(simState_);
    return text ? parseJson(*text) : std::nullopt;
}

std::optional<Json> EditorSession::simTimeline() const {
    auto state = simState();
    if (!state || !state->is_object()) return std::nullopt;
    const Json& s = *state;
    for (const Json& project : s.value("projects", Json::array())) {
        if (project.value("id", Json()) != s.value("currentProject", Json())) continue;
        for (const Json& timeline : project.value("timelines", Json::array())) {
            if (timeline.value("id", Json()) != project.value("currentTimeline", Json())) continue;
            Json tracks = Json::object();
            for (const char* kind : {"video", "audio", "subtitle"}) {
                int index = 0;
                for (const Json& track : timeline["tracks"].value(kind, Json::array())) {
                    ++index;
                    std::string label = std::string(kind) + " " + std::to_string(index);
                    const Json name = track.value("name", Json());
                    if (name.is_string() && !name.get<std::string>().empty()) label += " " + name.get<std::string>();
                    Json items = Json::array();
                    for (const Json& item : track.value("items", Json::array()))
                        items.push_back({{"name", item.value("name", "")},
                                         {"start", item.value("start", Json())},
                                         {"end", item.value("end", Json())}});
                    tracks[label] = items;
                }
            }
            return tracks;
        }
    }
    return std::nullopt;
}

bool EditorSession::open(double seconds) {
    close();
    messages_.clear();
    ExportEngine::Options options;
    options.configuration = Configuration::fromEnvironment();
    options.configuration.settingsFile = folder_ / "settings.ini";
    options.openURI = [](const std::string&) { return true; };
    engine_ = ExportEngine::create(std::move(options));
    window_ = std::make_unique<MainWindow>(nullptr, engine_, entryPageIn(resourcesDirectory()),
                                           WebsiteDataFolders::under(folder_ / "website"));
    // Every message is recorded, then handled as the window would.
    std::weak_ptr<ExportEngine> weakEngine = engine_;
    window_->webViewHost().setMessageReceiver([this, weakEngine](const Json& message) {
        messages_.push_back(message);
        if (auto engine = weakEngine.lock()) engine->handleWebMessage(message);
    });
    engine_->setSavePanel(&savePanel_);
    window_->downloads()->setChooser(&downloadPanel_);

    const auto started = Clock::now();
    if (!waitUntil("window.tessivoEditor && window.tessivoEditor.store && window.tessivoEditor.timeline", seconds)) {
        error_ = "the editor did not start: " + error_;
        return false;
    }
    const double left = seconds - std::chrono::duration<double>(Clock::now() - started).count();
    // Ready once the helpers are in and the page has painted its first frames.
    return run(kPageHelpers, std::max(left, 1.0)).has_value() && run("await tessivoTest.frames(2); return true", 10);
}

void EditorSession::close() {
    if (window_) {
        window_->requestClose();
        waitFor([&] { return window_->isClosed(); }, MainWindow::kPageLeaveLimit + 1);
    }
    window_.reset();
    engine_.reset();
    // Let WebKit release the view and its web processes.
    runFor(0.05);
}

std::optional<Json> EditorSession::run(const std::string& body, double seconds) {
    if (!window_) {
        error_ = "no window";
        return std::nullopt;
    }
    auto result = std::make_shared<CallResult>();
    // The result outlives this call if the page answers late.
    auto* pending = new std::shared_ptr<CallResult>(result);
    webkit_web_view_call_async_javascript_function(
        window_->webViewHost().webView(), body.c_str(), static_cast<gssize>(body.size()), nullptr, nullptr, nullptr,
        nullptr,
        +[](GObject* view, GAsyncResult* async, gpointer data) {
            std::unique_ptr<std::shared_ptr<CallResult>> owned(static_cast<std::shared_ptr<CallResult>*>(data));
            CallResult& r = **owned;
            GErrorOut error;
            auto value = adoptGObject(
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), async, error.out()));
            if (value) {
                GUniquePtr<gchar> json(jsc_value_is_undefined(value.get()) ? nullptr
                                                                           : jsc_value_to_json(value.get(), 0));
                r.value = json ? parseJson(json.get()) : Json();
                if (!r.value) r.value = Json();
            } else {
                r.error = error.message();
            }
            r.done = true;
        },
        pending);
    if (!waitFor([&] { return result->done; }, seconds)) {
        error_ = "no answer within " + std::to_string(seconds) + " s to: " + body.substr(0, 200);
        return std::nullopt;
    }
    if (!result->value) {
        error_ = result->error + " (in: " + body.substr(0, 200) + ")";
        return std::nullopt;
    }
    return result->value;
}

Json EditorSession::value(const std::string& body, double seconds) {
    auto result = run(body, seconds);
    return result ? *result : Json();
}

bool EditorSession::waitUntil(const std::string& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    const std::string body = "try { return !!(" + condition + "); } catch (e) { return false; }";
    while (true) {
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0) break;
        auto answer = run(body, std::max(left, 0.2));
        if (answer && answer->is_boolean() && answer->get<bool>()) return true;
        runFor(std::min(0.05, std::max(left, 0.0)));
    }
    error_ = "still false after " + std::to_string(seconds) + " s: " + condition;
    return false;
}

std::optional<Json> EditorSession::lastMessage(const std::string& type) const {
    for (auto it = messages_.rbegin(); it != messages_.rend(); ++it) {
        if (it->value("type", "") == type) return it->value("payload", Json());
    }
    return std::nullopt;
}

const char* const kPageHelpers = R"js(
const el = (id) => {
    const found = document.querySelector(`[data-testid="${id}"]`);
    if (!found) throw new Error(`no element with data-testid ${id}`);
    return found;
};
// The pointer and mouse events of a real click, in the order a browser sends them.
const pointerEvent = (target, type, x, y, modifiers = {}) => {
    const down = type === 'pointerdown' || type === 'mousedown' || type === 'pointermove' || type === 'mousemove';
    const init = { bubbles: true, cancelable: true, composed: true, view: window, clientX: x, clientY: y,
        button: 0, buttons: down ? 1 : 0, pointerId: 1, pointerType: 'mouse', isPrimary: true, ...modifiers };
    const event = type.startsWith('pointer') ? new PointerEvent(type, init) : new MouseEvent(type, init);
    target.dispatchEvent(event);
};
const clickAt = (target, x, y, modifiers) => {
    for (const type of ['pointerdown', 'mousedown', 'pointerup', 'mouseup', 'click'])
        pointerEvent(target, type, x, y, modifiers);
};
const centre = (r) => ({ x: r.left + r.width / 2, y: r.top + r.height / 2 });
window.tessivoTest = {
    el,
    // The first element matching `selector` whose text holds `text`.
    find(selector, text) {
        const found = [...document.querySelectorAll(selector)].find((e) => e.textContent.includes(text));
        if (!found) throw new Error(`no ${selector} holding « ${text} »`);
        return found;
    },
    clickElement(target) {
        if (target.disabled) throw new Error(`${target.textContent.trim()} is disabled`);
        target.focus();
        const c = centre(target.getBoundingClientRect());
        clickAt(target, c.x, c.y);
    },
    click(id, modifiers) {
        const target = el(id);
        if (target.disabled) throw new Error(`${id} is disabled`);
        target.focus();
        const c = centre(target.getBoundingClientRect());
        clickAt(target, c.x, c.y, modifiers);
    },
    // Sets a field's value as typing or picking does, then reports it.
    choose(id, value) {
        const target = el(id);
        const setter = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(target), 'value').set;
        target.focus();
        setter.call(target, String(value));
        target.dispatchEvent(new Event('input', { bubbles: true }));
        target.dispatchEvent(new Event('change', { bubbles: true }));
    },
    // A key pressed while `targetId` (else the focused element) has the focus.
    key(key, modifiers = {}, targetId = null) {
        const target = targetId ? el(targetId) : document.activeElement || document.body;
        if (targetId) target.focus();
        const init = { key, bubbles: true, cancelable: true, composed: true, ...modifiers };
        target.dispatchEvent(new KeyboardEvent('keydown', init));
        target.dispatchEvent(new KeyboardEvent('keyup', init));
    },
    blockPoint(id) {
        const r = window.tessivoEditor.timeline.blockClientRect(id);
        if (!r) throw new Error(`no block ${id}`);
        return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
    },
    clickBlock(id, modifiers) {
        const p = this.blockPoint(id);
        clickAt(el('timeline-canvas'), p.x, p.y, modifiers);
    },
    // Presses on a block, moves by (dx, dy) CSS pixels in `steps` moves, releases.
    dragBlock(id, dx, dy, steps = 4) {
        const canvas = el('timeline-canvas');
        const p = this.blockPoint(id);
        pointerEvent(canvas, 'pointerdown', p.x, p.y);
        for (let i = 1; i <= steps; i++) pointerEvent(canvas, 'pointermove', p.x + dx * i / steps, p.y + dy * i / steps);
        pointerEvent(canvas, 'pointerup', p.x + dx, p.y + dy);
    },
    frames(n = 2) {
        return new Promise((resolve) => {
            const next = (left) => (left <= 0 ? resolve() : requestAnimationFrame(() => next(left - 1)));
            next(n);
        });
    },
    state: () => window.tessivoEditor.store.getState(),
};
return true;
)js";

}  // namespace tessivo::testing
