// The main window against a real engine and a real WebKit page. Needs a
// display (run under xvfb-run); skipped without one.
#include "app/gtk/main_window.h"
#include "app/gtk/paint_mode.h"

#include "platform/queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tessivo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs the main loop until `condition` holds or `seconds` pass; returns the condition.
bool waitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    runMainContextUntil([&] { return condition() || Clock::now() >= deadline; });
    return condition();
}

void runFor(double seconds) {
    waitFor([] { return false; }, seconds);
}

// Records the page's calls so the test can read them back.
constexpr const char* kTestPage = R"html(<!doctype html>
<html><head><meta charset="utf-8"><title>Page de test</title><script>
window.received = [];
window.defineLater = (name, delay) => setTimeout(() => {
    window[name] = (payload) => window.received.push({name, payload});
}, delay);
</script></head><body>page de test</body></html>
)html";

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tessivo-gtk-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) GTEST_SKIP() << "no DISPLAY: run under xvfb-run -a";
        if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display " << display;

        fs::create_directories(dir_.path() / "web");
        std::ofstream(dir_.path() / "web" / "index.html") << kTestPage;
        openWindow(WebsiteDataFolders::under(dir_.path() / "website-data"));
    }

    // A new engine and window on the test page, its website data in `folders`.
    void openWindow(const WebsiteDataFolders& folders) {
        ExportEngine::Options options;
        options.configuration.settingsFile = dir_.path() / "settings.ini";
        options.openURI = [this](const std::string& uri) {
            opened_.push_back(uri);
            return true;
        };
        engine_ = ExportEngine::create(std::move(options));
        window_ = std::make_unique<MainWindow>(nullptr, engine_, entryPageIn(dir_.path()), folders);

        bool finished = false;
        g_signal_connect(window_->webViewHost().webView(), "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer flag) {
                             if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(flag) = true;
                         }),
                         &finished);
        ASSERT_TRUE(waitFor([&] { return finished; }, 8)) << "the page did not load";
        g_signal_handlers_disconnect_by_data(window_->webViewHost().webView(), &finished);
    }

    void TearDown() override {
        window_.reset();
        engine_.reset();
    }

    // Evaluates `script` in the page and returns its value as JSON.
    Json evaluate(const std::string& script) {
        struct Result {
            bool done = false;
            std::string json;
            std::string error;
        } result;
        webkit_web_view_evaluate_javascript(
            window_->webViewHost().webView(), script.c_str(), -1, nullptr, nullptr, nullptr,
            [](GObject* view, GAsyncResult* async, gpointer data) {
                auto* r = static_cast<Result*>(data);
                GErrorOut error;
                // A new reference owned here.
                auto value = adoptGObject(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), async,
                                                                                     error.out()));
                if (value) {
                    GUniquePtr<gchar> json(jsc_value_to_json(value.get(), 0));
                    r->json = json ? json.get() : "null";
                } else {
                    r->error = error.message();
                }
                r->done = true;
            },
            &result);
        EXPECT_TRUE(waitFor([&] { return result.done; }, 5)) << "no answer to " << script;
        EXPECT_EQ(result.error, "") << script;
        return parseJson(result.json).value_or(Json());
    }

    TempDir dir_;
    std::vector<std::string> opened_;
    std::shared_ptr<ExportEngine> engine_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, ShowsTheEntryPageFillingTheWindow) {
    EXPECT_EQ(evaluate("document.title"), "Page de test");
    EXPECT_EQ(evaluate("location.href").get<std::string>().rfind("tessivo://", 0), 0u);
    GtkAllocation page{};
    gtk_widget_get_allocation(window_->webViewHost().widget(), &page);
    EXPECT_GE(page.width, MainWindow::kMinimumWidth);
    EXPECT_GE(page.height, MainWindow::kMinimumHeight);
}

TEST(MainWindowSize, FitsTheMonitorWorkArea) {
    using Size = MainWindow::Size;
    struct Case {
        Size workArea, wantedDefault, wantedMinimum;
    };
    const Case cases[] = {
        {{1920, 1080}, {1720, 980}, {1280, 800}},  // room to spare
        {{1600, 1000}, {1600, 980}, {1280, 800}},  // narrower than the default
        {{1600, 900}, {1600, 900}, {1280, 800}},   // both dimensions clamped
        {{1024, 700}, {1024, 700}, {1024, 700}},   // smaller than the minimum too
        {{0, 0}, {1720, 980}, {1280, 800}},        // no monitor known
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MainWindow::fittedDefaultSize(c.workArea), c.wantedDefault) << c.workArea.width;
        EXPECT_EQ(MainWindow::fittedMinimumSize(c.workArea), c.wantedMinimum) << c.workArea.width;
    }
}

