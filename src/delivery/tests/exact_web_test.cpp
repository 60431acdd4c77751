#include "delivery/exact_web_delivery.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace tessivo {
namespace {

TEST(ExactWebTest, ClipSegmentsAreTheBlocksInTheRangeClippedAndOrdered) {
    struct Case {
        const char* name;
        Json params;
        std::vector<std::tuple<std::string, double, double, std::int64_t>> want;  // text, start, end, trackId
    };
    const Json blocks = Json::array({
        {{"id", "c"}, {"text", "tard"}, {"startTime", 8}, {"duration", 4}, {"trackId", 0}},
        {{"id", "b"}, {"text", "piste 2"}, {"startTime", 2}, {"duration", 1}, {"trackId", 2}},
        {{"id", "a"}, {"text", "piste 1"}, {"startTime", 2}, {"duration", 1}, {"trackId", 1}},
        {{"id", "z"}, {"text", "avant"}, {"startTime", 0}, {"duration", 1}},
        {{"text", 5}, {"startTime", 1.5}, {"duration", 0.25}},  // no id, text not a string
        {{"id", "d"}, {"startTime", 1.5}, {"duration", "2"}},  // duration not a number: empty
        "not a block",
    });
    const Case cases[] = {
        {"range clips both ends", {{"start", 1}, {"end", 10}, {"sequences", blocks}},
         {{"", 1.5, 1.75, 0}, {"piste 1", 2, 3, 1}, {"piste 2", 2, 3, 2}, {"tard", 8, 10, 0}}},
        {"no end: an empty range", {{"start", 1}, {"sequences", blocks}}, {}},
        {"start as text reads as 0", {{"start", "4"}, {"end", 3}, {"sequences", blocks}},
         {{"avant", 0, 1, 0}, {"", 1.5, 1.75, 0}, {"piste 1", 2, 3, 1}, {"piste 2", 2, 3, 2}}},
        {"no sequences", {{"start", 0}, {"end", 10}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto segments = makeResolveClipSegments(c.params);
        ASSERT_EQ(segments.size(), c.want.size());
        for (std::size_t i = 0; i < segments.size(); ++i) {
            EXPECT_EQ(segments[i].text, std::get<0>(c.want[i]));
            EXPECT_DOUBLE_EQ(segments[i].start, std::get<1>(c.want[i]));
            EXPECT_DOUBLE_EQ(segments[i].end, std::get<2>(c.want[i]));
            EXPECT_EQ(segments[i].trackId, std::get<3>(c.want[i]));
        }
    }
    // A block without a textual id gets a fresh UUID, the others keep theirs.
    auto segments = makeResolveClipSegments({{"start", 0}, {"end", 2}, {"sequences", blocks}});
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].id, "z");
    EXPECT_EQ(segments[1].id.size(), 36u);
}

TEST(ExactWebTest, RenderFileGoesToTheVideosFolderElseTheTemporaryFolder) {
    const fs::path home = fs::temp_directory_path() / ("tessivo-exact-" + makeUUID());
    fs::create_directories(home);
    const fs::path url = makeResolveRenderURL("mov", home);
    EXPECT_EQ(url.parent_path(), home / "Tessivo" / "DaVinci");
    EXPECT_TRUE(fs::is_directory(url.parent_path()));
    EXPECT_EQ(url.filename().string().rfind("Tessivo_DaVinci_", 0), 0u);
    EXPECT_EQ(url.extension(), ".mov");
    // A movie of the same second already there: the next name.
    { std::ofstream(url) << "x"; }
    const fs::path second = makeResolveRenderURL("mov", home);
    EXPECT_EQ(second.stem().string(), url.stem().string() + "-2");
    { std::ofstream(second) << "x"; }
    EXPECT_EQ(makeResolveRenderURL("mov", home).stem().string(), url.stem().string() + "-3");

    // "Tessivo" is a file: the folder cannot be made.
    const fs::path blocked = home / "blocked";
    fs::create_directories(blocked);
    { std::ofstream(blocked / "Tessivo") << "x"; }
    const fs::path fallback = makeResolveRenderURL("mp4", blocked);
    EXPECT_EQ(fallback.parent_path(), temporaryDirectory());
    EXPECT_EQ(fallback.extension(), ".mp4");
    EXPECT_EQ(makeResolveRenderURL("mov", fs::path()).parent_path(), temporaryDirectory());
    fs::remove_all(home);
}

TEST(ExactWebTest, InsertArgumentsInOrder) {
    const std::vector<ClipSegment> segments = {{"a", "Bonjour", 12.5, 13, 1}};
    const std::vector<SegmentFile> files = {{"/tmp/s/Tessivo_001.mov", 12.5, 13, "Bonjour"}};
    auto args = resolveInsertArguments("/tmp/r.mov", 12.5, segments, true, files, Json::array());
    ASSERT_EQ(args.size(), 6u);
    EXPECT_EQ(args[0], "/tmp/r.mov");
    EXPECT_EQ(args[1], "12.500000");
    EXPECT_EQ(args[2], R"([{"id":"a","text":"Bonjour","start":12.5,"end":13.0,"trackId":1}])");
    EXPECT_EQ(args[3], "1");
    EXPECT_EQ(args[4], R"([{"filePath":"/tmp/s/Tessivo_001.mov","start":12.5,"end":13.0,"text":"Bonjour"}])");
    EXPECT_EQ(args[5], "[]");
    EXPECT_EQ(resolveInsertArguments("/r.mp4", 0, {}, false, {}, Json::array())[3], "0");
}

}  // namespace
}  // namespace tessivo
