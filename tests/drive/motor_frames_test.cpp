// Motor byte encoding: offsets away from 0, clamp after the offset,
// sign-and-magnitude, and the four-byte frame layout.
#include <gtest/gtest.h>

#include <climits>

#include "drive/motor.h"

namespace {

struct frame_case {
    int left, right;
    int byte0, byte1;
};

// The frame table of the motor protocol, in decimal.
const frame_case kFrameTable[] = {
    {0, 0, 0, 0},
    {1, 1, 29, 19},
    {-1, -1, 157, 147},
    {50, -50, 78, 196},
    {98, 108, 126, 126},
    {100, 100, 127, 118},
    {-127, -127, 255, 255},
    // edge cases: one wheel exactly 0, far out of range, clamp after the offset
    {-1, 0, 157, 0},
    {1000, -1000, 127, 255},
    {-100, 0, 255, 0},
};

TEST(MotorFrame, TableAndEdgeCases) {
    for (const frame_case& c : kFrameTable) {
        uint8_t f[4] = {1, 2, 3, 4};
        motor_frame4(c.left, c.right, f);
        SCOPED_TRACE(testing::Message() << "left " << c.left << " right " << c.right);
        EXPECT_EQ(f[0], c.byte0);
        EXPECT_EQ(f[1], c.byte1);
        EXPECT_EQ(f[2], c.byte1);
        EXPECT_EQ(f[3], c.byte1);
    }
}

TEST(MotorFrame, ByteRuleOverWholeRange) {
    // Built from the rule itself, wheel by wheel: offset away from 0, clamp,
    // bit 7 for negative; negative zero (0x80) never appears.
    for (int dead_band : {MOTOR_LEFT_DEAD_BAND, MOTOR_RIGHT_DEAD_BAND}) {
        for (int cmd = -300; cmd <= 300; ++cmd) {
            int v = cmd == 0 ? 0 : (cmd > 0 ? cmd + dead_band : cmd - dead_band);
            v = v > 127 ? 127 : (v < -127 ? -127 : v);
            int expected = v < 0 ? 128 + (-v) : v;
            uint8_t b = motor_command_byte(cmd, dead_band);
            ASSERT_EQ(b, expected) << "command " << cmd << " offset " << dead_band;
            ASSERT_NE(b, 0x80);
        }
    }
}

TEST(MotorFrame, ExtremeIntsDoNotOverflow) {
    EXPECT_EQ(motor_command_byte(INT_MAX, MOTOR_LEFT_DEAD_BAND), 127);
    EXPECT_EQ(motor_command_byte(INT_MIN, MOTOR_LEFT_DEAD_BAND), 255);
    EXPECT_EQ(motor_command_byte(INT_MIN + 1, MOTOR_RIGHT_DEAD_BAND), 255);
}

}  // namespace
