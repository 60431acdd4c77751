#include "bridge/dispatch.h"
#include "bridge/web_callback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tessivo {
namespace {

struct Recorder {
    std::vector<std::pair<std::string, Json>> calls;
    Dispatcher::Operation op(const std::string& name) {
        return [this, name](Json payload) { calls.emplace_back(name, std::move(payload)); };
    }
};

TEST(Dispatcher, PayloadRules) {
    Recorder r;
    Dispatcher d;
    d.add("needs", PayloadRule::Required, r.op("needs"));
    d.add("maybe", PayloadRule::EmptyIfAbsent, r.op("maybe"));
    d.add("nothing", PayloadRule::None, r.op("nothing"));

    struct Case { const char* message; bool taken; const char* payload; };
    const Case cases[] = {
        {R"({"type": "needs", "payload": {"a": 1}})", true, R"({"a": 1})"},
        {R"({"type": "needs", "payload": [1]})", false, nullptr},
        {R"({"type": "needs"})", false, nullptr},
        {R"({"type": "needs", "payload": null})", false, nullptr},
        {R"({"type": "maybe"})", true, "{}"},
        {R"({"type": "maybe", "payload": "text"})", true, "{}"},
        {R"({"type": "maybe", "payload": {"b": true}})", true, R"({"b": true})"},
        {R"({"type": "nothing", "payload": {"ignored": 1}})", true, "{}"},
        {R"({"type": "Needs", "payload": {}})", false, nullptr},
        {R"({"type": 3, "payload": {}})", false, nullptr},
        {R"({"payload": {}})", false, nullptr},
        {R"({"type": "unknown", "payload": {}})", false, nullptr},
        {R"([1, 2])", false, nullptr},
    };
    for (const auto& c : cases) {
        r.calls.clear();
        EXPECT_EQ(d.handleWebMessage(Json::parse(c.message)), c.taken) << c.message;
        if (c.taken) {
            ASSERT_EQ(r.calls.size(), 1u) << c.message;
            EXPECT_EQ(r.calls[0].second, Json::parse(c.payload)) << c.message;
        } else {
            EXPECT_TRUE(r.calls.empty()) << c.message;
        }
    }
}

TEST(Dispatcher, FirstMatchWinsAndQueuedEntriesRunOnTheirQueue) {
    Recorder r;
    Dispatcher d;
    SerialQueue queue("test.queue");
    std::atomic<bool> ranOnQueue{false};
    d.add("same", PayloadRule::None, r.op("first"));
    d.add("same", PayloadRule::None, r.op("second"));
    d.add("queued", PayloadRule::Required, [&](Json p) { ranOnQueue = queue.isCurrent() && p["k"] == 1; }, &queue);

    d.handleWebMessage(Json::parse(R"({"type": "same"})"));
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].first, "first");

    d.handleWebMessage(Json::parse(R"({"type": "queued", "payload": {"k": 1}})"));
    for (int i = 0; i < 200 && !ranOnQueue; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(ranOnQueue);
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
