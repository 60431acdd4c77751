#include "platform/files.h"
#include "platform/json.h"
#include "platform/paths.h"
#include "platform/queue.h"
#include "platform/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <set>
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

// `depth` containers nested inside one another: "[[[...]]]", or objects
// {"k":{"k":...}} when `objects` is set, with a 1 in the innermost.
std::string nestedText(int depth, bool objects) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += objects ? R"({"k":)" : "[";
    text += "1";
    for (int i = 0; i < depth; ++i) text += objects ? "}" : "]";
    return text;
}

TEST(Json, CompactTextIsTheLibrarysOwnDumpForEveryKindOfValue) {
    const Json cases[] = {
        Json::object(),
        Json::array(),
        Json{{"plain", "data:image/jpeg;base64,/9j/4AAQ+=="}, {"n", nullptr}, {"t", true}, {"i", -3}, {"u", 18446744073709551615u}},
        Json{{"quote\"key", "a\\b"}, {"ctl", std::string("\x01\x1f\t\n\r\b\f", 7)}, {"del", "\x7f"}},
        Json{{"é", Json::array({"日本", 0.1, 1e300, -0.0, 2.5, Json::object()})}},
        Json::array({Json::array({Json::array({"deep"})}), "", " "}),
    };
    for (const Json& value : cases) EXPECT_EQ(serializeJson(value), value.dump()) << value.dump();
    // Invalid UTF-8 in a key or a nested text has no JSON form.
    EXPECT_FALSE(serializeJson(Json{{"\xff", 1}}));
    EXPECT_FALSE(serializeJson(Json::array({Json{{"a", "ok\xc3"}}})));
}

TEST(Json, NestingDeeperThanTheLimitIsRefusedAtParse) {
    struct Case { int depth; bool objects; bool accepted; };
    const Case cases[] = {
        {1, false, true},      {kMaxJsonDepth, false, true},  {kMaxJsonDepth, true, true},
        {kMaxJsonDepth + 1, false, false}, {kMaxJsonDepth + 1, true, false},
        {60000, false, false}, {60000, true, false},
    };
    for (const auto& c : cases) {
        std::string text = nestedText(c.depth, c.objects);
        auto parsed = parseJson(text);
        EXPECT_EQ(parsed.has_value(), c.accepted) << c.depth << (c.objects ? " objects" : " arrays");
        if (c.accepted) {
            Json copy = *parsed;  // a copy recurses once per level
            EXPECT_EQ(serializeJson(copy), std::optional<std::string>(text));
        }
        bool threw = false;
        try {
            parseJsonOrThrow(text);
        } catch (const nlohmann::json::exception&) {
            threw = true;
        }
        EXPECT_EQ(threw, !c.accepted) << c.depth;
    }
    // Deep but narrow inside a wide document counts the same; siblings do not add up.
    std::string wide = "[" + nestedText(kMaxJsonDepth - 1, false) + "," + nestedText(kMaxJsonDepth - 1, true) + "]";
    EXPECT_TRUE(parseJson(wide));
    EXPECT_FALSE(parseJson("[" + nestedText(kMaxJsonDepth, false) + "]"));
    // Brackets inside strings are text, not nesting.
    EXPECT_TRUE(parseJson(R"({"a":")" + std::string(100000, '[') + R"("})"));
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

// Files beside `file` whose name starts with "<its name>.corrupt-".
std::vector<std::filesystem::path> setAsideFiles(const std::filesystem::path& file) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        if (entry.path().filename().string().rfind(file.filename().string() + ".corrupt-", 0) == 0)
            found.push_back(entry.path());
    return found;
}

TEST(Settings, AnUnreadableFileIsKeptAsideAndWhatStillReadsStays) {
    struct Case { const char* name; std::string text; std::optional<bool> palette; std::optional<std::string> source; };
    const Case cases[] = {
        {"a line without '='", "[defaults]\nPalette=false\nthis line is not a setting\nSource=/a/b.setting\n",
         false, "/a/b.setting"},
        {"a key before any group", "Stray=1\n[defaults]\nPalette=false\n", false, std::nullopt},
        {"a key with no name", "[defaults]\n=orphan\nPalette=false\n", false, std::nullopt},
        {"an unclosed group", "[defaults]\nPalette=true\n[broken\nSource=x\n", true, "x"},
    };
    for (const auto& c : cases) {
        auto dir = temporaryDirectory() / ("tessivo-settings-" + makeUUID());
        std::filesystem::create_directories(dir);
        auto file = dir / "settings.ini";
        ASSERT_TRUE(writeFileAtomically(file, c.text));
        {
            Settings s(file);
            EXPECT_EQ(s.boolValue("Palette"), c.palette) << c.name;
            EXPECT_EQ(s.stringValue("Source"), c.source) << c.name;
            s.setBool("Added", true);
        }
        // The original is kept whole beside the file, under one unique name.
        auto aside = setAsideFiles(file);
        ASSERT_EQ(aside.size(), 1u) << c.name;
        EXPECT_EQ(readFile(aside[0]), std::optional<std::string>(c.text)) << c.name;
        // The new file reads cleanly and holds what was saved plus the change.
        Settings again(file);
        EXPECT_TRUE(again.setAsideFile().empty()) << c.name;
        EXPECT_EQ(again.boolValue("Palette"), c.palette) << c.name;
        EXPECT_EQ(again.boolValue("Added"), true) << c.name;
        std::filesystem::remove_all(dir);
    }
}

TEST(Settings, TwoBrokenFilesInTheSameSecondGetTwoNames) {
    auto dir = temporaryDirectory() / ("tessivo-settings-" + makeUUID());
    std::filesystem::create_directories(dir);
    auto file = dir / "settings.ini";
    for (const char* text : {"broken one\n", "broken two\n"}) {
        ASSERT_TRUE(writeFileAtomically(file, text));
        Settings s(file);
        EXPECT_FALSE(s.setAsideFile().empty());
    }
    std::set<std::string> contents;
    for (const auto& path : setAsideFiles(file)) contents.insert(readFile(path).value_or(""));
    EXPECT_EQ(contents, (std::set<std::string>{"broken one\n", "broken two\n"}));
    std::filesystem::remove_all(dir);
}

TEST(Settings, AFileThatCannotBeReadIsNeverWritten) {
    // A folder where the file should be: unreadable as a file, and must survive.
    auto dir = temporaryDirectory() / ("tessivo-settings-" + makeUUID());
    auto file = dir / "settings.ini";
    std::filesystem::create_directories(file);
    ASSERT_TRUE(writeFileAtomically(file / "inside", "keep"));
    {
        Settings s(file);
        EXPECT_FALSE(s.writable());
        s.setBool("K", true);
        EXPECT_EQ(s.boolValue("K"), true);  // in force for this run
    }
    EXPECT_EQ(readFile(file / "inside"), std::optional<std::string>("keep"));
    EXPECT_TRUE(setAsideFiles(file).empty());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessivo
