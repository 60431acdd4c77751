// The palette controller in a real engine with a recording window: when it
// shows and hides, what the editor is told, and what the insert button does.
#include "presence/floating_palette.h"

#include "app/engine.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/queue.h"
#include "platform/settings.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tessivo {
namespace {

struct RecordingView final : MainWebView {
    std::vector<std::pair<std::string, Json>> callbacks;
    void evaluateScript(const std::string&) override {}
    void deliverCallback(const std::string& f, const std::string& payload, const std::string&) override {
        callbacks.emplace_back(f, Json::parse(payload));
    }
};

struct FakePalette final : PaletteView {
    bool visible = false;
    int shows = 0;
    PaletteModel last;
    void show() override { visible = true; ++shows; }
    void hide() override { visible = false; }
    bool isVisible() const override { return visible; }
    void update(const PaletteModel& model) override { last = model; }
};

class FloatingPaletteTest : public ::testing::Test {
protected:
    static std::filesystem::path& dataFolder() {
        static std::filesystem::path folder = temporaryDirectory() / ("tessivo-palette-" + makeUUID());
        return folder;
    }
    static void SetUpTestSuite() {
        // The library's folder goes to a scratch data folder (read once by GLib).
        g_setenv("XDG_DATA_HOME", dataFolder().c_str(), TRUE);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dataFolder()); }
    void SetUp() override {
        ExportEngine::Options options;
        options.configuration.settingsFile = temporaryDirectory() / ("tessivo-settings-" + makeUUID()) / "settings.ini";
        settingsFile = options.configuration.settingsFile;
        engine = ExportEngine::create(options);
        engine->setup(web);
        palette().setViewFactory([this](const PaletteModel&, PaletteActions given) {
            actions = std::move(given);
            auto made = std::make_unique<FakePalette>();
            view = made.get();
            return made;
        });
    }
    void TearDown() override {
        engine->shutdown();
        runMainContextUntil([&] { return engine->isIdle(); });
        engine.reset();
        std::filesystem::remove_all(settingsFile.parent_path());
    }
    FloatingPalette& palette() { return engine->floatingPalette(); }
    bool shown() { return view && view->visible; }

    std::filesystem::path settingsFile;
    std::shared_ptr<RecordingView> web = std::make_shared<RecordingView>();
    std::shared_ptr<ExportEngine> engine;
    PaletteActions actions;
    FakePalette* view = nullptr;
};

// Runs the main loop until `done` holds or `seconds` pass; returns `done`.
bool waitUntil(const std::function<bool()>& done, double seconds) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE), g_usleep(2000);
    return done();
}

const ActiveApplication kResolve{"resolve", "resolve", "DaVinci Resolve - Projet", 4242};
const ActiveApplication kOther{"Firefox", "Navigator", "Firefox", 4343};

TEST(ActiveApplicationRules, ResolveAndOwnProcess) {
    const struct { const char* label; ActiveApplication app; bool resolve, own; } cases[] = {
        {"class", {"Resolve", "", "", 10}, true, false},
        {"title only", {"", "", "Projet — davinci resolve Studio", 10}, true, false},
        {"another program", {"Gedit", "gedit", "Sans titre", 10}, false, false},
        {"own pid", {"anything", "", "", static_cast<long>(getpid())}, false, true},
        {"says nothing", {"", "", "", 0}, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isResolveApplication(c.app), c.resolve) << c.label;
        EXPECT_EQ(isOwnApplication(c.app, getpid()), c.own) << c.label;
    }
}

TEST_F(FloatingPaletteTest, FollowsTheActiveApplicationUntilClosed) {
    palette().handleActivatedApplication(kResolve);
    EXPECT_TRUE(shown());
    palette().handleActivatedApplication(kOther);
    EXPECT_FALSE(shown());
    palette().handleActivatedApplication(kResolve);
    EXPECT_TRUE(shown());
    // Working in this program leaves the palette as it is.
    palette().handleActivatedApplication({"tessivo", "", "Tessivo", static_cast<long>(getpid())});
    EXPECT_TRUE(shown());
    actions.close();
    EXPECT_FALSE(shown());
    palette().handleActivatedApplication(kResolve);
    EXPECT_FALSE(shown()) << "closed for this run";
    engine->handleWebMessage(Json{{"type", "fusionFloatingPaletteShow"}});
    runMainContextUntil([&] { return engine->isIdle(); });
    EXPECT_TRUE(shown());
    palette().handleActivatedApplication(kOther);
    palette().handleActivatedApplication(kResolve);
    EXPECT_TRUE(shown());
}

