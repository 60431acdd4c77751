#include "fusion/fusion_delivery.h"

#include "delivery/tests/process_output.h"
#include "fusion/fusion_command.h"
#include "fusion/fusion_setting.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tessivo {
namespace {

using testing::ScratchFolder;

TEST(MakeResolveFusionClips, RequestErrors) {
    ScratchFolder scratch;
    struct Case {
        const char* params;
        std::int64_t code;
        const char* message;
    };
    const Case cases[] = {
        {R"({"start": 1, "sequences": []})", -81, "La plage d'export Resolve est vide."},
        {R"({"start": 0, "end": "nan", "sequences": []})", -81, "La plage d'export Resolve est vide."},
        {R"({"end": 2})", -82, "Les blocs de sous-titres sont introuvables."},
        {R"({"end": 2, "sequences": [[]]})", -82, "Les blocs de sous-titres sont introuvables."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params);
        auto clips = makeResolveFusionClips(Json::parse(c.params), [&] { return Result(scratch.path()); });
        ASSERT_FALSE(clips);
        EXPECT_EQ(clips.error().domain, "Tessivo");
        EXPECT_EQ(clips.error().code, c.code);
        EXPECT_EQ(clips.error().message, c.message);
    }
    EXPECT_EQ(fusionError(kFusionNoBlockError).message, "Aucun bloc visible dans la plage exportée.");
    EXPECT_EQ(fusionError(kFusionNoBlockError).code, -70);
}

TEST(MakeResolveFusionClips, OneFilePerVisibleBlockInTimeOrder) {
    ScratchFolder scratch;
    Json params = Json::parse(R"({
        "start": 1, "end": 5, "fps": 25, "width": 1280, "height": 720,
        "sequences": [
            {"text": "late", "startTime": 4, "duration": 3},
            {"text": "first", "startTime": 0, "duration": 2, "size": 60},
            {"text": "no duration", "startTime": 2},
            {"text": "second", "startTime": 0, "duration": 1.5},
            {"text": "tiny", "startTime": 3, "duration": 0.001},
            {"text": "bad start", "startTime": "nan", "duration": 1}
        ]})");
    auto clips = makeResolveFusionClips(params, [&] { return Result(scratch.path()); });
    ASSERT_TRUE(clips) << clips.error().message;

    struct Expected {
        const char* text;
        double start, end;
        std::int64_t frames;
    };
    const Expected expected[] = {
        {"first", 1, 2, 25}, {"second", 1, 1.5, 13}, {"tiny", 3, 3.001, 1}, {"late", 4, 5, 25},
    };
    ASSERT_EQ(clips.value().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const FusionClip& clip = clips.value()[i];
        char name[64];
        std::snprintf(name, sizeof name, "Tessivo_Fusion_%03zu.setting", i + 1);
        EXPECT_EQ(clip.filePath, scratch.path() / name);
        EXPECT_EQ(clip.text, expected[i].text);
        EXPECT_DOUBLE_EQ(clip.start, expected[i].start);
        EXPECT_DOUBLE_EQ(clip.end, expected[i].end);
        EXPECT_NEAR(clip.duration, expected[i].end - expected[i].start, 1e-12);
        Json block = params["sequences"][0];
        for (const auto& s : params["sequences"])
            if (s["text"] == expected[i].text) block = s;
        EXPECT_EQ(readFile(clip.filePath), makeResolveFusionSettingDocument(block, 1280, 720, expected[i].frames));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 4);

    Json records = fusionClipRecords(clips.value());
    EXPECT_EQ(records[1], (Json{{"filePath", (scratch.path() / "Tessivo_Fusion_002.setting").string()},
                                {"start", 1.0}, {"end", 1.5}, {"duration", 0.5}, {"text", "second"}}));
}

TEST(MakeResolveFusionClips, FolderFailureIsReported) {
    ScratchFolder scratch;
    ASSERT_TRUE(writeFileAtomically(scratch.path() / "plain", "x"));
    Json params = Json::parse(R"({"end": 1, "sequences": [{"startTime": 0, "duration": 1}]})");
    auto clips = makeResolveFusionClips(params, [&] { return makeResolveFusionFolder(scratch.path() / "plain"); });
    ASSERT_FALSE(clips);
    EXPECT_EQ(clips.error().domain, kDomainPlatform);
    EXPECT_FALSE(clips.error().message.empty());
}

TEST(RunFusionCommand, WritesSettingsAndPrintsRecords) {
    ScratchFolder scratch;
    auto request = scratch.path() / "request.json";
    ASSERT_TRUE(writeFileAtomically(request, R"({"start": 0, "end": 3, "fps": 30,
        "sequences": [{"text": "Un", "startTime": 0, "duration": 1}, {"text": "Deux", "startTime": 1, "duration": 1}],
        "sfxEvents": [{"dataUrl": "data:audio/wav;base64,QQ==", "name": "Pop"}]})"));
    std::ostringstream out, err;
    ASSERT_EQ(runFusionCommand(request.string(), scratch.path() / "out", out, err), 0) << err.str();
    auto printed = parseJson(out.str());
    ASSERT_TRUE(printed);
    ASSERT_EQ((*printed)["fusionClips"].size(), 2u);
    EXPECT_EQ((*printed)["fusionClips"][1]["text"], "Deux");
    EXPECT_TRUE(std::filesystem::exists((scratch.path() / "out" / "Tessivo_Fusion_002.setting")));
    ASSERT_EQ((*printed)["sfxFiles"].size(), 1u);
    EXPECT_EQ((*printed)["sfxFiles"][0]["name"], "Pop");

    // Every block skipped (no duration): the route's "nothing visible" error.
    ASSERT_TRUE(writeFileAtomically(request, R"({"start": 0, "end": 3, "sequences": [{"startTime": 1}]})"));
    std::ostringstream out2, err2;
    EXPECT_EQ(runFusionCommand(request.string(), scratch.path() / "out2", out2, err2), 1);
    EXPECT_EQ(err2.str(), "Aucun bloc visible dans la plage exportée.\n");
    EXPECT_TRUE(out2.str().empty());
}

}  // namespace
}  // namespace tessivo
