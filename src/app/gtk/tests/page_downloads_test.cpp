// Files saved by the page go where the save panel says. Needs a display (run
// under xvfb-run); the WebKit cases are skipped without one.
#include "app/gtk/page_downloads.h"

#include "platform/queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tessivo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    runMainContextUntil([&] { return condition() || Clock::now() >= deadline; });
    return condition();
}

TEST(PageDownloadsRequest, NamesTheFileAndItsKind) {
    struct Case {
        std::string suggested, name, format;
    };
    const Case cases[] = {
        {"sous-titres.srt", "sous-titres.srt", "srt"},
        {"Démo Tessivo.tessivo.json", "Démo Tessivo.tessivo.json", "json"},
        {"EXPORT.SRT", "EXPORT.SRT", "srt"},
        {"../../.bashrc", ".bashrc", ""},  // never a path, and a dot file has no extension
        {"", "tessivo", ""},
        {"sans-extension", "sans-extension", ""},
    };
    for (const Case& c : cases) {
        const SavePanelRequest request = PageDownloads::requestFor(c.suggested);
        EXPECT_EQ(request.suggestedName, c.name) << c.suggested;
        EXPECT_EQ(request.format, c.format) << c.suggested;
        EXPECT_FALSE(request.title.empty());
    }
}

// Keeps each request; the test answers them later, as a user would.
class FakeSavePanel final : public SavePanel {
public:
    std::vector<SavePanelRequest> requests;
    std::vector<std::function<void(std::optional<fs::path>)>> waiting;

    void chooseOutputFile(const SavePanelRequest& request,
                          std::function<void(std::optional<fs::path>)> done) override {
        requests.push_back(request);
        waiting.push_back(std::move(done));
    }
    void answer(const std::optional<fs::path>& chosen) {
        auto calls = std::move(waiting);
        waiting.clear();
        for (auto& done : calls) done(chosen);
    }
};

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class PageDownloadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) GTEST_SKIP() << "no display";
        gtk_init(nullptr, nullptr);
        std::string pattern = (fs::temp_directory_path() / "tessivo-downloads-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        context_ = adoptGObject(webkit_web_context_new_ephemeral());
        downloads_ = std::make_unique<PageDownloads>(context_.get(), panel_);
        view_ = adoptGObject(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), nullptr)));
        g_object_ref_sink(view_.get());
        bool loaded = false;
        g_signal_connect(view_.get(), "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer flag) {
                             if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(flag) = true;
                         }),
                         &loaded);
        webkit_web_view_load_html(view_.get(), "<!doctype html><body>page</body>", "https://page.invalid/");
        ASSERT_TRUE(waitFor([&] { return loaded; }, 10));
        g_signal_handlers_disconnect_by_data(view_.get(), &loaded);
    }
    void TearDown() override {
        downloads_.reset();
        view_ = {};
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    // The page saves `text` as `name`, as the editor's file menu does.
    void pageSaves(const std::string& name, const std::string& text) {
        const std::string script = "const a = document.createElement('a');"
                                   "a.href = URL.createObjectURL(new Blob([" + std::string("'") + text +
                                   "'], {type: 'text/plain'}));"
                                   "a.download = '" + name + "'; document.body.appendChild(a); a.click();";
        webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                            nullptr);
    }

    fs::path dir_;
    FakeSavePanel panel_;
    GObjectPtr<WebKitWebContext> context_;
    std::unique_ptr<PageDownloads> downloads_;
    GObjectPtr<WebKitWebView> view_;
};

TEST_F(PageDownloadsTest, WritesWhereThePanelSaysReplacingOnlyAfterItAsked) {
    const fs::path chosen = dir_ / "choisi.srt";
    {
        std::ofstream old(chosen);
        old << "ancien";
    }
    pageSaves("sous-titres.srt", "1\\r\\n00:00:00,000 --> 00:00:01,000\\r\\nBonjour\\r\\n");
    ASSERT_TRUE(waitFor([&] { return !panel_.waiting.empty(); }, 10));
    EXPECT_EQ(contentOf(chosen), "ancien") << "nothing written before the user chose";
    panel_.answer(chosen);
    ASSERT_TRUE(waitFor([&] { return contentOf(chosen).starts_with("1\r\n"); }, 10)) << contentOf(chosen);
    ASSERT_EQ(panel_.requests.size(), 1u);
    EXPECT_EQ(panel_.requests[0].suggestedName, "sous-titres.srt");
    EXPECT_EQ(panel_.requests[0].format, "srt");
    EXPECT_EQ(contentOf(chosen), "1\r\n00:00:00,000 --> 00:00:01,000\r\nBonjour\r\n");
}

TEST_F(PageDownloadsTest, ACancelledPanelWritesNothing) {
    pageSaves("projet.tessivo.json", "{}");
    ASSERT_TRUE(waitFor([&] { return !panel_.waiting.empty(); }, 10));
    panel_.answer(std::nullopt);
    waitFor([] { return false; }, 0.5);
    EXPECT_EQ(panel_.requests[0].format, "json");
    EXPECT_TRUE(fs::is_empty(dir_));
    const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (downloads) {
        EXPECT_FALSE(fs::exists(fs::path(downloads) / "projet.tessivo.json"));
    }
}

}  // namespace
}  // namespace tessivo
