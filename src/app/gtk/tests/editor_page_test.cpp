// The editor's page in the real window, driven as a user drives it: DOM
// events on its controls, with the engine behind it and the Resolve
// simulator as Resolve. Needs a display (run under xvfb-run); skipped
// without one.
#include "app/gtk/tests/editor_session.h"
#include "render/tests/movie_probe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessivo {
namespace {

namespace fs = std::filesystem;
using testing::EditorSession;

class EditorPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!EditorSession::displayAvailable(&why)) GTEST_SKIP() << why;
        session = std::make_unique<EditorSession>();
    }
    void TearDown() override { session.reset(); }

    // A fresh simulator holding an open timeline at `fps`, then the window.
    void openOnTimeline(const std::string& fps, bool withDemoSubtitles = false) {
        ASSERT_TRUE(session->sim({"init", "--fps", fps, "--start-timecode", "01:00:00:00", "--project",
                                  "Démo Tessivo", "--timeline", "Timeline démo"}))
            << session->error();
        if (withDemoSubtitles) {
            ASSERT_TRUE(session->sim({"load-srt", TESSIVO_SOURCE_DIR "/tools/resolve-sim/samples/demo.srt",
                                      "--track", "1"}))
                << session->error();
        }
        ASSERT_TRUE(session->open()) << session->error();
    }

    // Runs `body` in the page and fails the test when it throws.
    Json page(const std::string& body, double seconds = 10) {
        auto result = session->run(body, seconds);
        EXPECT_TRUE(result.has_value()) << session->error();
        return result.value_or(Json());
    }
    void waitUntil(const std::string& condition, double seconds) {
        ASSERT_TRUE(session->waitUntil(condition, seconds)) << session->error();
    }

    std::unique_ptr<EditorSession> session;
};

// The project is kept in the page's storage after every change: closing the
// program right after a change, or a while after, loses nothing. Closing
// lets the page go first, so that its pagehide handlers run.
TEST_F(EditorPageTest, ProjectSurvivesClosingTheProgram) {
    openOnTimeline("25");
    for (double pause : {1.0, 0.0}) {
        SCOPED_TRACE("closed " + std::to_string(pause) + " s after the change");
        const std::string text = "Gardé " + std::to_string(static_cast<int>(pause * 10));
        page("tessivoEditor.store.dispatch({type: 'blocks/add', partial: {text: '" + text + "'}});"
             "localStorage.removeItem('test.pagehide');"
             "addEventListener('pagehide', () => localStorage.setItem('test.pagehide', 'vu'));"
             "return true");
        testing::runFor(pause);
        session->close();
        ASSERT_TRUE(session->open()) << session->error();
        EXPECT_EQ(page("return tessivoTest.state().project.blocks.map((b) => b.text).pop()"), text);
        EXPECT_EQ(page("return localStorage.getItem('test.pagehide')"), "vu");
    }
}

// The captions of the simulator's demo timeline (tools/resolve-sim/samples/demo.srt).
struct DemoCue {
    double start, end;
    const char* text;
};
const DemoCue kDemo[] = {
    {1.0, 3.2, "Bonjour à tous, et bienvenue !"},
    {3.4, 6.0, "Aujourd'hui, on découvre\ncomment sous-titrer une vidéo."},
    {6.2, 8.5, "D'abord, on importe les sous-titres."},
    {8.7, 11.0, "Ensuite, on choisit un style animé."},
    {11.2, 13.8, "« Simple, rapide et élégant. »"},
    {14.0, 16.5, "Et voilà : c'est déjà dans la timeline."},
    {16.7, 19.0, "Merci d'avoir regardé, à bientôt !"},
};

