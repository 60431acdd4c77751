#include "delivery/smart_delivery.h"

#include "engine_api/engine_context.h"
#include "platform/queue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>

namespace tessivo {
namespace {

class FakeEngine final : public EngineContext, public std::enable_shared_from_this<FakeEngine> {
public:
    Queue& mainQueue() override { return main_; }
    Queue& exportQueue() override { return export_; }
    Queue& resolveOperationQueue() override { return export_; }
    Queue& fusionTimelineWatchQueue() override { return export_; }
    void callWebFunction(const std::string& name, const Json& payload) override {
        EXPECT_EQ(name, "window.onResolveExportComplete");
        EXPECT_TRUE(main_.isCurrent());
        answers.push_back(payload);
    }
    void fusionCallback(const std::string&, Json) override { ADD_FAILURE() << "answers go through the main thread"; }
    void evaluatePageSignal(const std::string&) override {}
    const PublishedState& published() const override { return state; }
    void setRendering(bool rendering) override { state.isRendering = rendering; }
    void setRenderProgress(double) override {}
    void setRenderSize(int, int) override {}
    SavePanel* savePanel() override { return nullptr; }
    const RenderSurfaceFactory& renderSurfaceFactory() const override { return factory; }
    void handleWebMessage(const Json&) override {}
    [[noreturn]] PythonRunner& runner() override { std::abort(); }
    [[noreturn]] Settings& settings() override { std::abort(); }
    std::weak_ptr<EngineContext> weakContext() override { return weak_from_this(); }

    void runUntilQuiet() {
        runMainContextUntil([this] { return main_.pendingCount() == 0 && export_.pendingCount() == 0; });
    }

    PublishedState state;
    RenderSurfaceFactory factory;
    std::vector<Json> answers;

private:
    MainQueue main_;
    SerialQueue export_{"kinetype.export.queue"};
};

// Steps that answer with what the case sets, recording what they were given.
class FakeSteps final : public SmartDeliverySteps {
public:
    bool isRendering() const override { return rendering; }
    void restartMetrics() override { ++metricRestarts; }
    Json metricsPayload() const override { return Json{{"totalFrames", 42}}; }
    std::string codecName() const override { return "ProRes 4444"; }
    void readTimelineFacts(Outcome done) override {
        ++factReads;
        done(facts);
    }
    void runLottie(const Json& request, const Json& sfxEvents, Outcome done) override {
        lottieRequests.push_back(request);
        lottieSfx.push_back(sfxEvents);
        done(lottie);
    }
    void runExactWeb(const Json& request, std::function<void(ExactWebOutcome)> done) override {
        exactRequests.push_back(request);
        if (holdExact) heldExact = std::move(done);
        else done(exact);
    }

    bool rendering = false;
    bool holdExact = false;
    Result<Json> facts = Json{{"success", true}, {"fps", 25}, {"width", 1920}, {"height", 1080}};
    Result<Json> lottie = Json{{"success", true}, {"clipCount", 2}, {"warning", nullptr}};
    ExactWebOutcome exact{Json{{"success", true}, {"clipCount", 1}, {"warning", nullptr}}, "/r.mov"};

