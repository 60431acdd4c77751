// The watch child's output cut into lines: chunks split anywhere, lines that
// are not for the program, and lines too long to keep.
#include "presence/timeline_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessivo {
namespace {

const std::string M = "__ORVEL_WATCH__";

TEST(WatchLineBuffer, ChunksGiveTheMarkedObjectsInOrder) {
    const std::string big(200 * 1024, 'x');
    const struct {
        const char* label;
        std::vector<std::string> chunks;
        // Per chunk: the "n" of the objects it completes.
        std::vector<std::vector<int>> expected;
        std::size_t pendingAfter;
    } cases[] = {
        {"marker and brace, then the rest", {M + "{", "\"n\":1}\n"}, {{}, {1}}, 0},
        {"three lines in one chunk", {M + "{\"n\":1}\n" + M + "{\"n\":2}\n" + M + "{\"n\":3}\n"}, {{1, 2, 3}}, 0},
        {"error trace lines", {"Traceback (most recent call last):\n  File \"x\", line 1\n" + M + "{\"n\":4}\n"}, {{4}}, 0},
        {"not JSON, not an object", {M + "{\"n\":\n" + M + "[1]\n" + M + "7\n" + M + "{\"n\":5}\n"}, {{5}}, 0},
        {"marker not at the start", {" " + M + "{\"n\":1}\n" + M + "{\"n\":6}\n"}, {{6}}, 0},
        {"invalid UTF-8 line dropped, next kept", {M + "{\"s\":\"\xff\xfe\"}\n" + M + "{\"n\":7}\n"}, {{7}}, 0},
        {"UTF-8 sequence split across chunks", {M + "{\"n\":8,\"s\":\"\xc3", "\xa9\"}\n"}, {{}, {8}}, 0},
        {"partial line waits", {M + "{\"n\":9}\n" + M + "{\"n\""}, {{9}}, M.size() + 4},
        {"overlong line skipped up to its feed", {M + "{\"s\":\"" + big, big, "\"}\n" + M + "{\"n\":10}\n"}, {{}, {}, {10}}, 0},
        {"overlong line still open", {big, big}, {{}, {}}, 0},
        {"empty chunks and empty lines", {"", "\n\n", M + "{\"n\":11}\n"}, {{}, {}, {11}}, 0},
    };
    for (const auto& c : cases) {
        WatchLineBuffer buffer;
        ASSERT_EQ(c.chunks.size(), c.expected.size()) << c.label;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            std::vector<int> got;
            for (const auto& object : buffer.append(c.chunks[i])) got.push_back(object.value("n", -1));
            EXPECT_EQ(got, c.expected[i]) << c.label << ", chunk " << i;
        }
        EXPECT_EQ(buffer.pendingSize(), c.pendingAfter) << c.label;
    }
}

TEST(WatchLineBuffer, ObjectsPassUnchanged) {
    WatchLineBuffer buffer;
    const auto got = buffer.append(M + R"({"success":true,"timelineName":"Montage é","fps":29.97,"currentFrame":86400})" + "\n");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Json::parse(R"({"success":true,"timelineName":"Montage é","fps":29.97,"currentFrame":86400})"));
}

TEST(WatchLineBuffer, ALineAfterAnOverlongOneIsKeptWhole) {
    // The overlong line ends in the same chunk as the start of the next line.
    WatchLineBuffer buffer(64);
    EXPECT_TRUE(buffer.append(std::string(100, 'y')).empty());
    const auto got = buffer.append("tail\n" + M + "{\"n\":1}\n");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["n"], 1);
}

}  // namespace
}  // namespace tessivo