TEST_F(MainWindowTest, OnlyObjectBodiesReachTheDispatcher) {
    // Bodies that are not envelopes come first; messages arrive in order, so by
    // the time the envelope is handled every earlier one has been seen.
    evaluate(R"js(
        const post = (body) => window.webkit.messageHandlers.exportEngine.postMessage(body);
        const envelope = (url) => ({type: 'openExternal', payload: {url}});
        post('texte');
        post(42);
        post(null);
        post([envelope('https://example.org/array')]);
        post(JSON.stringify(envelope('https://example.org/string')));
        post(envelope('https://example.org/ok'));
        true;
    )js");
    ASSERT_TRUE(waitFor([&] { return !opened_.empty(); }, 5)) << "the envelope never reached the engine";
    runFor(0.1);
    EXPECT_EQ(opened_, std::vector<std::string>{"https://example.org/ok"});
}

TEST_F(MainWindowTest, CallbacksWaitAboutFourHundredFiftyMillisecondsForTheirFunction) {
    engine_->callWebFunction("window.onSoon", Json{{"texte", "Bonjour « é »"}, {"n", 3}});
    engine_->callWebFunction("window.onTooLate", Json{{"n", 4}});
    engine_->callWebFunction("window.onNow", Json::object());
    // Evaluated after the deliveries above have made their first try.
    evaluate("window.onNow = (p) => window.received.push({name: 'onNow', payload: p});"
             "defineLater('onSoon', 200); defineLater('onTooLate', 500); true;");
    runFor(0.9);
    const Json received = evaluate("window.received");
    const Json expected = Json::parse(R"([
        {"name": "onSoon", "payload": {"texte": "Bonjour « é »", "n": 3}}
    ])");
    // onNow was defined after its only immediate try, and is reached by a retry.
    ASSERT_TRUE(received.is_array());
    std::vector<std::string> names;
    for (const auto& call : received) names.push_back(call.value("name", ""));
    EXPECT_EQ(names, (std::vector<std::string>{"onNow", "onSoon"}));
    EXPECT_EQ(SortedJson(received.at(1)), SortedJson(expected.at(0)));
}

TEST_F(MainWindowTest, OverlayFollowsTheRenderState) {
    RenderOverlay& overlay = window_->renderOverlay();
    EXPECT_FALSE(overlay.isShown());

    engine_->setRendering(true);
    engine_->setRenderProgress(0.999);
    EXPECT_TRUE(overlay.isShown());
    EXPECT_EQ(overlay.percentText(), "99%");
    EXPECT_DOUBLE_EQ(overlay.barFraction(), 0.999);

    engine_->setRenderProgress(0.427);
    EXPECT_EQ(overlay.percentText(), "42%");

    engine_->setRendering(false);
    EXPECT_FALSE(overlay.isShown());
}

TEST_F(MainWindowTest, TheEndOfALiveBuildMakesTheWindowOpaqueAndClickable) {
    GtkWidget* window = GTK_WIDGET(window_->window());
    gtk_widget_set_opacity(window, 0.35);
    gtk_widget_set_sensitive(window, FALSE);
    engine_->handleWebMessage(Json{{"type", "fusionLiveBuildEnd"}});
    EXPECT_DOUBLE_EQ(gtk_widget_get_opacity(window), 1.0);
    EXPECT_TRUE(gtk_widget_is_sensitive(window));
}

TEST_F(MainWindowTest, ClosingTheWindowClosesTheChannel) {
    WebViewHost& host = window_->webViewHost();
    ASSERT_TRUE(host.messageHandlerRegistered());
    window_->close();
    EXPECT_TRUE(window_->isClosed());
    EXPECT_FALSE(host.messageHandlerRegistered());
    host.removeMessageHandler();  // a second removal is harmless
    // Callbacks after the close go nowhere.
    engine_->callWebFunction("window.onNow", Json::object());
    runFor(0.05);
}

TEST_F(MainWindowTest, ClosingWithTheSavePanelOpenAnswersCancelled) {
    SavePanel* panel = engine_->savePanel();
    ASSERT_NE(panel, nullptr);
    int answers = 0;
    std::optional<fs::path> chosen = fs::path("placeholder");
    panel->chooseOutputFile({"Enregistrer la video", "Kinetype_Render.mov", "mov"},
                            [&](std::optional<fs::path> file) {
                                ++answers;
                                chosen = std::move(file);
                            });
    runFor(0.1);
    EXPECT_EQ(answers, 0) << "answered before the user chose";
    window_->close();
    EXPECT_EQ(engine_->savePanel(), nullptr);
    runFor(0.1);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(chosen, std::nullopt);
}

// The close button lets the page go before the window goes: its pagehide
// handlers run (the editor saves there), then the window closes.
TEST_F(MainWindowTest, CloseButtonLetsThePageGoFirst) {
    evaluate("addEventListener('pagehide', () => localStorage.setItem('fermeture', 'pagehide')); true;");
    gtk_window_close(window_->window());  // as the title bar's button does (from the main loop)
    ASSERT_TRUE(waitFor([&] { return window_->isClosed(); }, MainWindow::kPageLeaveLimit + 1));
    EXPECT_FALSE(window_->webViewHost().messageHandlerRegistered());
    window_.reset();
    engine_.reset();
    openWindow(WebsiteDataFolders::under(dir_.path() / "website-data"));
    EXPECT_EQ(evaluate("localStorage.getItem('fermeture')"), "pagehide");
}

// Whether some file under `folder` holds `text`, in UTF-8 or UTF-16 LE (how
// the page's storage may keep a value).
bool someFileHolds(const fs::path& folder, const std::string& text) {
    std::string utf16;
    for (char c : text) utf16 += std::string{c, '\0'};
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.find(text) != std::string::npos || bytes.find(utf16) != std::string::npos) return true;
    }
    return false;
}

// The editor keeps its project in the page's local storage: a value stored
// there is on disk once the window and its engine are gone, a new window on
// the same folders reads it back, and a window on other folders starts empty.
TEST_F(MainWindowTest, PageStorageOutlivesTheWindow) {
    const std::string marker = "projet-persistant-7f3a";
    evaluate("localStorage.setItem('tessivo.project', '" + marker + "'); true;");
    window_.reset();
    engine_.reset();
    runFor(0.3);
    const WebsiteDataFolders kept = WebsiteDataFolders::under(dir_.path() / "website-data");
    EXPECT_TRUE(someFileHolds(kept.data, marker)) << "the stored value never reached " << kept.data;

    struct Case {
        const char* name;
        WebsiteDataFolders folders;
        Json expected;
    };
    const Case cases[] = {
        {"same folders", kept, marker},
        {"other folders", WebsiteDataFolders::under(dir_.path() / "other-data"), nullptr},
    };
    for (const Case& c : cases) {
        openWindow(c.folders);
        EXPECT_EQ(evaluate("localStorage.getItem('tessivo.project')"), c.expected) << c.name;
        window_.reset();
        engine_.reset();
    }
}

TEST(PaintMode, KnowsTheCpuRasterisers) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Software Rasterizer", true},
        {"Mesa X11 swrast", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"AMD Radeon RX 6600 (radeonsi, navy_flounder, LLVM 15.0.6, DRM 3.49)", false},
        {"NVIDIA GeForce GTX 1660/PCIe/SSE2", false},
        {"", false},
    };
    for (const auto& [renderer, software] : cases) EXPECT_EQ(isSoftwareRenderer(renderer), software) << renderer;
}

// Over a CPU-drawn OpenGL (as under Xvfb) the page is painted in software;
// over a real GPU WebKit keeps its accelerated painting.
TEST_F(MainWindowTest, PaintsInSoftwareOnlyOverACpuDrawnOpenGL) {
    const auto renderer = displayGLRenderer();
    const bool software = renderer && isSoftwareRenderer(*renderer);
    const auto policy =
        webkit_settings_get_hardware_acceleration_policy(webkit_web_view_get_settings(window_->webViewHost().webView()));
    EXPECT_EQ(policy == WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, software) << renderer.value_or("no OpenGL");
}

TEST(RenderPercentText, TruncatesAndClamps) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0.0, "0%"},    {0.999, "99%"},  {0.427, "42%"}, {0.5, "50%"},
        {1.0, "100%"},  {-0.2, "0%"},    {1.7, "100%"},  {std::nan(""), "0%"},
    };
    for (const auto& [progress, text] : cases) EXPECT_EQ(renderPercentText(progress), text) << progress;
}

TEST(EntryPage, PrefersTheWebFolderThenTheTopLevel) {
    struct Case {
        const char* name;
        std::vector<const char*> files;
        std::optional<const char*> expected;
    };
    const std::vector<Case> cases = {
        {"both", {"web/index.html", "index.html"}, "web/index.html"},
        {"top level only", {"index.html"}, "index.html"},
        {"web folder only", {"web/index.html"}, "web/index.html"},
        {"neither", {"web/other.html"}, std::nullopt},
    };
    for (const auto& c : cases) {
        TempDir dir;
        for (const char* file : c.files) {
            fs::create_directories((dir.path() / file).parent_path());
            std::ofstream(dir.path() / file) << "<html></html>";
        }
        auto found = entryPageIn(dir.path());
        if (c.expected) {
            EXPECT_EQ(found, dir.path() / *c.expected) << c.name;
        } else {
            EXPECT_EQ(found, std::nullopt) << c.name;
        }
    }
}

}  // namespace
}  // namespace tessivo