// A new project takes the Resolve timeline's rate; the import button brings
// the timeline's subtitles in as blocks on frames of that rate.
TEST_F(EditorPageTest, ImportsTheDemoSubtitlesFromResolve) {
    openOnTimeline("30", true);
    waitUntil("tessivoTest.state().project.fps === 30", 10);
    ASSERT_EQ(page("return tessivoTest.state().project.blocks.length"), 0);

    page("tessivoTest.click('import-resolve'); return true");
    waitUntil("tessivoTest.state().project.blocks.length === 7", 20);
    const Json blocks = page(
        "return tessivoTest.state().project.blocks.map((b) => ({text: b.text, start: b.startTime, "
        "duration: b.duration, track: b.trackId, kind: b.source && b.source.kind}))");
    ASSERT_TRUE(session->lastMessage("importResolveSubtitles").has_value());
    ASSERT_EQ(blocks.size(), std::size(kDemo));
    for (size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        const Json& b = blocks[i];
        EXPECT_EQ(b["text"], kDemo[i].text);
        // Resolve holds frames: each time is the nearest frame at 30 fps.
        EXPECT_NEAR(b["start"].get<double>(), std::round(kDemo[i].start * 30) / 30, 1e-6);
        EXPECT_NEAR(b["duration"].get<double>(), std::round((kDemo[i].end - kDemo[i].start) * 30) / 30, 1e-6);
        EXPECT_EQ(b["track"], 0);
        EXPECT_EQ(b["kind"], "resolve");
    }
}

