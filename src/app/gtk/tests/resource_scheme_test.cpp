// Pages served through the resource scheme, in both web views that load
// pages: the main window's and the offscreen render surface's. A page reads
// the files of its folder, with their right types, and nothing else: not
// file: URLs, not a path walking out of its folder however encoded, not a
// link leading out, not another served folder. Needs a display (run under
// xvfb-run); skipped without one.
#include "app/gtk/offscreen_render_surface.h"
#include "app/gtk/resource_scheme.h"
#include "app/gtk/web_view_host.h"
#include "platform/queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace tessivo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    runMainContextUntil([&] { return condition() || Clock::now() >= deadline; });
    return condition();
}

// Reads each forbidden address with fetch() and with XMLHttpRequest, and each
// served file with fetch(); posts everything it saw through "exportEngine".
// "read" means the page got the file's content.
constexpr const char* kProbePage = R"html(<!doctype html>
<html><head><title>Sondé</title>
<link rel="stylesheet" href="style.css">
<script type="module" src="mod.mjs"></script>
<script>
const forbidden = {
    'file:///etc/passwd': 'file:///etc/passwd',
    'file: secret': 'file://' + @SECRET@,
    'file: home': 'file://' + @HOME@,
    '../': '../secret.txt',
    '%2e%2e': '%2e%2e/secret.txt',
    '..%2f': '..%2fsecret.txt',
    '%2e%2e%2f': 'sub%20dir%2f%2e%2e%2f%2e%2e%2fsecret.txt',
    'home through ..%2f': '..%2f'.repeat(40) + @HOME@.slice(1).split('/').join('%2f'),
    'absolute path': '/%2f' + @SECRET@.slice(1).split('/').join('%2f'),
    'link out': 'link-out',
    'other folder': @OTHER@,
};
const read = (body) => body.length > 0 ? 'read ' + body.slice(0, 12) : 'empty';
const byFetch = (url) => fetch(url).then((r) => r.text()).then(read, () => 'failed');
const byXHR = (url) => new Promise((resolve) => {
    const x = new XMLHttpRequest();
    x.onload = () => resolve(read(x.responseText));
    x.onerror = () => resolve('failed');
    try { x.open('GET', url); x.send(); } catch (e) { resolve('failed'); }
});
const served = ['data.json', 'mod.mjs', 'style.css', 'font.ttf', 'image.svg', 'blob.bin', 'sub%20dir/caf%C3%A9.txt'];
window.addEventListener('load', async () => {
    const result = {forbidden: {}, served: {}};
    for (const [name, url] of Object.entries(forbidden))
        result.forbidden[name] = {fetch: await byFetch(url), xhr: await byXHR(url)};
    for (const file of served) {
        const r = await fetch(file);
        result.served[file] = {status: r.status, type: r.headers.get('content-type'), bytes: (await r.arrayBuffer()).byteLength};
    }
    result.json = await (await fetch('data.json')).json();
    result.module = window.moduleLoaded === true;
    const face = new FontFace('Sonde', 'url(font.ttf)');
    result.font = await face.load().then(() => face.status, () => 'error');
    result.style = getComputedStyle(document.body).marginLeft;
    result.title = document.title;
    result.protocol = location.protocol;
    result.secure = window.isSecureContext;
    window.webkit.messageHandlers.exportEngine.postMessage({type: 'probes', payload: result});
});
</script></head><body>sonde</body></html>
)html";

std::string jsString(const std::string& text) { return Json(text).dump(); }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A page loaded by one of the two hosts, kept alive until the test ends.
using LoadedPage = std::shared_ptr<void>;
using PageLoader = std::function<LoadedPage(const fs::path& page, std::function<void(const Json&)> receiver)>;

LoadedPage loadInMainWebView(const fs::path& page, std::function<void(const Json&)> receiver) {
    struct Loaded {
        GObjectPtr<GtkWindow> window;
        std::shared_ptr<WebViewHost> host;
        ~Loaded() { gtk_widget_destroy(GTK_WIDGET(window.get())); }
    };
    auto loaded = std::make_shared<Loaded>();
    // GTK keeps a toplevel alive until it is destroyed; this reference is ours.
    loaded->window = retainGObject(GTK_WINDOW(gtk_offscreen_window_new()));
    loaded->host = std::make_shared<WebViewHost>();
    loaded->host->setMessageReceiver(std::move(receiver));
    gtk_container_add(GTK_CONTAINER(loaded->window.get()), loaded->host->widget());
    gtk_widget_show_all(GTK_WIDGET(loaded->window.get()));
    EXPECT_TRUE(loaded->host->loadEntryPage(page));
    return loaded;
}

LoadedPage loadInRenderSurface(const fs::path& page, std::function<void(const Json&)> receiver) {
    auto surface = std::make_shared<OffscreenRenderSurface>(320, 180, std::move(receiver));
    EXPECT_TRUE(surface->loadPage(page));
    return surface;
}