    int metricRestarts = 0;
    int factReads = 0;
    std::vector<Json> lottieRequests, lottieSfx, exactRequests;
    std::function<void(ExactWebOutcome)> heldExact;
};

Json block(const std::string& id, double start, double duration, bool lottie) {
    Json b{{"id", id}, {"text", id}, {"startTime", start}, {"duration", duration}};
    if (lottie) b["lottieCapability"] = Json{{"status", "supported"}};
    return b;
}

Json request(Json blocks) {
    return Json{{"sequences", std::move(blocks)}, {"start", 0}, {"end", 20}, {"fps", 60}, {"width", 1920},
                {"height", 1080}, {"sfxEvents", Json::array({Json{{"start", 1}, {"dataUrl", "data:,"}}})}};
}

std::vector<std::string> ids(const Json& sequences) {
    std::vector<std::string> out;
    for (const Json& b : sequences) out.push_back(b.value("id", ""));
    return out;
}

TEST(SmartRouteTest, OnlyASupportedStatusTakesTheDirectRoute) {
    const std::pair<Json, bool> cases[] = {
        {Json{{"status", "supported"}}, true},
        {Json{{"status", "unsupported"}}, false},
        {Json{{"status", "Supported"}}, false},
        {Json{{"status", 1}}, false},
        {Json{{"status", true}}, false},
        {Json{}, false},
        {Json("supported"), false},
        {Json::array({"supported"}), false},
    };
    for (const auto& [capability, direct] : cases) {
        EXPECT_EQ(isLottieCapable(Json{{"lottieCapability", capability}}), direct) << capability.dump();
    }
    EXPECT_FALSE(isLottieCapable(Json{{"id", "a"}}));
}

TEST(SmartRouteTest, ExactRangeIsTheBlocksClippedToTheRequest) {
    struct Case {
        Json request;
        Json blocks;
        double start, end;
    };
    const Case cases[] = {
        {Json{{"start", 0}, {"end", 20}}, Json::array({block("a", 2, 3, false), block("b", 8, 1, false)}), 2, 9},
        {Json{{"start", 4}, {"end", 6}}, Json::array({block("a", 2, 3, false), block("b", 5.5, 10, false)}), 4, 6},
        // A negative duration counts as none; a missing start time as the request start.
        {Json{{"start", 1}, {"end", 9}}, Json::array({Json{{"duration", 2}}, block("b", 3, -4, false)}), 1, 3},
        // No "end": the range ends where it starts.
        {Json{{"start", 1}}, Json::array({block("a", 2, 3, false)}), 2, 1},
    };
    for (const auto& c : cases) {
        const ExactRange range = smartExactRange(c.request, c.blocks);
        EXPECT_DOUBLE_EQ(range.start, c.start) << c.request.dump();
        EXPECT_DOUBLE_EQ(range.end, c.end) << c.request.dump();
    }
}

struct Scenario {
    const char* name;
    std::vector<bool> lottieBlocks;  // one block per entry, 2 s apart
    std::function<void(FakeSteps&)> arrange;
    Json expected;                     // keys the answer must hold with these values
    std::vector<std::string> exactIds;  // blocks the Exact Web render received (none: not called)
    bool lottieCalled;
    bool lottieGetsSfx;
    std::optional<std::string> warning;  // exact text of "warning" (nullopt: null or absent)
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class SmartPlannerTest : public testing::TestWithParam<Scenario> {};

TEST_P(SmartPlannerTest, AnswersOnceWithTheSummary) {
    const Scenario& s = GetParam();
    auto engine = std::make_shared<FakeEngine>();
    FakeSteps steps;
    if (s.arrange) s.arrange(steps);
    SmartDelivery planner(*engine, steps);
    Json blocks = Json::array();
    for (std::size_t i = 0; i < s.lottieBlocks.size(); ++i)
        blocks.push_back(block("b" + std::to_string(i), 2.0 * i + 1, 1.5, s.lottieBlocks[i]));
    planner.startResolveSmartExport(request(blocks));
    EXPECT_TRUE(planner.isActive());
    engine->runUntilQuiet();

    ASSERT_EQ(engine->answers.size(), 1u);
    const Json& answer = engine->answers[0];
    for (const auto& [key, value] : s.expected.items()) EXPECT_EQ(answer.value(key, Json()), value) << key;
    const Json warning = answer.value("warning", Json());
    if (s.warning) EXPECT_EQ(warning, Json(*s.warning));
    else EXPECT_TRUE(warning.is_null()) << warning.dump();
    EXPECT_FALSE(planner.isActive());
    EXPECT_EQ(steps.metricRestarts, 1);

    ASSERT_EQ(steps.lottieRequests.size(), s.lottieCalled ? 1u : 0u);
    if (s.lottieCalled) {
        EXPECT_EQ(steps.lottieRequests[0]["fps"], Json(25.0));
        EXPECT_EQ(steps.lottieSfx[0].size(), s.lottieGetsSfx ? 1u : 0u);
    }
    ASSERT_EQ(steps.exactRequests.size(), s.exactIds.empty() ? 0u : 1u);
    if (!s.exactIds.empty()) {
        const Json& r = steps.exactRequests[0];
        EXPECT_EQ(ids(r["sequences"]), s.exactIds);
        EXPECT_EQ(r["format"], "mov");
        EXPECT_EQ(r["bg"], "transparent");
        EXPECT_EQ(r["encoding"], "auto");
        EXPECT_EQ(r["renderer"], "web");
        EXPECT_EQ(r["splitBySubtitles"], true);
        EXPECT_EQ(r["fps"], Json(25.0));
        // Sound effects go with Exact Web whenever it runs.
        EXPECT_EQ(r["sfxEvents"].size(), 1u);
    }
}

const std::string kFallback = "Lottie indisponible, repli Exact Web sans perte : ";
const Json kRefusal = Json{{"success", false}, {"message", "Archive refusée: b0.lottie"}};

INSTANTIATE_TEST_SUITE_P(
    Routes, SmartPlannerTest,
    testing::Values(
        Scenario{"NoCapability", {false, false, false}, nullptr,
                 Json{{"success", true}, {"message", "Sous-titres ajoutés avec routage automatique dans DaVinci."},
                      {"directCount", 0}, {"exactCount", 1}, {"createdClipCount", 1}, {"plannedExactCount", 3},
                      {"fps", 25.0}, {"codec", "ProRes 4444"}, {"timelineWidth", 1920}, {"timelineHeight", 1080},
                      {"metrics", Json{{"totalFrames", 42}}}},
                 {"b0", "b1", "b2"}, false, false, std::nullopt},
        Scenario{"AllDirect", {true, true}, nullptr,
                 Json{{"success", true}, {"message", "Sous-titres directs ajoutés dans DaVinci sans encodage vidéo."},
                      {"directCount", 2}, {"exactCount", 0}, {"createdClipCount", 2}, {"codec", "Sans encodage"},
                      {"fps", 25.0}, {"timelineWidth", 1920}, {"metrics", Json{{"totalFrames", 42}}}},
                 {}, true, true, std::nullopt},
        Scenario{"DirectClipCountFromScript", {true, true, true},
                 [](FakeSteps& s) { s.lottie = Json{{"success", true}}; },
                 Json{{"directCount", 3}, {"createdClipCount", 3}}, {}, true, true, std::nullopt},
        Scenario{"Mixed", {true, false, true, false},
                 [](FakeSteps& s) { s.exact.result = Json{{"success", true}, {"clipCount", 2}, {"warning", "SFX?"}}; },
                 Json{{"success", true}, {"directCount", 2}, {"exactCount", 2}, {"createdClipCount", 4},
                      {"plannedExactCount", 2}},
                 {"b1", "b3"}, true, false, "SFX?"},
        Scenario{"LottieRefusedFallsBackWithEveryBlock", {true, false, true},
                 [](FakeSteps& s) { s.lottie = kRefusal; s.exact.result = Json{{"success", true}, {"clipCount", 3}}; },
                 Json{{"success", true}, {"directCount", 0}, {"exactCount", 3}, {"createdClipCount", 3},
                      {"plannedExactCount", 3}},
                 {"b0", "b1", "b2"}, true, false, kFallback + "Archive refusée: b0.lottie"},
        Scenario{"LottieRefusedWithoutMessage", {true},
                 [](FakeSteps& s) { s.lottie = Json{{"success", false}}; },
                 Json{{"success", true}, {"directCount", 0}}, {"b0"}, true, true,
                 kFallback + "Resolve a refusé les clips Lottie."},
        Scenario{"LottieRunErrorFallsBack", {true, true},
                 [](FakeSteps& s) { s.lottie = Error{"Tessivo", -101, "Aucun clip Lottie n'a pu être créé."}; },
                 Json{{"directCount", 0}, {"plannedExactCount", 2}}, {"b0", "b1"}, true, true,
                 kFallback + "Aucun clip Lottie n'a pu être créé."},
        Scenario{"MixedExactInsertFails", {true, false},
                 [](FakeSteps& s) { s.exact.result = Json{{"success", false}, {"message", "Refus"}, {"warning", ""}}; },
                 Json{{"success", false}, {"message", "Refus"}, {"directCount", 2}, {"exactCount", 0},
                      {"createdClipCount", 2}, {"plannedExactCount", 1}},
                 {"b1"}, true, false,
                 "Les clips Lottie directs sont déjà présents, mais l'insertion Exact Web a échoué."},
        Scenario{"MixedExactRunFails", {true, false},
                 [](FakeSteps& s) { s.exact.result = Error{"OrvelResolveBridge", 3, "Délai dépassé"}; },
                 Json{{"success", false}, {"message", "Délai dépassé"}, {"filePath", "/r.mov"}, {"directCount", 2},
                      {"exactCount", 0}, {"createdClipCount", 2}, {"plannedExactCount", 1},
                      {"codec", "ProRes 4444"}, {"metrics", Json{{"totalFrames", 42}}}},
                 {"b1"}, true, false,
                 "Les clips Lottie directs sont déjà présents; seul Exact Web n'a pas pu être inséré."},
        Scenario{"ExactRunFailsWithoutDirectClips", {false},
                 [](FakeSteps& s) { s.exact.result = Error{"OrvelResolveBridge", 3, "Délai dépassé"}; },
                 Json{{"success", false}, {"directCount", 0}, {"createdClipCount", 0}}, {"b0"}, false, false,
                 std::nullopt},
        Scenario{"FactsRunError", {false},
                 [](FakeSteps& s) { s.facts = Error{"OrvelResolveBridge", 1, "Python introuvable"}; },
                 Json{{"success", false}, {"message", "Impossible de lire la timeline DaVinci : Python introuvable"}},
                 {}, false, false, std::nullopt},
        Scenario{"FactsRefused", {false},
                 [](FakeSteps& s) { s.facts = Json{{"success", false}, {"message", "Aucune timeline active."}}; },
                 Json{{"success", false}, {"message", "Aucune timeline active."}}, {}, false, false, std::nullopt},
        Scenario{"FactsRefusedWithoutMessage", {false},
                 [](FakeSteps& s) { s.facts = Json{{"success", false}}; },
                 Json{{"success", false}, {"message", "DaVinci n'a pas renvoyé les informations de timeline."}}, {},
                 false, false, std::nullopt},
        Scenario{"NoBlocks", {}, nullptr,
                 Json{{"success", false}, {"message", "Aucun sous-titre visible à exporter."}}, {}, false, false,
                 std::nullopt}),
    [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST(SmartPlannerBusyTest, DecimalCommaRateReachesTheRenderAndTheAnswer) {
    auto engine = std::make_shared<FakeEngine>();
    FakeSteps steps;
    steps.facts = Json{{"success", true}, {"fps", "29,97"}};
    SmartDelivery planner(*engine, steps);
    planner.startResolveSmartExport(request(Json::array({block("a", 1, 1, false)})));
    engine->runUntilQuiet();
    ASSERT_EQ(steps.exactRequests.size(), 1u);
    EXPECT_DOUBLE_EQ(steps.exactRequests[0]["fps"].get<double>(), 29.97);
    ASSERT_EQ(engine->answers.size(), 1u);
    EXPECT_DOUBLE_EQ(engine->answers[0]["fps"].get<double>(), 29.97);
    EXPECT_EQ(engine->answers[0]["timelineWidth"], 0);
}

TEST(SmartPlannerBusyTest, EmptyExactRangeFails) {
    auto engine = std::make_shared<FakeEngine>();
    FakeSteps steps;
    SmartDelivery planner(*engine, steps);
    Json r = request(Json::array({block("a", 30, 2, false)}));  // after the request's end
    planner.startResolveSmartExport(r);
    engine->runUntilQuiet();
    ASSERT_EQ(engine->answers.size(), 1u);
    EXPECT_EQ(engine->answers[0], (Json{{"success", false}, {"message", "La plage Exact Web est vide."}}));
    EXPECT_TRUE(steps.exactRequests.empty());
}

TEST(SmartPlannerBusyTest, RequestsWhileBusyGetNoAnswer) {
    auto engine = std::make_shared<FakeEngine>();
    FakeSteps steps;
    steps.holdExact = true;
    SmartDelivery planner(*engine, steps);

    steps.rendering = true;
    planner.startResolveSmartExport(request(Json::array({block("a", 1, 1, false)})));
    engine->runUntilQuiet();
    EXPECT_EQ(steps.factReads, 0);
    EXPECT_FALSE(planner.isActive());
    steps.rendering = false;

    planner.startResolveSmartExport(request(Json::array({block("a", 1, 1, true), block("b", 3, 1, false)})));
    engine->runUntilQuiet();
    ASSERT_TRUE(steps.heldExact);
    // A second request while the first inserts: ignored, no answer.
    planner.startResolveSmartExport(request(Json::array({block("c", 1, 1, false)})));
    engine->runUntilQuiet();
    EXPECT_EQ(steps.factReads, 1);
    EXPECT_TRUE(engine->answers.empty());

    steps.heldExact(ExactWebOutcome{Json{{"success", true}, {"clipCount", 1}}, "/r.mov"});
    engine->runUntilQuiet();
    ASSERT_EQ(engine->answers.size(), 1u);
    EXPECT_EQ(engine->answers[0]["createdClipCount"], 3);

    // Once answered, the next request is taken, and starts from a clean context.
    steps.holdExact = false;
    steps.lottie = kRefusal;
    planner.startResolveSmartExport(request(Json::array({block("d", 1, 1, true)})));
    engine->runUntilQuiet();
    ASSERT_EQ(engine->answers.size(), 2u);
    EXPECT_EQ(engine->answers[1]["warning"], kFallback + "Archive refusée: b0.lottie");
    EXPECT_EQ(engine->answers[1]["directCount"], 0);
}

}  // namespace
}  // namespace tessivo
