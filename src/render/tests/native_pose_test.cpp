#include "render/native_pose.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

NativeTextSequence animated(const char* in, const char* out, double duration, double speed) {
    NativeTextSequence s;
    s.animIn = in;
    s.animOut = out;
    s.duration = duration;
    s.animSpeed = speed;
    return s;
}

TEST(NativePose, AnimationLengths) {
    const struct {
        const char* in;
        const char* out;
        double duration, speed, entrance, exit;
    } cases[] = {
        {"pop", "fade", 2, 0.35, 0.35, 0.35},
        {"fade", "fade", 0.5, 1, 0.225, 0.225},  // capped at 45 % of the block
        {"fade", "none", 2, 0, 0.01, 0},         // never shorter than 0.01 s
        {"none", "sink", 2, -3, 0, 0.01},
        {"none", "none", 2, 0.35, 0, 0},
        {"fade", "fade", 0, 0.35, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in) + "/" + c.out);
        const auto block = animated(c.in, c.out, c.duration, c.speed);
        EXPECT_DOUBLE_EQ(nativeEntranceLength(block), c.entrance);
        EXPECT_DOUBLE_EQ(nativeExitLength(block), c.exit);
    }
}

TEST(NativePose, PosesAtGivenTimes) {
    // Half-way through an entrance e = 0.875; through an exit c = 0.125.
    const struct {
        const char* in;
        const char* out;
        double duration, speed, u;
        NativePose expected;
    } cases[] = {
        {"pop", "none", 2, 0.35, 0.175, {0.875, 0, 0, 0, 0.9375}},
        {"slide-up", "none", 2, 0.35, 0.175, {0.875, 0, 8, 0, 1}},
        {"smooth-rise", "none", 2, 0.35, 0.175, {0.875, 0, 4.75, 0, 0.9925}},
        {"zoom-blur", "none", 2, 0.35, 0.175, {0.875, 0, 0, 0, 1.15}},
        {"ghost-reveal", "none", 2, 0.35, 0.175, {0.875, -11.5, 2.75, 0, 1}},
        {"whip-left", "none", 2, 0.35, 0.175, {0.875, -22.5, 0, -0.0025, 1}},
        {"slam", "none", 2, 0.35, 0, {0, 0, 0, 0, 1.85}},
        {"Fade", "none", 2, 0.35, 0.175, {0.875, 0, 0, 0, 1}},  // unknown name: fades only
        {"pop", "none", 2, 0.35, 0.35, {}},                      // the entrance has ended
        {"none", "fade", 2, 0.35, 1.65, {}},                      // the exit has not begun
        {"none", "fade", 2, 0.35, 1.825, {0.875, 0, 0, 0, 1}},
        {"none", "fade", 2, 0.35, 2, {0, 0, 0, 0, 1}},
        {"none", "pop-out", 2, 0.35, 1.825, {0.875, 0, 0, 0, 0.95625}},
        // The downward exits move the block down the screen.
        {"none", "slide-down", 2, 0.35, 1.825, {0.875, 0, 8, 0, 1}},
        {"none", "sink", 2, 0.35, 2, {0, 0, 64, 0, 1}},
        {"none", "smooth-sink", 2, 0.35, 2, {0, 0, 38, 0, 0.94}},
        {"none", "ghost-out", 2, 0.35, 2, {0, 110, -22, 0, 1}},
        {"none", "whip-right-out", 2, 0.35, 2, {0, 180, 0, 0.02, 1}},
        {"none", "zoom-blur-out", 2, 0.35, 2, {0, 0, 0, 0, 2.2}},
        {"none", "mystery", 2, 0.35, 1.825, {0.875, 0, 0, 0, 1}},
        // Entrance and exit of a short block, back to back.
        {"fade", "fade", 0.5, 1, 0.1125, {0.875, 0, 0, 0, 1}},
        {"fade", "fade", 0.5, 1, 0.25, {}},
        {"fade", "fade", 0.5, 1, 0.3875, {0.875, 0, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in) + "/" + c.out + " at " + std::to_string(c.u));
        const NativePose p = nativePose(animated(c.in, c.out, c.duration, c.speed), c.u);
        EXPECT_NEAR(p.opacity, c.expected.opacity, 1e-9);
        EXPECT_NEAR(p.xOffset, c.expected.xOffset, 1e-9);
        EXPECT_NEAR(p.yOffset, c.expected.yOffset, 1e-9);
        EXPECT_NEAR(p.rotation, c.expected.rotation, 1e-9);
        EXPECT_NEAR(p.scale, c.expected.scale, 1e-9);
    }
}

TEST(NativePose, ShineSweepRunsOnceAfterTheEntrance) {
    NativeTextSequence block = animated("fade", "none", 4, 0.35);
    block.effect = "shine-sweep";
    block.effectSpeed = 1;
    const struct {
        const char* in;
        double u;
        bool active;
        double phase;
    } cases[] = {
        {"fade", 0.2, false, 0},  {"fade", 0.35, true, 0}, {"fade", 0.85, true, 0.5},
        {"fade", 1.349, true, 0.999},  {"fade", 1.36, false, 0}, {"fade", 3.5, false, 0},
        {"none", 0, true, 0},     {"none", 1.01, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " at " + std::to_string(c.u));
        block.animIn = c.in;
        const NativeShine shine = nativeShine(block, c.u);
        EXPECT_EQ(shine.active, c.active);
        if (c.active) {
            EXPECT_NEAR(shine.phase, c.phase, 1e-9);
        }
    }
    block.effect = "none";
    EXPECT_FALSE(nativeShine(block, 0.85).active);
    block.effect = "shine-sweep";
    block.effectSpeed = 0;  // a floor of 0.05 s per pass
    block.animIn = "none";
    EXPECT_NEAR(nativeShine(block, 0.025).phase, 0.5, 1e-9);
}

}  // namespace
}  // namespace tessivo
