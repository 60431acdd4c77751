#include "app/engine.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace tessivo {
namespace {

struct RecordingView final : MainWebView {
    std::vector<std::string> scripts;
    std::vector<std::pair<std::string, std::string>> callbacks;
    int handlerRemovals = 0;
    void evaluateScript(const std::string& script) override { scripts.push_back(script); }
    void deliverCallback(const std::string& f, const std::string& payload, const std::string& script) override {
        callbacks.emplace_back(f, payload);
        scripts.push_back(script);
    }
    void removeMessageHandler() override { ++handlerRemovals; }
};

class EngineTest : public ::testing::Test {
protected:
    std::filesystem::path settingsFile =
        temporaryDirectory() / ("tessivo-settings-" + makeUUID()) / "settings.ini";
    std::vector<std::string> opened;

    std::shared_ptr<ExportEngine> makeEngine() {
        ExportEngine::Options options;
        options.configuration.settingsFile = settingsFile;
        options.openURI = [this](const std::string& uri) { opened.push_back(uri); return true; };
        return ExportEngine::create(options);
    }
    void TearDown() override { std::filesystem::remove_all(settingsFile.parent_path()); }
};

TEST_F(EngineTest, PaletteIsEnabledOnFirstLaunchAndAStoredChoiceStays) {
    makeEngine();
    EXPECT_EQ(Settings(settingsFile).boolValue("TessivoFloatingFusionPaletteEnabled"), true);
    Settings(settingsFile).setBool("TessivoFloatingFusionPaletteEnabled", false);
    makeEngine();
    EXPECT_EQ(Settings(settingsFile).boolValue("TessivoFloatingFusionPaletteEnabled"), false);
}

TEST_F(EngineTest, AStoredChoiceSurvivesAnUnreadableLineInTheSettingsFile) {
    std::filesystem::create_directories(settingsFile.parent_path());
    const std::string text = "[defaults]\nTessivoFloatingFusionPaletteEnabled=false\nnot a setting\n";
    ASSERT_TRUE(writeFileAtomically(settingsFile, text));
    auto engine = makeEngine();
    EXPECT_EQ(engine->settings().boolValue("TessivoFloatingFusionPaletteEnabled"), false);
    EXPECT_EQ(Settings(settingsFile).boolValue("TessivoFloatingFusionPaletteEnabled"), false);
    // The original stays beside the file, whole.
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(settingsFile.parent_path()))
        if (entry.path().filename().string().rfind("settings.ini.corrupt-", 0) == 0 && readFile(entry.path()) == text)
            ++kept;
    EXPECT_EQ(kept, 1);
}

TEST_F(EngineTest, EveryProtocolTypeIsListedAndOnlyTheBuiltOnesHaveAnOperation) {
    const std::set<std::string> built = {"startRender", "importResolveSubtitles", "exportResolveHTML",
                                         "exportResolveLottie", "exportToResolve", "exportResolveSmart",
                                         "fusionLiveBuildBegin", "openExternal", "frameReady",
                                         "exportResolveStillPreview", "fusionLibraryLoad", "fusionInsertEffect",
                                         "fusionApplyToSelectedTitle", "fusionNativeTemplateStatus",
                                         "fusionNativeTemplateRegister", "fusionLiveUpsert", "fusionLiveDelete",
                                         "fusionLiveBuildEnd", "fusionCaptureCurrent", "fusionRefreshPreview",
                                         "fusionUpdateEffect", "fusionDeleteEffect", "fusionSharedLibraryScan",
                                         "fusionSharedLibraryCreate", "fusionFloatingPaletteShow",
                                         "fusionFloatingPaletteSetEnabled", "fusionTimelineWatchStart",
                                         "fusionTimelineWatchStop", "fusionTimelineLoad", "fusionTimelineSeek"};
    auto engine = makeEngine();
    auto view = std::make_shared<RecordingView>();
    engine->setup(view);
    std::set<std::string> withOperation;
    for (const auto& t : messageTypes()) {
        EXPECT_TRUE(engine->dispatcher().knows(t.type)) << t.type;
        if (engine->dispatcher().hasOperation(t.type)) withOperation.insert(std::string(t.type));
    }
    EXPECT_EQ(withOperation, built);

    // The others are recognised, logged, and answered by nobody.
    for (const auto& t : messageTypes()) {
        if (built.count(std::string(t.type))) continue;
        Json message = Json::object();
        message["type"] = t.type;
        message["payload"] = Json{{"effectId", "builtin-x"}, {"enabled", false}};
        testing::internal::CaptureStderr();
        engine->handleWebMessage(message);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("« " + std::string(t.type) + " » : pas encore disponible"), std::string::npos) << log;
    }
    runMainContextUntil([&] { return engine->isIdle(); });
    EXPECT_TRUE(view->scripts.empty());
    EXPECT_TRUE(view->callbacks.empty());
}

