#include "delivery/sfx_files.h"

#include "delivery/tests/process_output.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <optional>

namespace tessivo {
namespace {

using testing::ScratchFolder;

TEST(StrictBase64, AcceptsOnlyPaddedStandardAlphabet) {
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"", std::string()},
        {"QQ==", std::string("A")},
        {"QUI=", std::string("AB")},
        {"QUJD", std::string("ABC")},
        {"+/8=", std::string("\xfb\xff")},
        {"AAECAwQF", std::string("\0\1\2\3\4\5", 6)},
        {"QQ", std::nullopt},          // unpadded
        {"QQ=", std::nullopt},         // short padding
        {"Q===", std::nullopt},        // three pads
        {"====", std::nullopt},
        {"QQ==QUJD", std::nullopt},    // padding before the end
        {"QU JD", std::nullopt},       // blank
        {"QUJD\n", std::nullopt},      // line break
        {"QUJD\r\nQUJD", std::nullopt},
        {"QU*D", std::nullopt},
        {"QU-_", std::nullopt},        // URL-safe alphabet
        {"QQ=A", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decodeStrictBase64(c.text), c.bytes);
    }
}

TEST(SFXExtension, FollowsTheDeclaredType) {
    const std::pair<const char*, const char*> cases[] = {
        {"data:audio/mpeg;base64,AAAA", "mp3"}, {"DATA:AUDIO/MP3;base64,AAAA", "mp3"},
        {"data:audio/mp4;base64,AAAA", "m4a"},  {"data:audio/x-m4a;base64,", "m4a"},
        {"data:audio/aac,AAAA", "m4a"},         {"data:audio/wav;base64,AAAA", "wav"},
        {"data:audio/ogg;base64,AAAA", "wav"},  {"nonsense", "wav"},
    };
    for (const auto& [url, extension] : cases) EXPECT_EQ(sfxExtension(url), extension) << url;
}

std::vector<std::filesystem::path> entries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> list;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) list.push_back(entry.path());
    std::sort(list.begin(), list.end());
    return list;
}

TEST(SFXFiles, SkippedEventsLeaveGapsInTheNumbering) {
    ScratchFolder scratch;
    Json events = Json::parse(R"([
        {"dataUrl": "data:audio/mpeg;base64,QUJD", "start": 1.5, "name": "Boom", "volume": 1.4},
        {"dataUrl": "no comma here", "start": 2},
        {"dataUrl": "data:audio/wav;base64,QQ==", "name": 42},
        {"dataUrl": "data:audio/wav;base64,QU JD"},
        {"dataUrl": "data:audio/wav;base64,"},
        {"dataUrl": 17},
        {"start": 3},
        {"dataUrl": "data:audio/x-m4a;base64,QUI=", "start": "nan", "volume": "inf"}
    ])");
    auto files = makeResolveSFXFiles(events, scratch.path());
    ASSERT_EQ(files.size(), 3u);

    EXPECT_EQ(files[0].filePath.filename(), "Tessivo_SFX_001.mp3");
    EXPECT_EQ(files[1].filePath.filename(), "Tessivo_SFX_003.wav");
    EXPECT_EQ(files[2].filePath.filename(), "Tessivo_SFX_008.m4a");
    EXPECT_EQ(readFile(files[0].filePath), "ABC");
    EXPECT_EQ(readFile(files[1].filePath), "A");
    EXPECT_EQ(readFile(files[2].filePath), "AB");

    EXPECT_EQ(files[0].name, "Boom");
    EXPECT_DOUBLE_EQ(files[0].start, 1.5);
    EXPECT_DOUBLE_EQ(files[0].volume, 1.4);  // passed on; the scripts clamp it
    EXPECT_EQ(files[1].name, "Tessivo SFX");
    EXPECT_DOUBLE_EQ(files[1].start, 0);
    EXPECT_DOUBLE_EQ(files[1].volume, 0.85);
    EXPECT_DOUBLE_EQ(files[2].start, 0);      // not-a-number start
    EXPECT_DOUBLE_EQ(files[2].volume, 0.85);  // infinite volume

    // All in one fresh folder inside the base, holding nothing else.
    auto folders = entries(scratch.path());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(folders[0].filename().string().starts_with("TessivoSFX-"));
    EXPECT_EQ(folders[0].filename().string().size(), std::string("TessivoSFX-").size() + 36);
    EXPECT_EQ(entries(folders[0]).size(), 3u);

    Json records = sfxFileRecords(files);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["filePath"], files[0].filePath.string());
    EXPECT_TRUE(records[1]["start"].is_number_float());
    EXPECT_TRUE(serializeJson(records).has_value());
}

TEST(SFXFiles, EachCallUsesANewFolderAndAnEmptyListNone) {
    ScratchFolder scratch;
    EXPECT_TRUE(makeResolveSFXFiles(Json::array(), scratch.path()).empty());
    EXPECT_TRUE(entries(scratch.path()).empty());

    Json events = Json::parse(R"([{"dataUrl": "data:audio/wav;base64,QQ=="}])");
    auto first = makeResolveSFXFiles(events, scratch.path());
    auto second = makeResolveSFXFiles(events, scratch.path());
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(first[0].filePath.parent_path(), second[0].filePath.parent_path());
    EXPECT_EQ(entries(scratch.path()).size(), 2u);
}

TEST(SFXFiles, UnwritableFolderSkipsEveryEvent) {
    ScratchFolder scratch;
    std::filesystem::path blocker = scratch.path() / "file";
    ASSERT_TRUE(writeFileAtomically(blocker, "x"));
    Json events = Json::parse(R"([{"dataUrl": "data:audio/wav;base64,QQ=="}])");
    EXPECT_TRUE(makeResolveSFXFiles(events, blocker).empty());
}

}  // namespace
}  // namespace tessivo
