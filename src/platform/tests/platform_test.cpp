#include "platform/files.h"
#include "platform/json.h"
#include "platform/paths.h"
#include "platform/queue.h"
#include "platform/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

namespace tessivo {
namespace {

using namespace std::chrono_literals;

template <typename F>
bool waitFor(F condition, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(SerialQueue, RunsInOrderOnItsOwnThreadAndCountsPendingWork) {
    SerialQueue queue("test.serial");
    std::vector<int> order;
    std::atomic<bool> onQueue{true};
    for (int i = 0; i < 50; ++i)
        queue.post([&, i] {
            onQueue = onQueue && queue.isCurrent();
            order.push_back(i);
        });
    ASSERT_TRUE(waitFor([&] { return queue.pendingCount() == 0; }));
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue.isCurrent());
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) expected[i] = i;
    EXPECT_EQ(order, expected);
}

TEST(SerialQueue, CancelledTimerNeverRunsAndStopsCounting) {
    SerialQueue queue("test.timer");
    std::atomic<int> ran{0};
    auto cancelled = queue.postAfter(0.2, [&] { ran += 100; });
    auto kept = queue.postAfter(0.05, [&] { ran += 1; });
    EXPECT_EQ(queue.pendingCount(), 2);
    cancelled->cancel();
    cancelled->cancel();  // twice is harmless
    EXPECT_EQ(queue.pendingCount(), 1);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(queue.pendingCount(), 0);
    kept->cancel();  // after it ran: no effect on the count
    EXPECT_EQ(queue.pendingCount(), 0);
}

TEST(MainQueue, WorkPostedFromAnotherThreadRunsOnTheMainContext) {
    MainQueue main;
    std::atomic<bool> ranOnMain{false};
    std::thread([&] { main.post([&] { ranOnMain = main.isCurrent(); }); }).join();
    runMainContextUntil([&] { return main.pendingCount() == 0; });
    EXPECT_TRUE(ranOnMain);
}

TEST(Files, AtomicWriteReplacesWholeAndUUIDsAreCanonical) {
    auto dir = temporaryDirectory() / ("tessivo-files-" + makeUUID());
    std::filesystem::create_directories(dir);
    auto file = dir / "a.json";
    ASSERT_TRUE(writeFileAtomically(file, "first"));
    ASSERT_TRUE(writeFileAtomically(file, "second, longer"));
    EXPECT_EQ(readFile(file), std::optional<std::string>("second, longer"));
    Error error;
    EXPECT_FALSE(writeFileAtomically(dir / "missing" / "b", "x", &error));
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporary left
    std::filesystem::remove_all(dir);

    std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    auto a = makeUUID(), b = makeUUID();
    EXPECT_TRUE(std::regex_match(a, canonical)) << a;
    EXPECT_NE(a, b);
}

TEST(Json, SerialisationKeepsOrderAndRefusesWhatHasNoJSONForm) {
    Json v = Json::object();
    v["b"] = 1;
    v["a"] = Json::array({1.5, "é"});
    EXPECT_EQ(serializeJson(v), std::optional<std::string>(R"({"b":1,"a":[1.5,"é"]})"));
    EXPECT_EQ(serializeSortedJson(SortedJson::parse(R"({"b":1,"a":2})")), std::optional<std::string>(R"({"a":2,"b":1})"));
    EXPECT_FALSE(serializeJson(Json{{"x", Json::array({1.0, INFINITY})}}));
    EXPECT_FALSE(serializeJson(Json("\xc3")));
    EXPECT_FALSE(parseJson("{\"a\":"));
    EXPECT_EQ(member(Json::parse("[1]"), "a"), nullptr);
}

TEST(Settings, ValuesPersistAcrossInstances) {
    auto file = temporaryDirectory() / ("tessivo-settings-" + makeUUID()) / "settings.ini";
    {
        Settings s(file);
        EXPECT_FALSE(s.hasKey("K"));
        s.setBool("K", false);
        s.setString("S", "valeur = é");
    }
    Settings again(file);
    EXPECT_TRUE(again.hasKey("K"));
    EXPECT_EQ(again.boolValue("K"), false);
    EXPECT_EQ(again.stringValue("S"), std::optional<std::string>("valeur = é"));
    std::filesystem::remove_all(file.parent_path());
}

}  // namespace
}  // namespace tessivo