struct ViewCase {
    const char* name;
    PageLoader load;
};
void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }

class ResourceSchemeTest : public ::testing::TestWithParam<ViewCase> {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) GTEST_SKIP() << "no DISPLAY: run under xvfb-run -a";
        if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display " << display;

        std::string pattern = (fs::temp_directory_path() / "tessivo-scheme-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        tmp_ = fs::canonical(pattern);
        const fs::path site = tmp_ / "site";
        fs::create_directories(site / "sub dir");
        fs::create_directories(tmp_ / "other");
        std::ofstream(tmp_ / "secret.txt") << "SECRET outside the served folder";
        std::ofstream(tmp_ / "other" / "other.txt") << "SECRET of another served folder";
        std::ofstream(site / "data.json") << R"({"mot": "café", "n": 3})";
        std::ofstream(site / "mod.mjs") << "window.moduleLoaded = true;\n";
        std::ofstream(site / "style.css") << "body { margin-left: 17px; }\n";
        std::ofstream(site / "image.svg") << R"(<svg xmlns="http://www.w3.org/2000/svg"/>)";
        std::ofstream(site / "blob.bin") << std::string(3000, 'x');
        std::ofstream(site / "sub dir" / "café.txt") << "dedans";
        fs::create_symlink("../secret.txt", site / "link-out");
        const fs::path font = fs::path(TESSIVO_SOURCE_RESOURCES) / "fonts" / "ttf" / "Anton_400Regular.ttf";
        const fs::path fallback = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
        std::error_code ec;
        fs::copy_file(fs::exists(font) ? font : fallback, site / "font.ttf", ec);
        if (ec) GTEST_SKIP() << "no TrueType font to serve";

        // A file of the user's own, in the home folder.
        std::string homePattern = (fs::path(g_get_home_dir()) / ".tessivo-scheme-test-XXXXXX").string();
        const int fd = mkstemp(homePattern.data());
        if (fd < 0) GTEST_SKIP() << "home folder not writable";
        homeFile_ = homePattern;
        ::close(fd);
        std::ofstream(homeFile_) << "SECRET of the user's home";

        // Another served folder, under a host of its own.
        WebKitWebContext* context = webkit_web_context_get_default();  // not owned
        const auto other = ResourceScheme::of(context).addressOf(tmp_ / "other" / "other.txt", tmp_ / "other");
        ASSERT_TRUE(other.has_value());

        std::string html = replaced(kProbePage, "@SECRET@", jsString((tmp_ / "secret.txt").string()));
        html = replaced(html, "@HOME@", jsString(homeFile_.string()));
        html = replaced(html, "@OTHER@", jsString(*other));
        page_ = site / "index.html";
        std::ofstream(page_) << html;
    }
    void TearDown() override {
        loaded_.reset();
        waitFor([] { return false; }, 0.05);
        std::error_code ec;
        if (!homeFile_.empty()) fs::remove(homeFile_, ec);
        if (!tmp_.empty()) fs::remove_all(tmp_, ec);
    }

    fs::path tmp_;
    fs::path homeFile_;
    fs::path page_;
    LoadedPage loaded_;
};

TEST_P(ResourceSchemeTest, PageReadsItsFolderAndNothingElse) {
    std::optional<Json> probes;
    loaded_ = GetParam().load(page_, [&](const Json& message) {
        if (message.value("type", "") == "probes") probes = message["payload"];
    });
    ASSERT_TRUE(waitFor([&] { return probes.has_value(); }, 20)) << "the page never reported";
    const Json& p = *probes;

    EXPECT_EQ(p["protocol"], "tessivo:");
    EXPECT_EQ(p["title"], "Sondé") << "the page is not read as UTF-8";
    EXPECT_EQ(p["secure"], true);

    ASSERT_EQ(p["forbidden"].size(), 11u);
    for (const auto& [name, outcome] : p["forbidden"].items()) {
        EXPECT_EQ(outcome["fetch"], "failed") << name;
        EXPECT_EQ(outcome["xhr"], "failed") << name;
    }

    struct Served {
        const char* file;
        const char* type;
        int bytes;
    };
    const std::vector<Served> served = {
        {"data.json", "application/json; charset=utf-8", 24},
        {"mod.mjs", "text/javascript; charset=utf-8", 28},
        {"style.css", "text/css; charset=utf-8", 28},
        {"image.svg", "image/svg+xml; charset=utf-8", 41},
        {"blob.bin", "application/octet-stream", 3000},
        {"sub%20dir/caf%C3%A9.txt", "text/plain; charset=utf-8", 6},
    };
    for (const auto& s : served) {
        const Json& got = p["served"][s.file];
        EXPECT_EQ(got["status"], 200) << s.file;
        EXPECT_EQ(got["type"], s.type) << s.file;
        EXPECT_EQ(got["bytes"], s.bytes) << s.file;
    }
    EXPECT_EQ(p["served"]["font.ttf"]["type"], "font/ttf");
    EXPECT_EQ(p["served"]["font.ttf"]["bytes"], fs::file_size(tmp_ / "site" / "font.ttf"));
    EXPECT_EQ(p["json"]["mot"], "café");
    EXPECT_EQ(p["json"]["n"], 3);
    EXPECT_EQ(p["module"], true) << "the module script did not run";
    EXPECT_EQ(p["font"], "loaded");
    EXPECT_EQ(p["style"], "17px");
}

