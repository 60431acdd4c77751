// The user's style made safe, and the jobs handed to Resolve.
#include "library/fusion_instance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tessivo {
namespace {

TEST(FusionInstance, NormalisesEveryKey) {
    const struct {
        Json request;
        const char* key;
        Json expected;
    } cases[] = {
        {{{"size", 3}}, "size", 0.5},
        {{{"size", 0}}, "size", 0.005},
        {{{"size", -1e308}}, "size", 0.005},
        {{{"size", "nan"}}, "size", 0.08},
        {{{"size", "inf"}}, "size", 0.08},
        {{{"x", -0.2}}, "x", 0.0},
        {{{"y", 7}}, "y", 1.0},
        {{{"duration", 1000}}, "duration", 600.0},
        {Json::object(), "duration", 2.5},
        {{{"duration", 0}}, "duration", 0.04},
        {{{"color", "#FFAA00"}}, "color", "#ffaa00"},
        {{{"color", "red"}}, "color", "#ffffff"},
        {{{"color", "#fff"}}, "color", "#ffffff"},
        {{{"color", " #ffaa00"}}, "color", "#ffffff"},
        {{{"color", 16777215}}, "color", "#ffffff"},
        {{{"color", "#12345g"}}, "color", "#ffffff"},
        {{{"color", "#ABCDEF"}}, "color2", "#abcdef"},
        {{{"color", "#abcdef"}, {"color2", "#12345"}}, "color2", "#abcdef"},
        {{{"color2", "#00FF00"}}, "color2", "#00ff00"},
        {{{"font", "  Bebas Neue \n"}}, "font", "Bebas Neue"},
        {Json::object(), "font", "Inter"},
        {{{"text", 42}}, "text", "42"},
    };
    for (const auto& c : cases) {
        const Json instance = normalizedFusionInstance(c.request);
        EXPECT_EQ(instance.size(), 8u);
        if (c.expected.is_number_float()) {
            EXPECT_DOUBLE_EQ(instance[c.key].get<double>(), c.expected.get<double>()) << c.request.dump();
        } else {
            EXPECT_EQ(instance[c.key], c.expected) << c.request.dump();
        }
    }
}

TEST(FusionInstance, BoundsLongTextByCharacters) {
    std::string accented;
    for (int i = 0; i < 2500; ++i) accented += "\xc3\xa9";  // "é", two bytes each
    EXPECT_EQ(normalizedFusionInstance({{"text", accented}})["text"].get<std::string>().size(), 4000u);
    const std::string huge(10 * 1024 * 1024, 'a');
    EXPECT_EQ(normalizedFusionInstance({{"text", huge}})["text"].get<std::string>().size(), 2000u);
    EXPECT_EQ(normalizedFusionInstance({{"font", std::string(500, 'f')}})["font"].get<std::string>().size(), 200u);
}

TEST(FusionInstance, TargetTracks) {
    const struct {
        Json value;
        const char* expected;
    } cases[] = {{"track:3", "track:3"}, {"new", "new"},        {"auto", "auto"}, {"track:0", "auto"},
                 {"track:-1", "auto"},   {"track:03", "auto"},  {"top", "auto"},  {nullptr, "auto"},
                 {"track:", "auto"},     {"track:99999999999999999999", "auto"}, {"Track:2", "auto"}};
    for (const auto& c : cases)
        EXPECT_EQ(normalizedTargetTrack(c.value.is_null() ? nullptr : &c.value), c.expected) << c.value.dump();
}

TEST(FusionInstance, InsertionJob) {
    const Json metadata = {{"name", "Shine"},
                           {"primaryTextTarget", 7},
                           {"durationFrames", 90},
                           {"compatibility", {{"editableText", false}}},
                           {"textTargets", Json::array({{{"toolName", "A"}}, {{"toolName", "7"}, {"text", "B"}}})}};
    InsertionRequest request;
    request.payload = {{"preserveLayout", false}, {"durationFrames", 48.7}, {"recordFrame", "12"},
                       {"targetTrack", "track:03"}, {"liveSequence", {{"a", 1}}}, {"instance", "not an object"}};
    request.requestId = "R1";
    request.originFloating = true;
    Json job = makeFusionInsertionJob(request, "included-shine", metadata, "/t/template.setting", "");
    EXPECT_EQ(job["preserveLayout"], true);
    EXPECT_EQ(job["editableText"], false);
    EXPECT_EQ(job["ownerId"], "R1");
    EXPECT_EQ(job["sourceDefaults"]["text"], "B");
    EXPECT_EQ(job["sourceDurationFrames"], 90);
    EXPECT_EQ(job["durationFrames"], 48);
    EXPECT_FALSE(job.contains("recordFrame"));
    EXPECT_EQ(job["targetTrack"], "auto");
    EXPECT_EQ(job["liveSequence"]["a"], 1);
    EXPECT_EQ(job["instance"]["text"], "");
    EXPECT_EQ(job["nativeSeedPath"], "");
    EXPECT_EQ(job["insertionMode"], "native");

    request.isLive = true;
    request.originFloating = false;
    request.payload = {{"recordFrame", 1e300}, {"durationFrames", std::numeric_limits<double>::quiet_NaN()}};
    job = makeFusionInsertionJob(request, "x", metadata, "/t", "");
    EXPECT_EQ(job["editableText"], true);
    EXPECT_EQ(job["preserveLayout"], false);
    EXPECT_FALSE(job.contains("durationFrames"));
    EXPECT_TRUE(job["recordFrame"].is_number_integer());
    // Without a matching target the first one gives the defaults; none at all gives an empty object.
    EXPECT_EQ(makeFusionInsertionJob(request, "x", {{"textTargets", Json::array({{{"toolName", "A"}}})}}, "/t", "")["sourceDefaults"]["toolName"], "A");
    EXPECT_EQ(makeFusionInsertionJob(request, "x", Json::object(), "/t", "")["sourceDefaults"], Json::object());
}

}  // namespace
}  // namespace tessivo