// The switch's payload read as the editor may send it: no "enabled" means on,
// the words of the boolean vocabulary are read, any other text means on.
TEST_F(FloatingPaletteTest, EnableSwitchReadsItsPayloadWithOnAsDefault) {
    struct Case {
        Json payload;
        bool enabled;
    };
    const Case cases[] = {
        {Json{{"enabled", false}}, false}, {Json::object(), true},          {Json{{"enabled", "off"}}, false},
        {Json{{"enabled", "peut-être"}}, true}, {Json{{"enabled", 0}}, false}, {Json{{"enabled", "on"}}, true},
    };
    for (const Case& c : cases) {
        engine->handleWebMessage(Json{{"type", "fusionFloatingPaletteSetEnabled"}, {"payload", c.payload}});
        runMainContextUntil([&] { return engine->isIdle(); });
        EXPECT_EQ(Settings(settingsFile).boolValue(kPaletteEnabledKey), c.enabled) << c.payload.dump();
    }
}

TEST_F(FloatingPaletteTest, DisabledSettingKeepsResolveFromOpeningItUntilShown) {
    engine->handleWebMessage(Json{{"type", "fusionFloatingPaletteSetEnabled"}, {"payload", {{"enabled", false}}}});
    runMainContextUntil([&] { return engine->isIdle(); });
    EXPECT_EQ(Settings(settingsFile).boolValue(kPaletteEnabledKey), false);
    palette().handleActivatedApplication(kResolve);
    EXPECT_FALSE(shown());
    engine->handleWebMessage(Json{{"type", "fusionFloatingPaletteShow"}});
    runMainContextUntil([&] { return engine->isIdle(); });
    EXPECT_TRUE(shown());
    EXPECT_EQ(Settings(settingsFile).boolValue(kPaletteEnabledKey), true);
    // The palette's own disable button hides it and stores the choice.
    actions.disable();
    EXPECT_FALSE(shown());
    EXPECT_EQ(Settings(settingsFile).boolValue(kPaletteEnabledKey), false);

    std::vector<Json> states;
    for (const auto& [name, payload] : web->callbacks)
        if (name == kPaletteStateCallback) states.push_back(payload);
    ASSERT_EQ(states.size(), 3u);
    const bool expected[] = {false, true, false};
    for (std::size_t i = 0; i < states.size(); ++i) {
        EXPECT_EQ(states[i]["success"], true);
        EXPECT_EQ(states[i]["enabled"], expected[i]);
        EXPECT_EQ(states[i]["visible"], expected[i]);
        // Nothing reported activations here: the editor learns the palette opens only from it.
        EXPECT_EQ(states[i]["automaticShowing"], false);
        EXPECT_TRUE(states[i].contains("message"));
    }
}

TEST_F(FloatingPaletteTest, ShowingFillsTheTilesFromTheLibrary) {
    engine->handleWebMessage(Json{{"type", "fusionFloatingPaletteShow"}});
    ASSERT_TRUE(waitUntil([&] { return view && !view->last.effects.empty(); }, 10));
    EXPECT_LE(view->last.effects.size(), kPaletteMaxEffects);
    EXPECT_EQ(view->last.selectedEffectID, view->last.effects.front().id);
}

TEST_F(FloatingPaletteTest, AnInvalidEffectShowsTheLibrarysReasonInTheStatus) {
    palette().showFloatingFusionPalette();
    palette().insertFloatingFusionEffect("../dehors", "auto");
    ASSERT_TRUE(waitUntil([&] { return engine->isIdle() && view->last.status != "Choisis un effet essentiel."; }, 10));
    EXPECT_NE(view->last.status.find("invalide"), std::string::npos) << view->last.status;
}

}  // namespace
}  // namespace tessivo