TEST_F(EngineTest, OpenExternalOpensOnlyWebAndMailLinks) {
    auto engine = makeEngine();
    const char* messages[] = {
        R"({"type": "openExternal", "payload": {"url": "https://example.org/a?b=1"}})",
        R"({"type": "openExternal", "payload": {"url": "HTTP://example.org"}})",
        R"({"type": "openExternal", "payload": {"url": "mailto:someone@example.org"}})",
        R"({"type": "openExternal", "payload": {"url": "file:///etc/passwd"}})",
        R"j({"type": "openExternal", "payload": {"url": "javascript:alert(1)"}})j",
        R"({"type": "openExternal", "payload": {"url": "resolve://open"}})",
        R"({"type": "openExternal", "payload": {"url": "not a url"}})",
        R"({"type": "openExternal", "payload": {"url": 42}})",
        R"({"type": "openExternal"})",
    };
    for (const char* m : messages) engine->handleWebMessage(Json::parse(m));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/a?b=1", "HTTP://example.org",
                                                "mailto:someone@example.org"}));
}

TEST_F(EngineTest, CallbacksReachTheViewWhileItExists) {
    auto engine = makeEngine();
    auto view = std::make_shared<RecordingView>();
    engine->setup(view);

    engine->handleWebMessage(Json::parse(R"({"type": "fusionLiveBuildBegin", "payload": [1]})"));
    EXPECT_TRUE(view->scripts.empty());

    engine->callWebFunction("window.onA", Json{{"n", 1}});
    engine->callWebFunction("window.onB", Json{{"bad", std::nan("")}});
    ASSERT_EQ(view->callbacks.size(), 1u);
    EXPECT_EQ(view->callbacks[0], (std::pair<std::string, std::string>{"window.onA", R"({"n":1})"}));

    // From another thread: delivered later on the main queue.
    std::thread([&] { engine->fusionCallback("window.onC", Json{{"from", "thread"}}); }).join();
    EXPECT_EQ(view->callbacks.size(), 1u);
    runMainContextUntil([&] { return view->callbacks.size() == 2; });
    EXPECT_EQ(view->callbacks[1].first, "window.onC");

    engine->shutdown();
    EXPECT_EQ(view->handlerRemovals, 1);

    view.reset();
    engine->callWebFunction("window.onA", Json::object());  // no view: dropped without harm
}

TEST_F(EngineTest, QueuedCallbackAfterTheEngineIsGoneDoesNothing) {
    auto view = std::make_shared<RecordingView>();
    {
        auto engine = makeEngine();
        engine->setup(view);
        engine->fusionCallback("window.onLate", Json::object());
    }
    // The main queue item outlives the engine; running it must not touch it.
    for (int i = 0; i < 5; ++i) g_main_context_iteration(nullptr, FALSE);
    EXPECT_TRUE(view->callbacks.empty());
}

}  // namespace

// Queued work that holds the engine while the window lets it go must not make
// the engine's destructor run on that queue's thread (it would wait for itself).
TEST_F(EngineTest, TheLastReferenceDroppedOnAQueueDestroysTheEngineOnTheMainThread) {
    auto engine = makeEngine();
    std::weak_ptr<ExportEngine> weak = engine;
    std::atomic<bool> released{false};
    engine->exportQueue().post([strong = engine, &released]() mutable {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        strong.reset();
        released = true;
    });
    engine.reset();
    runMainContextUntil([&] { return released.load(); }, 0.01);
    EXPECT_TRUE(weak.expired());
    // The deletion waits for the main context; nothing crashed on the queue.
    for (int i = 0; i < 10; ++i) g_main_context_iteration(nullptr, FALSE);
}

}  // namespace tessivo
