// The speed loop's arithmetic period by period, without threads or devices.
#include <gtest/gtest.h>

#include <limits>

#include "drive/motor.h"
#include "drive/vel_ctrl.h"

namespace {

vel_ctrl_refs refs_of(float left, float right) {
    return {left, right, left, right};
}

TEST(VelCtrlStep, WorkedExampleFourPeriods) {
    struct period {
        int32_t count_l, count_r;
        float u_l, u_r;
        int cmd_l, cmd_r;
        int byte0, byte1;
    };
    const period table[] = {
        {0, 0, 40.66f, 43.16f, 40, 43, 68, 61},
        {0, 0, 27.86f, 30.68f, 27, 30, 55, 48},
        {10, 10, -5.27f, -5.17f, -5, -5, 161, 151},
        {10, 10, 12.52f, 12.83f, 12, 12, 40, 30},
    };
    vel_ctrl_state st{};
    for (const period& p : table) {
        vel_ctrl_output out = vel_ctrl_step(&st, p.count_l, p.count_r, refs_of(20, 20));
        SCOPED_TRACE(testing::Message() << "counts " << p.count_l);
        EXPECT_FALSE(out.stopped);
        EXPECT_NEAR(st.u_l, p.u_l, 0.005f);
        EXPECT_NEAR(st.u_r, p.u_r, 0.005f);
        EXPECT_EQ(out.command_l, p.cmd_l);
        EXPECT_EQ(out.command_r, p.cmd_r);
        uint8_t frame[4];
        motor_frame4(out.command_l, out.command_r, frame);
        EXPECT_EQ(frame[0], p.byte0);
        EXPECT_EQ(frame[1], p.byte1);
    }
}

TEST(VelCtrlStep, MeasuredSpeeds) {
    // period 3 of the worked example: 19.05 left, 19.36 right
    EXPECT_NEAR(vel_ctrl_speed_left(10), 19.05f, 0.005f);
    EXPECT_NEAR(vel_ctrl_speed_right(10), 19.36f, 0.005f);
    EXPECT_EQ(vel_ctrl_speed_right(1), 1.9356717f);
    // -3 counts on the left: the product in double, rounded to float once
    // (worked out apart from the code).
    EXPECT_EQ(vel_ctrl_speed_left(-3), -5.71526432f);
    EXPECT_EQ(vel_ctrl_speed_left(0), 0.0f);
}

TEST(VelCtrlStep, ZeroBaseReferencesSendStopAndKeepMemory) {
    vel_ctrl_state st{};
    vel_ctrl_step(&st, 0, 0, refs_of(20, 20));
    vel_ctrl_state before = st;
    // In-use references of 5 (a leftover modification) do not count; only the base.
    vel_ctrl_output out = vel_ctrl_step(&st, 7, -4, {5, 5, 0, 0});
    EXPECT_TRUE(out.stopped);
    EXPECT_EQ(out.command_l, 0);
    EXPECT_EQ(out.command_r, 0);
    EXPECT_EQ(st.err_sum_l, before.err_sum_l);
    EXPECT_EQ(st.err_sum_r, before.err_sum_r);
    EXPECT_EQ(st.err_prev_l, before.err_prev_l);
    EXPECT_EQ(st.err_prev_r, before.err_prev_r);
    // the measured speeds are still reported
    EXPECT_EQ(out.vel_r, vel_ctrl_speed_right(-4));
}

// A NaN cast to int is full reverse on x86: no such period may reach a frame.
TEST(VelCtrlStep, NonFiniteReferenceOrOutputCommandsZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const vel_ctrl_refs bad[] = {{nan, 20, nan, 20}, {20, -inf, 20, -inf}, {inf, inf, 5, 5}};
    for (const vel_ctrl_refs& r : bad) {
        vel_ctrl_state st{};
        vel_ctrl_step(&st, 0, 0, refs_of(20, 20));
        vel_ctrl_state before = st;
        vel_ctrl_output out = vel_ctrl_step(&st, 3, 3, r);
        EXPECT_EQ(out.command_l, 0);
        EXPECT_EQ(out.command_r, 0);
        EXPECT_EQ(st.err_sum_l, before.err_sum_l);
        EXPECT_EQ(st.err_sum_r, before.err_sum_r);
    }
    vel_ctrl_state poisoned{};
    poisoned.err_sum_r = nan;
    vel_ctrl_output out = vel_ctrl_step(&poisoned, 0, 0, refs_of(20, 20));
    EXPECT_EQ(out.command_l, 0);
    EXPECT_EQ(out.command_r, 0);
}

TEST(VelCtrlStep, OneNonZeroBaseRegulatesBothWheels) {
    vel_ctrl_state st{};
    vel_ctrl_output out = vel_ctrl_step(&st, 0, 5, {10, 0, 10, 0});
    EXPECT_FALSE(out.stopped);
    EXPECT_GT(out.command_l, 0);
    EXPECT_LT(out.command_r, 0);  // the right wheel is braked towards 0
}

TEST(VelCtrlStep, ClampAndTruncationTowardZero) {
    vel_ctrl_state st{};
    // a huge error saturates at +-127, and the sum keeps growing while clamped
    vel_ctrl_output out = vel_ctrl_step(&st, 0, 0, refs_of(500, -500));
    EXPECT_EQ(st.u_l, 127.0f);
    EXPECT_EQ(st.u_r, -127.0f);
    EXPECT_EQ(out.command_l, 127);
    EXPECT_EQ(out.command_r, -127);
    float sum = st.err_sum_l;
    vel_ctrl_step(&st, 0, 0, refs_of(500, -500));
    EXPECT_EQ(st.err_sum_l, sum + 500.0f);

    // small outputs truncate toward 0: an output in (-1, 0) becomes command 0
    vel_ctrl_state small{};
    float ref = -0.9f / (0.833f + 0.28f + 0.92f);
    vel_ctrl_output o = vel_ctrl_step(&small, 0, 0, refs_of(ref, 1.0f));
    EXPECT_GT(small.u_l, -1.0f);
    EXPECT_LT(small.u_l, 0.0f);
    EXPECT_EQ(o.command_l, 0);
    uint8_t frame[4];
    motor_frame4(o.command_l, 0, frame);
    EXPECT_EQ(frame[0], 0);  // no dead-band offset on an exact 0
}

TEST(VelCtrlRefs, ModificationReplacesAndNeverAccumulates) {
    vel_ctrl_refs r{};
    vel_ctrl_set(20, 20);
    vel_ctrl_mod(-3, 3);
    vel_ctrl_mod(-3, 3);
    vel_ctrl_get_refs(&r);
    EXPECT_EQ(r.left, 17.0f);
    EXPECT_EQ(r.right, 23.0f);
    EXPECT_EQ(r.left_org, 20.0f);
    EXPECT_EQ(r.right_org, 20.0f);
    vel_ctrl_mod(0, 0);
    vel_ctrl_get_refs(&r);
    EXPECT_EQ(r.left, 20.0f);
    EXPECT_EQ(r.right, 20.0f);

    // a modification on zero base references still leaves the loop stopping
    vel_ctrl_set(0, 0);
    vel_ctrl_mod(5, 5);
    vel_ctrl_get_refs(&r);
    EXPECT_EQ(r.left, 5.0f);
    EXPECT_EQ(r.left_org, 0.0f);
    vel_ctrl_state st{};
    EXPECT_TRUE(vel_ctrl_step(&st, 3, 3, r).stopped);

    vel_ctrl_set(12, -7);
    EXPECT_EQ(vel_ctrl_reset(), 0);
    vel_ctrl_get_refs(&r);
    EXPECT_EQ(r.left, 0.0f);
    EXPECT_EQ(r.right, 0.0f);
    EXPECT_EQ(r.left_org, 0.0f);
    EXPECT_EQ(r.right_org, 0.0f);
}

}  // namespace
