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
    // the last command before the clamp on each wheel, and the first beyond it
    {99, 109, 127, 127},
    {-99, -109, 255, 255},
    {-98, -108, 254, 254},
    {-100, -110, 255, 255},
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

TEST(MotorFrame, SignAndGrowthOverWholeRange) {
    // Not the rule again, but what any right rule gives: bit 7 exactly for a
    // negative command, never negative zero (0x80), only 0 stops, and the
    // magnitude never shrinks as the command grows away from 0.
    for (int dead_band : {MOTOR_LEFT_DEAD_BAND, MOTOR_RIGHT_DEAD_BAND}) {
        int last_forward = 0, last_backward = 0;
        for (int cmd = 1; cmd <= 300; ++cmd) {
            const uint8_t fwd = motor_command_byte(cmd, dead_band);
            const uint8_t back = motor_command_byte(-cmd, dead_band);
            ASSERT_TRUE(fwd > 0 && fwd <= 127) << cmd;
            ASSERT_TRUE(back > 0x80) << -cmd;
            ASSERT_GE(fwd, last_forward) << cmd;
            ASSERT_GE(back, last_backward) << -cmd;
            last_forward = fwd;
            last_backward = back;
        }
    }
    EXPECT_EQ(motor_command_byte(0, MOTOR_LEFT_DEAD_BAND), 0);
}

TEST(MotorFrame, ExtremeIntsDoNotOverflow) {
    EXPECT_EQ(motor_command_byte(INT_MAX, MOTOR_LEFT_DEAD_BAND), 127);
    EXPECT_EQ(motor_command_byte(INT_MIN, MOTOR_LEFT_DEAD_BAND), 255);
    EXPECT_EQ(motor_command_byte(INT_MIN + 1, MOTOR_RIGHT_DEAD_BAND), 255);
}

}  // namespace
