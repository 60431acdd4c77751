#include "bridge/dispatch.h"
#include "bridge/web_callback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace tessivo {
namespace {

struct Recorder {
    std::vector<std::pair<std::string, Json>> calls;
    Dispatcher::Operation op(const std::string& name) {
        return [this, name](Json payload) { calls.emplace_back(name, std::move(payload)); };
    }
};

template <typename F>
bool waitFor(F condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

TEST(MessageTypes, TheTableIsTheProtocolsListInOrder) {
    std::ifstream in(TESSIVO_SOURCE_DIR "/src/bridge/tests/message_types.txt");
    ASSERT_TRUE(in) << "message_types.txt not found";
    std::vector<std::string> written;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.front() != '#') written.push_back(line);

    std::vector<std::string> table;
    for (const auto& t : messageTypes())
        table.push_back(std::string(t.type) + " " + std::string(payloadRuleName(t.payload)) + " " +
                        std::string(queuePlacementName(t.queue)));
    EXPECT_EQ(table, written);
}

// Entries of the tests' own tables; "same" is listed twice on purpose.
constexpr MessageType kTestTypes[] = {
    {"needs", PayloadRule::Required, QueuePlacement::Main},
    {"maybe", PayloadRule::EmptyIfAbsent, QueuePlacement::Main},
    {"nothing", PayloadRule::None, QueuePlacement::Main},
    {"later", PayloadRule::Required, QueuePlacement::Main},
    {"same", PayloadRule::None, QueuePlacement::Main},
    {"same", PayloadRule::Required, QueuePlacement::Main},
    {"exported", PayloadRule::Required, QueuePlacement::Export},
    {"watched", PayloadRule::None, QueuePlacement::TimelineWatch},
};

class DispatcherTest : public ::testing::Test {
protected:
    SerialQueue exportQueue{"test.export"};
    SerialQueue watchQueue{"test.watch"};
    Dispatcher d{exportQueue, watchQueue, kTestTypes};
    Recorder r;
};

TEST_F(DispatcherTest, PayloadRulesAndOutcomes) {
    using O = Dispatcher::Outcome;
    for (const char* type : {"needs", "maybe", "nothing", "same"}) ASSERT_TRUE(d.setOperation(type, r.op(type)));

    struct Case { const char* message; O outcome; const char* payload; };
    const Case cases[] = {
        {R"({"type": "needs", "payload": {"a": 1}})", O::Started, R"({"a": 1})"},
        {R"({"type": "needs", "payload": [1]})", O::Ignored, nullptr},
        {R"({"type": "needs"})", O::Ignored, nullptr},
        {R"({"type": "needs", "payload": null})", O::Ignored, nullptr},
        {R"({"type": "maybe"})", O::Started, "{}"},
        {R"({"type": "maybe", "payload": "text"})", O::Started, "{}"},
        {R"({"type": "maybe", "payload": {"b": true}})", O::Started, R"({"b": true})"},
        {R"({"type": "nothing", "payload": {"ignored": 1}})", O::Started, "{}"},
        {R"({"type": "same"})", O::Started, "{}"},  // the first "same" (no payload needed) decides
        {R"({"type": "later", "payload": {}})", O::NotAvailable, nullptr},
        {R"({"type": "later"})", O::Ignored, nullptr},
        {R"({"type": "Needs", "payload": {}})", O::Ignored, nullptr},
        {R"({"type": 3, "payload": {}})", O::Ignored, nullptr},
        {R"({"payload": {}})", O::Ignored, nullptr},
        {R"({"type": "unknown", "payload": {}})", O::Ignored, nullptr},
        {R"([1, 2])", O::Ignored, nullptr},
    };
    for (const auto& c : cases) {
        r.calls.clear();
        EXPECT_EQ(d.handleWebMessage(Json::parse(c.message)), c.outcome) << c.message;
        if (c.outcome == O::Started) {
            ASSERT_EQ(r.calls.size(), 1u) << c.message;
            EXPECT_EQ(r.calls[0].second, Json::parse(c.payload)) << c.message;
        } else {
            EXPECT_TRUE(r.calls.empty()) << c.message;
        }
    }
}

TEST_F(DispatcherTest, ATypeWithoutOperationIsLoggedAndAnsweredByNobody) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(d.handleWebMessage(Json::parse(R"({"type": "later", "payload": {}})")), Dispatcher::Outcome::NotAvailable);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("« later » : pas encore disponible"), std::string::npos) << log;
    EXPECT_TRUE(d.knows("later"));
    EXPECT_FALSE(d.hasOperation("later"));
}

TEST_F(DispatcherTest, OnlyListedTypesTakeAnOperation) {
    EXPECT_FALSE(d.setOperation("notListed", r.op("x")));
    EXPECT_FALSE(d.knows("notListed"));
    EXPECT_EQ(d.handleWebMessage(Json::parse(R"({"type": "notListed"})")), Dispatcher::Outcome::Ignored);
    EXPECT_TRUE(d.setOperation("later", r.op("later")));
    EXPECT_TRUE(d.hasOperation("later"));
}

TEST_F(DispatcherTest, EachOperationRunsWhereItsEntrySays) {
    std::atomic<int> exportedOnExport{0}, watchedOnWatch{0};
    bool mainRanInline = false;
    d.setOperation("needs", [&](Json) { mainRanInline = !exportQueue.isCurrent() && !watchQueue.isCurrent(); });
    d.setOperation("exported", [&](Json p) { exportedOnExport = exportQueue.isCurrent() && p["k"] == 1 ? 1 : -1; });
    d.setOperation("watched", [&](Json) { watchedOnWatch = watchQueue.isCurrent() ? 1 : -1; });

    d.handleWebMessage(Json::parse(R"({"type": "needs", "payload": {}})"));
    EXPECT_TRUE(mainRanInline);  // called before handleWebMessage returned
    d.handleWebMessage(Json::parse(R"({"type": "exported", "payload": {"k": 1}})"));
    d.handleWebMessage(Json::parse(R"({"type": "watched"})"));
    EXPECT_TRUE(waitFor([&] { return exportedOnExport != 0 && watchedOnWatch != 0; }));
    EXPECT_EQ(exportedOnExport, 1);
    EXPECT_EQ(watchedOnWatch, 1);
}

TEST(WebCallback, ScriptTextAndUnserialisablePayloads) {
    EXPECT_EQ(webCallbackScript("window.onX", R"({"a":1})"),
              "(() => {\n    const payload = {\"a\":1};\n    let attempts = 0;\n    const deliver = () => {\n"
              "        if (typeof window.onX === 'function') { window.onX(payload); }\n"
              "        else if (++attempts < 10) { window.setTimeout(deliver, 50); }\n    };\n    deliver();\n})();");

    Json ordered = Json::object();
    ordered["z"] = 1;
    ordered["a"] = "é";
    EXPECT_EQ(webCallbackPayloadText(ordered), std::optional<std::string>(R"({"z":1,"a":"é"})"));
    EXPECT_FALSE(webCallbackPayloadText(Json{{"x", std::nan("")}}));
    EXPECT_FALSE(webCallbackPayloadText(Json{{"x", std::string("\xff\xfe")}}));
}

}  // namespace
}  // namespace tessivo