INSTANTIATE_TEST_SUITE_P(BothViews, ResourceSchemeTest,
                         ::testing::Values(ViewCase{"MainWebView", loadInMainWebView},
                                           ViewCase{"RenderSurface", loadInRenderSurface}),
                         [](const auto& info) { return std::string(info.param.name); });

// The editor's own page, served from the resources folder, gets the caption
// typefaces that its style sheet takes from the fonts folder beside its own.
TEST(EditorPage, LoadsItsFontsFromTheResources) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no DISPLAY: run under xvfb-run -a";
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display " << display;
    const fs::path resources = TESSIVO_SOURCE_RESOURCES;
    if (!fs::exists(resources / "fonts" / "ttf" / "Anton_400Regular.ttf"))
        GTEST_SKIP() << "fonts not collected (scripts/test installs them)";
    const auto page = entryPageIn(resources);
    ASSERT_TRUE(page.has_value());

    std::optional<Json> loaded;
    LoadedPage view = loadInRenderSurface(*page, [&](const Json& message) {
        if (message.value("type", "") == "fonts") loaded = message["payload"];
    });
    auto* surface = static_cast<OffscreenRenderSurface*>(view.get());
    const std::vector<std::string> families = {"Anton", "Bebas Neue", "Inter", "Teko", "Rubik Spray Paint"};
    // document.fonts.load answers the faces it loaded, and fails when a
    // face's file did not come: -1.
    const std::string script = "Promise.all(" + Json(families).dump() +
                               ".map((f) => document.fonts.load('40px \"' + f + '\"').then("
                               "(faces) => faces.filter((x) => x.status === 'loaded').length, () => -1)))"
                               ".then((counts) => window.webkit.messageHandlers.exportEngine.postMessage("
                               "{type: 'fonts', payload: {protocol: location.protocol, counts}}));";
    // Once the page has loaded from the scheme.
    const auto loadedFromScheme = [&] {
        std::optional<ScriptResult> answer;
        surface->evaluateScript("document.readyState === 'complete' && location.protocol === 'tessivo:'",
                                [&](ScriptResult r) { answer = std::move(r); });
        waitFor([&] { return answer.has_value(); }, 2);
        return answer && answer->value == Json(true);
    };
    ASSERT_TRUE(waitFor(loadedFromScheme, 10)) << "the editor's page did not load";
    surface->evaluateScript(script);
    ASSERT_TRUE(waitFor([&] { return loaded.has_value(); }, 10)) << "no answer from the page";
    EXPECT_EQ((*loaded)["protocol"], "tessivo:");
    EXPECT_EQ((*loaded)["counts"], Json(std::vector<int>(families.size(), 1)));
}

TEST(ResourceSchemeAddress, SameFolderSameHostAndPagesOutsideTheFolderRefused) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no DISPLAY: run under xvfb-run -a";
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display " << display;
    std::string pattern = (fs::temp_directory_path() / "tessivo-address-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path tmp = fs::canonical(pattern);
    fs::create_directories(tmp / "a" / "é t");
    fs::create_directories(tmp / "b");
    for (const char* file : {"a/index.html", "a/é t/p.html", "b/index.html", "outside.html"})
        std::ofstream(tmp / file) << "<html></html>";

    ResourceScheme& scheme = ResourceScheme::of(webkit_web_context_get_default());
    EXPECT_EQ(&scheme, &ResourceScheme::of(webkit_web_context_get_default()));
    const auto a = scheme.addressOf(tmp / "a" / "index.html", tmp / "a");
    const auto nested = scheme.addressOf(tmp / "a" / "é t" / "p.html", tmp / "a");
    const auto b = scheme.addressOf(tmp / "b" / "index.html", tmp / "b");
    ASSERT_TRUE(a && nested && b);
    const std::string hostA = a->substr(0, a->find('/', 10));
    EXPECT_EQ(a->rfind("tessivo://app", 0), 0u) << *a;
    EXPECT_EQ(*nested, hostA + "/%C3%A9%20t/p.html");
    EXPECT_NE(b->substr(0, b->find('/', 10)), hostA);
    EXPECT_EQ(scheme.addressOf(tmp / "outside.html", tmp / "a"), std::nullopt);
    EXPECT_EQ(scheme.addressOf(tmp / "a" / "missing.html", tmp / "a"), std::nullopt);
    EXPECT_EQ(scheme.addressOf(tmp / "a", tmp / "a"), std::nullopt);
    fs::remove_all(tmp);
}

}  // namespace
}  // namespace tessivo
