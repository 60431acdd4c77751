#include "lottie/lottie_delivery.h"

#include "delivery/tests/process_output.h"
#include "lottie/lottie_command.h"
#include "lottie/lottie_document.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tessivo {
namespace {

using testing::runProcess;
using testing::ScratchFolder;
using testing::shellQuoted;

TEST(SanitizeLottieIdentifier, KeepsLettersAndDigitsOfAnyScript) {
    const std::pair<std::string, std::string> cases[] = {
        {"Été 2024!!", "Été-2024"},
        {"caption-1_b", "caption-1_b"},
        {"", "caption"},
        {"---", "caption"},
        {"!?", "caption"},
        {"../../etc/passwd", "etc-passwd"},
        {"a/b\\c..d", "a-b-c--d"},
        {"日本語テキスト", "日本語テキスト"},
        {"Ωmega٣", "Ωmega٣"},              // Greek letter, Arabic-Indic digit
        {"e\xCC\x81t\xC3\xA9", "e\xCC\x81t\xC3\xA9"},  // combining accent stays with its letter
        {"smile 😀 ok", "smile---ok"},      // an emoji is one scalar, one dash
        {"bad\xFFutf8", "bad-utf8"},
        {std::string(60, 'x'), std::string(48, 'x')},
        {std::string(47, 'x') + " tail", std::string(47, 'x')},  // cut, then trimmed
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(sanitizeLottieIdentifier(input), expected) << input;
}

// Reads an archive with Python's zipfile: its entry names, then each entry.
Json readArchive(const std::filesystem::path& archive) {
    const char* script =
        "import json, sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "print(json.dumps({'names': z.namelist(),"
        " 'entries': {n: z.read(n).decode('utf-8') for n in z.namelist()}}))\n";
    auto result = runProcess("python3 -c " + shellQuoted(script) + " " + shellQuoted(archive.string()));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    return parseJson(result.output).value_or(Json());
}

TEST(PackageDotLottie, WritesTwoEntriesReadableByAZipReader) {
    ScratchFolder scratch;
    const std::string document = R"({"v":"5.12.2","nm":"Tessivo été"})";
    auto archive = packageDotLottie(dotLottieManifest(), document, scratch.path() / "a.lottie");
    ASSERT_TRUE(archive) << archive.error().message;

    Json content = readArchive(archive.value());
    EXPECT_EQ(content["names"], Json::parse(R"(["manifest.json", "animations/caption.json"])"));
    EXPECT_EQ(content["entries"]["manifest.json"],
              R"({"animations":[{"autoplay":false,"direction":1,"id":"caption","loop":false,"playMode":"normal","speed":1}],)"
              R"("generator":"Tessivo 1.1","version":"1.0"})");
    EXPECT_EQ(content["entries"]["animations/caption.json"], document);

    // Replacing an archive leaves only the new one, with no temporary file beside it.
    ASSERT_TRUE(packageDotLottie(dotLottieManifest(), "{}", scratch.path() / "a.lottie"));
    EXPECT_EQ(readArchive(scratch.path() / "a.lottie")["entries"]["animations/caption.json"], "{}");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);
}

TEST(PackageDotLottie, UnwritableDestinationIsError93) {
    ScratchFolder scratch;
    auto archive = packageDotLottie(dotLottieManifest(), "{}", scratch.path() / "missing" / "a.lottie");
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().domain, "Tessivo");
    EXPECT_EQ(archive.error().code, -93);
    EXPECT_TRUE(archive.error().message.starts_with("Impossible de créer l'archive dotLottie. "));
    EXPECT_GT(archive.error().message.size(), std::string("Impossible de créer l'archive dotLottie. ").size());
}

TEST(MakeResolveLottieClips, RequestErrors) {
    ScratchFolder scratch;
    struct Case {
        const char* params;
        std::int64_t code;
        const char* message;
    };
    const Case cases[] = {
        {R"({"start": 2, "sequences": []})", -91, "La plage Lottie est vide."},
        {R"({"start": "nan", "end": "nan", "sequences": []})", -91, "La plage Lottie est vide."},
        {R"({"end": 2})", -92, "Les blocs Lottie sont introuvables."},
        {R"({"end": 2, "sequences": [{"text": "x"}, 3]})", -92, "Les blocs Lottie sont introuvables."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params);
        auto clips = makeResolveLottieClips(Json::parse(c.params), [&] { return Result(scratch.path()); });
        ASSERT_FALSE(clips);
        EXPECT_EQ(clips.error().domain, "Tessivo");
        EXPECT_EQ(clips.error().code, c.code);
        EXPECT_EQ(clips.error().message, c.message);
    }
    EXPECT_EQ(lottieError(kLottieNoBlockError).message, "Aucun bloc Lottie compatible dans la plage exportée.");
    EXPECT_EQ(lottieError(kLottieNoBlockError).code, -90);
}

TEST(MakeResolveLottieClips, ClipsBlocksToTheRangeInTimeOrder) {
    ScratchFolder scratch;
    Json params = Json::parse(R"({
        "start": 1, "end": 4, "fps": 30, "width": 1280, "height": 720,
        "sequences": [
            {"id": "late", "text": "C", "startTime": 3.5, "duration": 2},
            {"id": "same", "text": "A", "startTime": 0, "duration": 2, "animIn": "pop", "font": "Anton"},
            {"id": "same", "text": "B", "startTime": 2, "duration": 1},
            {"id": "outside", "text": "X", "startTime": 5, "duration": 1},
            {"id": "before", "text": "Y", "startTime": 0, "duration": 1},
            {"id": "tiny", "text": "T", "startTime": 2.5, "duration": 0.001}
        ]})");
    auto clips = makeResolveLottieClips(params, [&] { return Result(scratch.path()); });
    ASSERT_TRUE(clips) << clips.error().message;
    ASSERT_EQ(clips.value().size(), 4u);

    struct Expected {
        const char* file;
        double start, end;
        std::int64_t frames, sourceOffset;
        const char* text;
        const char* font;
    };
    const Expected expected[] = {
        {"Tessivo_Lottie_001_same.lottie", 1, 2, 30, 30, "A", "Anton"},
        {"Tessivo_Lottie_002_same.lottie", 2, 3, 30, 0, "B", "Helvetica Neue"},
        {"Tessivo_Lottie_003_tiny.lottie", 2.5, 2.51, 1, 0, "T", "Helvetica Neue"},  // raised to 0.01 s
        {"Tessivo_Lottie_004_late.lottie", 3.5, 4, 15, 0, "C", "Helvetica Neue"},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const LottieClip& clip = clips.value()[i];
        EXPECT_EQ(clip.filePath, scratch.path() / expected[i].file);
        EXPECT_DOUBLE_EQ(clip.start, expected[i].start);
        EXPECT_DOUBLE_EQ(clip.end, expected[i].end);
        EXPECT_NEAR(clip.duration, expected[i].end - expected[i].start, 1e-9);
        EXPECT_EQ(clip.durationFrames, expected[i].frames);
        EXPECT_EQ(clip.text, expected[i].text);
        EXPECT_EQ(clip.font, expected[i].font);

        Json content = readArchive(clip.filePath);
        ASSERT_EQ(content["names"].size(), 2u);
        auto document = SortedJson::parse(content["entries"]["animations/caption.json"].get<std::string>());
        EXPECT_EQ(document["op"], expected[i].frames);
        EXPECT_EQ(document["w"], 1280);
        EXPECT_EQ(document["layers"][0]["t"]["d"]["k"][0]["s"]["t"], expected[i].text);
    }

    // The first block starts before the range: its document begins after the
    // entrance (15 frames) has ended, so the opacity starts at 100.
    auto first = SortedJson::parse(readArchive(clips.value()[0].filePath)["entries"]["animations/caption.json"].get<std::string>());
    EXPECT_EQ(first["layers"][0]["ks"]["o"]["k"][0]["s"], SortedJson::parse("[100.0]"));

    // Nothing but the archives in the folder: no build folders, no temporary files.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 4);

    Json records = lottieClipRecords(clips.value());
    EXPECT_EQ(records[0]["filePath"], (scratch.path() / "Tessivo_Lottie_001_same.lottie").string());
    EXPECT_TRUE(records[0]["start"].is_number_float());
    EXPECT_TRUE(records[0]["durationFrames"].is_number_integer());
    EXPECT_EQ(records[0].size(), 7u);
}

TEST(MakeResolveLottieClips, DocumentFramesFollowTheBlock) {
    // A block of 2 s exported from 0.5 s for 1 s at 30 fps: N = 30, D = 60, S = 15.
    ScratchFolder scratch;
    Json block = {{"startTime", 0}, {"duration", 2}, {"animIn", "slide-up"}, {"y", 50}};
    Json params = {{"start", 0.5}, {"end", 1.5}, {"fps", 30}, {"width", 100}, {"height", 100},
                   {"sequences", Json::array({block})}};
    auto clips = makeResolveLottieClips(params, [&] { return Result(scratch.path()); });
    ASSERT_TRUE(clips);
    ASSERT_EQ(clips.value().size(), 1u);
    auto text = readArchive(clips.value()[0].filePath)["entries"]["animations/caption.json"].get<std::string>();
    EXPECT_EQ(SortedJson::parse(text), makeLottieDocument(block, 100, 100, 30, 60, 15, 30));
}

TEST(MakeResolveLottieClips, LowFrameRateIsRaisedToOne) {
    ScratchFolder scratch;
    Json params = Json::parse(R"({"end": 3, "fps": 0.2, "sequences": [{"startTime": 0, "duration": 3}]})");
    auto clips = makeResolveLottieClips(params, [&] { return Result(scratch.path()); });
    ASSERT_TRUE(clips);
    ASSERT_EQ(clips.value().size(), 1u);
    EXPECT_EQ(clips.value()[0].durationFrames, 3);
}

TEST(MakeResolveLottieFolder, DebugFolderReplacesTheMoviesFolder) {
    ScratchFolder scratch;
    Json params = {{"end", 1}, {"_debugOutputDirectory", scratch.path().string()},
                   {"sequences", Json::parse(R"([{"startTime": 0, "duration": 1}])")}};
    auto clips = makeResolveLottieClips(params);
    ASSERT_TRUE(clips);
    ASSERT_EQ(clips.value().size(), 1u);
    EXPECT_EQ(clips.value()[0].filePath.parent_path().parent_path(), scratch.path() / "Tessivo" / "DaVinciLottie");
    EXPECT_TRUE(clips.value()[0].filePath.parent_path().filename().string().starts_with("Export_"));

    // A second export within the same second gets a folder of its own.
    auto again = makeResolveLottieClips(params);
    ASSERT_TRUE(again);
    EXPECT_NE(again.value()[0].filePath.parent_path(), clips.value()[0].filePath.parent_path());
}

TEST(RunLottieCommand, WritesArchivesAndPrintsRecords) {
    ScratchFolder scratch;
    auto request = scratch.path() / "request.json";
    ASSERT_TRUE(writeFileAtomically(request, R"({"start": 0, "end": 2, "fps": 25,
        "sequences": [{"text": "Salut", "startTime": 0.5, "duration": 1, "id": "b1"}],
        "sfxEvents": [{"dataUrl": "data:audio/mpeg;base64,QUJD", "start": 1}]})"));
    std::ostringstream out, err;
    EXPECT_EQ(runLottieCommand(request.string(), scratch.path() / "out", out, err), 0) << err.str();
    auto printed = parseJson(out.str());
    ASSERT_TRUE(printed);
    ASSERT_EQ((*printed)["lottieClips"].size(), 1u);
    EXPECT_EQ((*printed)["lottieClips"][0]["filePath"], (scratch.path() / "out" / "Tessivo_Lottie_001_b1.lottie").string());
    EXPECT_EQ((*printed)["lottieClips"][0]["durationFrames"], 25);
    ASSERT_EQ((*printed)["sfxFiles"].size(), 1u);
    EXPECT_TRUE(std::filesystem::exists((*printed)["sfxFiles"][0]["filePath"].get<std::string>()));

    struct Case {
        const char* request;
        int status;
        const char* message;
    };
    const Case failures[] = {
        {R"({"start": 5, "end": 9, "sequences": [{"startTime": 0, "duration": 1}]})", 1,
         "Aucun bloc Lottie compatible dans la plage exportée.\n"},
        {R"(not json)", 2, nullptr},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.request);
        ASSERT_TRUE(writeFileAtomically(request, c.request));
        std::ostringstream out2, err2;
        EXPECT_EQ(runLottieCommand(request.string(), scratch.path() / "out2", out2, err2), c.status);
        EXPECT_TRUE(out2.str().empty());
        if (c.message) EXPECT_EQ(err2.str(), c.message);
        else EXPECT_FALSE(err2.str().empty());
    }
    std::ostringstream out3, err3;
    EXPECT_EQ(runLottieCommand((scratch.path() / "absent.json").string(), scratch.path(), out3, err3), 2);
}

}  // namespace
}  // namespace tessivo