// Clicking a block on the timeline selects it; the style panel's font and
// colour then change that block alone, each change one undo step.
TEST_F(EditorPageTest, RestylesTheBlockClickedOnTheTimeline) {
    openOnTimeline("25");
    page(R"js(
        tessivoEditor.store.dispatch({type: 'blocks/import', replace: true, blocks: [
            {text: 'Premier', startTime: 0.5, duration: 2, font: 'Bebas Neue', color: '#ffffff'},
            {text: 'Second', startTime: 3, duration: 2, font: 'Bebas Neue', color: '#ffffff'}]});
        await tessivoTest.frames(2);
        return true)js");
    const std::string second = page("return tessivoTest.state().project.blocks[1].id");
    page("tessivoTest.click('tab-style'); tessivoTest.clickBlock('" + second + "'); return true");
    waitUntil("tessivoTest.state().ui.selection.join() === '" + second + "'", 10);

    // Another font than the block's, among those the panel offers.
    const std::string font = page(R"js(
        const options = [...tessivoTest.el('style-font').options].map((o) => o.value);
        return options.find((f) => f !== 'Bebas Neue'))js");
    ASSERT_FALSE(font.empty());
    page("tessivoTest.choose('style-font', '" + font + "'); tessivoTest.choose('style-color', '#ff3366'); "
         "return true");
    waitUntil("tessivoTest.state().project.blocks[1].color === '#ff3366'", 10);
    const Json styled = page("return tessivoTest.state().project.blocks.map((b) => [b.font, b.color])");
    EXPECT_EQ(styled, Json::parse(R"([["Bebas Neue", "#ffffff"], [")" + font + R"(", "#ff3366"]])"));

    // Ctrl+Z on the timeline takes back the colour, then the font.
    page("tessivoTest.key('z', {ctrlKey: true}, 'timeline-canvas'); return true");
    waitUntil("tessivoTest.state().project.blocks[1].color === '#ffffff'", 10);
    EXPECT_EQ(page("return tessivoTest.state().project.blocks[1].font"), font);
    page("tessivoTest.key('z', {ctrlKey: true}, 'timeline-canvas'); return true");
    waitUntil("tessivoTest.state().project.blocks[1].font === 'Bebas Neue'", 10);
}

// Items of the simulator's timeline on tracks whose label holds `trackWord`.
std::vector<std::string> itemNames(const Json& timeline, const std::string& trackWord) {
    std::vector<std::string> names;
    for (const auto& [label, items] : timeline.items()) {
        if (label.find(trackWord) == std::string::npos) continue;
        for (const Json& item : items) names.push_back(item["name"]);
    }
    return names;
}

bool anyHolds(const std::vector<std::string>& names, const std::string& text) {
    for (const auto& name : names)
        if (name.find(text) != std::string::npos) return true;
    return false;
}

// A smart send: the two blocks Lottie can draw become Lottie clips, the
// glowing one is rendered by the page and placed by Exact Web; the answer
// is shown in the send panel.
TEST_F(EditorPageTest, SmartSendPlacesEachBlockByItsRoute) {
    openOnTimeline("25");
    page(R"js(
        tessivoEditor.store.dispatch({type: 'blocks/import', replace: true, blocks: [
            {text: 'Lottie un', startTime: 0.2, duration: 0.6},
            {text: 'Lueur', startTime: 1, duration: 0.4, glowType: 'neon', glowColor: '#00ff88'},
            {text: 'Lottie deux', startTime: 1.6, duration: 0.6}]});
        tessivoTest.click('tab-send');
        await tessivoTest.frames(1);
        tessivoTest.choose('send-route', 'smart');
        tessivoTest.choose('send-range', 'all');
        await tessivoTest.frames(1);
        tessivoTest.click('send-resolve');
        return true)js");
    waitUntil("tessivoTest.state().ui.engine.requests.export.status !== 'pending'", 90);

    const auto sent = session->lastMessage("exportResolveSmart");
    ASSERT_TRUE(sent.has_value());
    std::vector<std::string> capabilities;
    for (const Json& sequence : (*sent)["sequences"]) capabilities.push_back(sequence["lottieCapability"]["status"]);
    EXPECT_EQ(capabilities, (std::vector<std::string>{"supported", "unsupported", "supported"}));

    const std::string shown = page("return tessivoTest.el('export-result').textContent");
    EXPECT_NE(shown.find("Sous-titres ajoutés avec routage automatique dans DaVinci."), std::string::npos) << shown;
    EXPECT_NE(shown.find("2 blocs en Lottie direct, 1 bloc en Exact Web"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Attention"), std::string::npos) << shown;
    EXPECT_EQ(page("return tessivoTest.el('export-result').classList.contains('ok')"), true);

    const auto timeline = session->simTimeline();
    ASSERT_TRUE(timeline.has_value());
    const auto lottie = itemNames(*timeline, "Lottie");
    const auto overlay = itemNames(*timeline, "Overlay");
    EXPECT_EQ(lottie.size(), 2u) << timeline->dump();
    EXPECT_TRUE(anyHolds(lottie, "Lottie un") && anyHolds(lottie, "Lottie deux")) << timeline->dump();
    ASSERT_EQ(overlay.size(), 1u) << timeline->dump();
    EXPECT_TRUE(anyHolds(overlay, "Lueur")) << timeline->dump();
}

// The effects tab lists the library the engine keeps (the included effects
// among them); picking one and inserting it puts a Text+ title carrying the
// selected block's text on the timeline, and the page says where.
TEST_F(EditorPageTest, InsertsALibraryEffectIntoTheTimeline) {
    openOnTimeline("25");
    page(R"js(
        tessivoEditor.store.dispatch({type: 'blocks/import', replace: true, blocks: [
            {text: 'Titre de la bibliothèque', startTime: 0, duration: 2}]});
        tessivoEditor.store.dispatch({type: 'selection/all'});
        tessivoTest.click('tab-effects');
        return true)js");
    waitUntil("document.querySelectorAll('.fx-card').length >= 5", 30);
    EXPECT_EQ(page("return tessivoTest.find('.fx-card', 'Pop Clean') !== null"), true);
    page(R"js(
        tessivoTest.clickElement(tessivoTest.find('.fx-card', 'Pop Clean'));
        await tessivoTest.frames(2);
        tessivoTest.clickElement(tessivoTest.find('button', 'Insérer dans Resolve'));
        return true)js");
    waitUntil("document.body.textContent.includes('Effet inséré')", 60);

    const auto sent = session->lastMessage("fusionInsertEffect");
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ((*sent)["id"], "builtin-pop-clean");
    const auto timeline = session->simTimeline();
    ASSERT_TRUE(timeline.has_value());
    const auto titles = itemNames(*timeline, "video");
    ASSERT_EQ(titles.size(), 1u) << timeline->dump();
    EXPECT_EQ(titles[0], "Text+") << timeline->dump();
}

// "Image Resolve" then "Capturer l'image": the preview's background becomes
// the still of Resolve's current frame; over an empty viewer the page says so
// and keeps its background.
TEST_F(EditorPageTest, ShowsResolvesCurrentFrameBehindThePreview) {
    openOnTimeline("25", true);
    const char* capture = R"js(
        tessivoTest.clickElement(document.querySelector('input[name="preview-background"][value="still"]'));
        await tessivoTest.frames(2);
        tessivoTest.clickElement(tessivoTest.find('button', 'Capturer l’image'));
        return true)js";
    page(capture);
    waitUntil("tessivoTest.state().ui.engine.requests.still.status === 'done'", 60);
    EXPECT_EQ(page("return tessivoTest.state().ui.preview.stillDataUrl || ''"), "");
    EXPECT_EQ(page("return document.body.textContent.includes('aucune image')"), true);

    ASSERT_TRUE(session->sim({"add-clip", "--name", "Plan large", "--start", "0", "--duration", "10s"}))
        << session->error();
    page(R"js(
        tessivoTest.clickElement(tessivoTest.find('button', 'Capturer l’image'));
        return true)js");
    waitUntil("(tessivoTest.state().ui.preview.stillDataUrl || '').startsWith('data:image/jpeg;base64,')", 60);
    EXPECT_EQ(page("return tessivoTest.state().ui.preview.background"), "still");
}

// "Suivre Resolve" starts the watch: moving Resolve's playhead moves the
// editor's, and unticking it stops following.
TEST_F(EditorPageTest, FollowsResolvesPlayheadWhenAsked) {
    openOnTimeline("25", true);
    page(R"js(
        tessivoTest.clickElement(tessivoTest.find('label', 'Suivre Resolve').querySelector('input'));
        return true)js");
    waitUntil("tessivoTest.state().ui.followResolve === true", 10);
    ASSERT_TRUE(session->sim({"playhead", "01:00:04:10"})) << session->error();
    waitUntil("Math.abs(tessivoTest.state().ui.playhead - 4.4) < 1e-6", 20);
    ASSERT_TRUE(session->sim({"playhead", "01:00:07:00"})) << session->error();
    waitUntil("Math.abs(tessivoTest.state().ui.playhead - 7) < 1e-6", 20);

    page(R"js(
        tessivoTest.clickElement(tessivoTest.find('label', 'Suivre Resolve').querySelector('input'));
        return true)js");
    waitUntil("tessivoTest.state().ui.followResolve === false", 10);
    ASSERT_TRUE(session->lastMessage("fusionTimelineWatchStop").has_value());
}

int maxAlpha(const testing::ProbedFrame& frame) {
    int best = 0;
    for (size_t i = 3; i < frame.rgba.size(); i += 4) best = std::max<int>(best, frame.rgba[i]);
    return best;
}

// The render button asks where to write the movie, renders the project
// through the page and writes it there: a transparent ProRes movie holding
// the caption exactly while its block lasts.
TEST_F(EditorPageTest, RendersAMovieWhereTheUserChose) {
    openOnTimeline("25");
    const fs::path movie = session->folder() / "Rendu des sous-titres.mov";
    session->savePanel().answer = movie;
    page(R"js(
        tessivoEditor.store.dispatch({type: 'project/new', width: 320, height: 180, fps: 10});
        tessivoEditor.store.dispatch({type: 'blocks/import', replace: true, blocks: [
            {text: 'Rendu', startTime: 0.4, duration: 0.8, size: 20, animIn: 'none', animOut: 'none'}]});
        tessivoTest.click('tab-send');
        await tessivoTest.frames(1);
        tessivoTest.click('render-start');
        return true)js");
    waitUntil("tessivoTest.state().ui.engine.requests.render.status !== 'pending'", 60);
    EXPECT_EQ(page("return tessivoTest.state().ui.engine.requests.render.status"), "done");
    ASSERT_EQ(session->savePanel().requests.size(), 1u);
    EXPECT_EQ(session->savePanel().requests[0].format, "mov");

    auto probed = testing::probeMovie(movie);
    ASSERT_TRUE(probed.has_value()) << movie;
    EXPECT_EQ(probed->codec, "prores");
    // 0 to 1.2 s at 10 fps; the caption from frame 4 to frame 11.
    ASSERT_EQ(probed->frames.size(), 12u);
    for (size_t i = 0; i < probed->frames.size(); ++i) {
        EXPECT_EQ(probed->frames[i].width, 320);
        if (i >= 4) EXPECT_GE(maxAlpha(probed->frames[i]), 250) << "frame " << i;
        else EXPECT_EQ(maxAlpha(probed->frames[i]), 0) << "frame " << i;
    }
}

// The project file and the SRT export are saved where the user chooses, under
// the name the page suggests; a cancelled choice writes nothing anywhere.
TEST_F(EditorPageTest, SavesTheFilesThePageOffersWhereTheUserChooses) {
    openOnTimeline("25");
    page(R"js(
        tessivoEditor.store.dispatch({type: 'project/rename', name: 'Mon film'});
        tessivoEditor.store.dispatch({type: 'blocks/import', replace: true, blocks: [
            {text: 'Premier', startTime: 0.4, duration: 2}, {text: 'Second', startTime: 3, duration: 1}]});
        return true)js");
    struct Case {
        const char* name;
        const char* action;            // what the user does in the page
        const char* destination;       // the file chosen, or nullptr: cancelled
        const char* suggestedEnd;      // how the suggested name ends
        std::vector<const char*> held;  // texts the saved file holds
    };
    const Case cases[] = {
        {"save button", "tessivoTest.click('project-save')", "projet.tessivo.json", ".tessivo.json",
         {"\"Mon film\"", "\"Premier\"", "\"Second\""}},
        {"Ctrl+S", "tessivoTest.key('s', {ctrlKey: true}, 'timeline-canvas')", "raccourci.tessivo.json",
         ".tessivo.json", {"\"Premier\""}},
        {"SRT export", "tessivoTest.click('export-srt')", "film.srt", ".srt",
         {"00:00:00,400 --> 00:00:02,400", "Premier", "00:00:03,000 --> 00:00:04,000", "Second"}},
        {"cancelled", "tessivoTest.click('project-save')", nullptr, ".tessivo.json", {}},
    };
    const fs::path home = std::getenv("HOME");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScriptedSavePanel& chooser = session->downloadPanel();
        chooser.requests.clear();
        chooser.answer = c.destination ? std::optional(session->folder() / c.destination) : std::nullopt;
        page(std::string(c.action) + "; return true");
        ASSERT_TRUE(testing::waitFor([&] { return !chooser.requests.empty(); }, 10)) << "no file chooser";
        const std::string suggested = chooser.requests[0].suggestedName;
        EXPECT_TRUE(suggested.ends_with(c.suggestedEnd)) << suggested;
        if (!c.destination) {
            testing::runFor(0.5);
            // Nothing went to a default folder instead.
            std::error_code ec;
            for (const auto& entry : fs::recursive_directory_iterator(home, ec))
                EXPECT_EQ(entry.path().filename().string().find(".tessivo"), std::string::npos) << entry.path();
            continue;
        }
        const fs::path saved = session->folder() / c.destination;
        ASSERT_TRUE(testing::waitFor([&] { return fs::exists(saved) && fs::file_size(saved) > 0; }, 10)) << saved;
        testing::runFor(0.1);
        std::ifstream in(saved);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (const char* held : c.held) EXPECT_NE(text.find(held), std::string::npos) << held << " in " << text;
    }
}

}  // namespace
}  // namespace tessivo
