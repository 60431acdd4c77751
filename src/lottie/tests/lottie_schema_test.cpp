// Every kind of Lottie document the builder writes goes through the community
// Lottie JSON schema and a check of the text keys a player needs
// (tests/lottie-schema/validate.mjs, run with node).
#include "lottie/lottie_document.h"

#include "delivery/tests/process_output.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace tessivo {
namespace {

using testing::runProcess;
using testing::ScratchFolder;
using testing::shellQuoted;

std::filesystem::path schemaFolder() {
    const char* folder = std::getenv("TESSIVO_LOTTIE_SCHEMA_DIR");
    return folder ? std::filesystem::path(folder) : std::filesystem::path(TESSIVO_SOURCE_DIR) / "tests" / "lottie-schema";
}

class LottieSchema : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(schemaFolder() / "node_modules" / "@lottie-animation-community" / "lottie-specs"))
            GTEST_SKIP() << "node_modules missing: run `npm ci --prefix " << schemaFolder().string() << "` first";
    }

    testing::ProcessOutput validate(const std::vector<std::filesystem::path>& files) {
        std::string command = "node " + shellQuoted((schemaFolder() / "validate.mjs").string());
        for (const auto& file : files) command += " " + shellQuoted(file.string());
        return runProcess(command);
    }

    std::filesystem::path write(const SortedJson& document, const std::string& name) {
        auto path = scratch_.path() / (name + ".json");
        EXPECT_TRUE(writeFileAtomically(path, serializeSortedJson(document).value_or("")));
        return path;
    }

    ScratchFolder scratch_;
};

TEST_F(LottieSchema, EveryGeneratedDocumentValidates) {
    struct Case {
        const char* name;
        Json sequence;
        std::int64_t D, S, N;
        double fps;
    };
    const Case cases[] = {
        {"defaults", Json::object(), 60, 0, 60, 30},
        {"fade", {{"animIn", "fade"}, {"animOut", "fade"}, {"text", "Salut\nà tous"}}, 90, 0, 90, 30},
        {"slide", {{"animIn", "slide-up"}, {"animOut", "slide-down"}, {"x", -20}, {"y", 150}}, 45, 0, 45, 29.97},
        {"smooth", {{"animIn", "smooth-rise"}, {"animOut", "smooth-sink"}}, 120, 10, 50, 60},
        {"pop", {{"animIn", "pop"}, {"animOut", "pop-out"}, {"textScaleX", 500}}, 30, 5, 25, 24},
        {"scale-down", {{"animIn", "scale-down"}, {"textScaleX", 10}, {"size", 0}}, 30, 0, 30, 25},
        {"rotate", {{"animIn", "rotate"}, {"animOut", "rotate-out"}, {"animSpeed", 10}}, 20, 0, 20, 30},
        {"one frame", {{"animIn", "fade"}, {"animOut", "sink"}}, 1, 0, 1, 60},
        {"outline", {{"hasOutline", true}, {"outlineWidth", 0}, {"outlineColor", "#f00"}, {"color", "#0f0"}}, 60, 0, 60, 30},
        {"outline rgb", {{"hasOutline", "yes"}, {"outlineColor", "rgb(1,2,3)"}, {"color", "transparent"}}, 60, 0, 60, 30},
        {"font", {{"font", "DM Serif Display"}, {"text", "\"quoted\" \\ text"}}, 60, 0, 60, 30},
        {"crop past end", {{"animOut", "fade"}}, 10, 8, 5, 30},
    };
    std::vector<std::filesystem::path> files;
    for (const auto& c : cases)
        files.push_back(write(makeLottieDocument(c.sequence, 1920, 1080, c.fps, c.D, c.S, c.N), c.name));
    auto result = validate(files);
    EXPECT_EQ(result.exitStatus, 0) << result.output;
}

TEST_F(LottieSchema, ValidatorRejectsBrokenDocuments) {
    SortedJson good = makeLottieDocument({{"animIn", "pop"}}, 1920, 1080, 30, 60, 0, 60);
    struct Case {
        const char* name;
        std::function<void(SortedJson&)> breakIt;
        const char* complaint;
    };
    const Case cases[] = {
        {"no animators", [](SortedJson& d) { d["layers"][0]["t"].erase("a"); }, "t.a"},
        {"zero rate", [](SortedJson& d) { d["fr"] = 0.0; }, "framerate"},
        {"no font entry", [](SortedJson& d) { d["fonts"]["list"] = SortedJson::array(); }, "fonts.list"},
        {"keyframe without value", [](SortedJson& d) { d["layers"][0]["ks"]["s"]["k"][0].erase("s"); }, "null layer"},
        {"no fill colour", [](SortedJson& d) { d["layers"][0]["t"]["d"]["k"][0]["s"].erase("fc"); }, "fc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SortedJson broken = good;
        c.breakIt(broken);
        auto result = validate({write(broken, "broken")});
        EXPECT_EQ(result.exitStatus, 1) << result.output;
        EXPECT_NE(result.output.find(c.complaint), std::string::npos) << result.output;
    }
    EXPECT_EQ(validate({write(good, "good")}).exitStatus, 0);
}

}  // namespace
}  // namespace tessivo
