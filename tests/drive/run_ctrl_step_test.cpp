// The run controller's arithmetic period by period: speed profiles, end
// conditions and the balance correction, checked against the move rules.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>

#include "drive/calibration.h"
#include "drive/run_ctrl.h"
#include "drive/run_ctrl_testing.h"
#include "drive/vel_ctrl.h"

namespace {

run_ctrl_inputs straight(float m, float speed, float dist, int32_t mode = RUN_STRAIGHT) {
    return {.left = m, .right = m, .mode = mode, .speed = speed, .dist = dist, .dist_flag = 1};
}

// The same move with the wheels elsewhere (cm).
run_ctrl_inputs at(run_ctrl_inputs in, float left, float right) {
    in.left = left;
    in.right = right;
    return in;
}

TEST(RunCtrlStep, StraightTargetZeroEitherSign) {
    run_ctrl_balance b{};
    // at rest the mean 0 is not beyond 0: creep at 2 cm/s
    run_ctrl_action a = run_ctrl_step(straight(0, 20, 0), &b);
    EXPECT_FALSE(a.ended);
    ASSERT_TRUE(a.set);
    EXPECT_EQ(a.set_left, 2.0f);
    EXPECT_EQ(a.set_right, 2.0f);
    EXPECT_TRUE(run_ctrl_step(straight(0.05f, 20, 0), &b).ended);

    run_ctrl_balance back{};
    a = run_ctrl_step(straight(0, -20, 0), &back);
    EXPECT_FALSE(a.ended);
    EXPECT_EQ(a.set_left, -2.0f);
    EXPECT_TRUE(run_ctrl_step(straight(-0.05f, -20, 0), &back).ended);
}

TEST(RunCtrlStep, TargetOppositeToSpeedEndsAtOnce) {
    run_ctrl_balance b{};
    run_ctrl_action a = run_ctrl_step(straight(0, 20, -50), &b);
    EXPECT_TRUE(a.ended);
    EXPECT_FALSE(a.set);
    EXPECT_FALSE(a.mod);
    EXPECT_EQ(b.sum_diff_l_r, 0.0f);  // the imbalance line shows 0.0
}

TEST(RunCtrlStep, ZeroSpeedFollowsBackwardRules) {
    run_ctrl_balance b{};
    EXPECT_TRUE(run_ctrl_step(straight(0, 0, 30), &b).ended);
    // and with a negative target it ramps towards -2 cm/s
    run_ctrl_action a = run_ctrl_step(straight(-20, 0, -24), &b);
    EXPECT_FALSE(a.ended);
    EXPECT_FLOAT_EQ(a.set_left, static_cast<float>(-2.0 - 2.0 * (-4.0) / 12.0));
}

TEST(RunCtrlStep, StraightRampProfileForward) {
    // 20 cm/s to 100 cm, worked by hand: full speed until 12 cm are left, then
    // down a straight line to 2 cm/s at the target itself.
    const struct {
        float mean, speed;
    } rows[] = {{0, 20}, {88, 20}, {88.25f, 19.625f}, {94, 11}, {97, 6.5f}, {100, 2}};
    for (const auto& r : rows) {
        run_ctrl_balance b{};
        const run_ctrl_action a = run_ctrl_step(straight(r.mean, 20, 100), &b);
        ASSERT_FALSE(a.ended) << r.mean;
        EXPECT_FLOAT_EQ(a.set_left, r.speed) << r.mean;
        EXPECT_EQ(a.set_right, a.set_left) << r.mean;
    }
    // All the way: never above 20 nor below the creep, never faster further
    // on, and ended exactly once the target has been passed.
    float last = 20;
    for (float m = 0; m <= 101; m += 0.25f) {
        run_ctrl_balance b{};
        const run_ctrl_action a = run_ctrl_step(straight(m, 20, 100), &b);
        ASSERT_EQ(a.ended, m > 100) << m;
        if (!a.ended) {
            ASSERT_TRUE(a.set_left <= last && a.set_left >= 2) << m << ": " << a.set_left;
            last = a.set_left;
        }
    }
}

TEST(RunCtrlStep, FastStraightProfile) {
    // 20 cm/s up to 55 cm, 40 cm/s until the mean passes 100, then the end
    for (float m = 0; m <= 101; m += 0.5f) {
        run_ctrl_balance b{};
        run_ctrl_action a = run_ctrl_step(straight(m, 20, 100, RUN_FAST_STRAIGHT), &b);
        SCOPED_TRACE(m);
        if (m > 100) {
            EXPECT_TRUE(a.ended);
        } else {
            ASSERT_TRUE(a.set);
            EXPECT_EQ(a.set_left, m > 55 ? 40.0f : 20.0f);
        }
    }
    // backward fast straight uses the ordinary 12 cm ramp
    run_ctrl_balance b{};
    run_ctrl_action a = run_ctrl_step(straight(-94, -20, -100, RUN_FAST_STRAIGHT), &b);
    EXPECT_FLOAT_EQ(a.set_left, static_cast<float>(-2.0 + 18.0 * (-6.0) / 12.0));
}

TEST(RunCtrlStep, BalanceCorrection) {
    run_ctrl_balance b{};
    run_ctrl_inputs in = at(straight(0, 20, 100), 10.5f, 10.0f);
    run_ctrl_action a = run_ctrl_step(in, &b);
    double d = 0.5;
    ASSERT_TRUE(a.mod);
    EXPECT_FLOAT_EQ(a.mod_left, static_cast<float>(-(15.5 * d + 30 * d)));
    EXPECT_FLOAT_EQ(a.mod_right, static_cast<float>(15.5 * d + 30 * d));
    EXPECT_FLOAT_EQ(b.sum_diff_l_r, 0.5f);
    // second period: the derivative sees the change, the sum adds |d|
    in.left = 10.0f;
    in.right = 10.25f;
    a = run_ctrl_step(in, &b);
    double d2 = -0.25;
    EXPECT_FLOAT_EQ(a.mod_right, static_cast<float>(15.5 * d2 + 30 * (d2 - d)));
    EXPECT_FLOAT_EQ(b.sum_diff_l_r, 0.75f);
    EXPECT_FLOAT_EQ(b.diff_l_r_prev, -0.25f);

    // without a target: only the correction, around the base references
    const run_ctrl_inputs free_run{.left = 1.0f, .right = 0.0f, .mode = RUN_STRAIGHT, .speed = 20};
    run_ctrl_balance f{};
    a = run_ctrl_step(free_run, &f);
    EXPECT_FALSE(a.set);
    EXPECT_TRUE(a.mod);
    EXPECT_FALSE(a.ended);
}

TEST(RunCtrlStep, RotationProfileS10D30) {
    const double factor = DRIVE_ANGLE_FACTOR;
    for (double angle = 0; angle <= 31; angle += 0.5) {
        float diff = static_cast<float>(angle / factor);
        const run_ctrl_inputs in{.left = diff / 2,
                                 .right = -diff / 2,
                                 .mode = RUN_ROTATE,
                                 .speed = 10,
                                 .dist = 30,
                                 .dist_flag = 1,
                                 .kfr = 0.3f};
        run_ctrl_balance b{};
        run_ctrl_action a = run_ctrl_step(in, &b);
        double measured = (static_cast<double>(in.left) - in.right) * factor;
        SCOPED_TRACE(measured);
        if (measured > 30) {
            EXPECT_TRUE(a.ended);
            continue;
        }
        ASSERT_TRUE(a.set);
        double e = 30 - measured;
        double v = e < 20 ? static_cast<double>(0.3f) * e + 2 : 10;
        EXPECT_FLOAT_EQ(a.set_left, static_cast<float>(v));
        EXPECT_FLOAT_EQ(a.set_right, static_cast<float>(-v));
        EXPECT_FALSE(a.mod);
        // a pure turn keeps the centre still: nothing accumulates
        EXPECT_NEAR(b.sum_diff_l_r, 0.0f, 1e-6f);
    }
}

TEST(RunCtrlStep, RotationBackwardAndCentreDrift) {
    run_ctrl_balance b{};
    // -15 degrees of -30 done: inside the zone, Kf_r x E - 2
    float diff = static_cast<float>(-15 / DRIVE_ANGLE_FACTOR);
    run_ctrl_inputs in{.left = diff / 2 + 0.5f,
                       .right = -diff / 2 + 0.5f,
                       .mode = RUN_ROTATE,
                       .speed = -10,
                       .dist = -30,
                       .dist_flag = 1,
                       .kfr = 0.5f};
    run_ctrl_action a = run_ctrl_step(in, &b);
    ASSERT_FALSE(a.ended);
    double e = -30 - (static_cast<double>(in.left) - in.right) * DRIVE_ANGLE_FACTOR;
    EXPECT_FLOAT_EQ(a.set_left, static_cast<float>(0.5 * e - 2));
    EXPECT_FLOAT_EQ(b.sum_diff_l_r, 1.0f);  // |L + R|
    // without a target only the accumulation happens
    run_ctrl_balance nb{};
    in.dist_flag = 0;
    a = run_ctrl_step(in, &nb);
    EXPECT_FALSE(a.set);
    EXPECT_FLOAT_EQ(nb.sum_diff_l_r, 1.0f);
}

TEST(RunCtrlStep, ArcForwardOnLeftBackwardOnRight) {
    run_ctrl_balance b{};
    const run_ctrl_inputs forward{.mode = RUN_ARC, .speed = 10, .dist = 50, .dist_flag = 1};
    run_ctrl_action a = run_ctrl_step(at(forward, 5, 1.75f), &b);
    EXPECT_EQ(a.set_left, 10.0f);
    EXPECT_EQ(a.set_right, static_cast<float>(0.35 * 10));
    EXPECT_FALSE(a.mod);
    EXPECT_TRUE(run_ctrl_step(at(forward, 50.1f, 0), &b).ended);

    // backward: the right wheel, turning at 0.35 x V, decides; the left is ignored
    const run_ctrl_inputs backward{.mode = RUN_ARC, .speed = -10, .dist = -20, .dist_flag = 1};
    a = run_ctrl_step(at(backward, -200, -15), &b);
    EXPECT_FALSE(a.ended);
    double v = -2 - (-10 + 2) * (-5.0) / 12;
    EXPECT_FLOAT_EQ(a.set_left, static_cast<float>(v));
    EXPECT_FLOAT_EQ(a.set_right, static_cast<float>(0.35 * v));
    EXPECT_FALSE(run_ctrl_step(at(backward, -200, -20), &b).ended);
    EXPECT_TRUE(run_ctrl_step(at(backward, -5, -20.1f), &b).ended);
    EXPECT_EQ(b.sum_diff_l_r, 0.0f);
    // without a target an arc does nothing
    a = run_ctrl_step({.left = 5, .right = 1, .mode = RUN_ARC, .speed = 10}, &b);
    EXPECT_FALSE(a.set || a.mod || a.ended);
}

TEST(RunCtrlStep, UnknownModeNeverEnds) {
    for (int32_t mode : {7, 4, -1}) {
        for (float m : {0.0f, 100.0f, -100.0f}) {
            run_ctrl_balance b{};
            run_ctrl_action a = run_ctrl_step(straight(m, 20, 10, mode), &b);
            EXPECT_FALSE(a.ended || a.set || a.mod) << mode << " " << m;
        }
    }
}

// Each case starts from the state a program starts in.
class RunCtrlSet : public testing::Test {
  protected:
    void SetUp() override { run_ctrl_testing_reset(); }
};

TEST_F(RunCtrlSet, FirstCommandAndGainReset) {
    vel_ctrl_refs r{};
    std::string out;
    testing::internal::CaptureStdout();
    run_ctrl_set(RUN_ROTATE, 10);
    vel_ctrl_get_refs(&r);
    run_ctrl_set(RUN_STRAIGHT, 20);
    vel_ctrl_refs s{};
    vel_ctrl_get_refs(&s);
    run_ctrl_set(7, 20);
    vel_ctrl_refs z{};
    vel_ctrl_get_refs(&z);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "rotae mode selected\nstraight mode selected\n");
    EXPECT_FLOAT_EQ(r.left_org, 2.51328f);
    EXPECT_FLOAT_EQ(r.right_org, -2.51328f);
    EXPECT_EQ(s.left_org, 20.0f);
    EXPECT_EQ(s.right, 20.0f);
    EXPECT_EQ(z.left_org, 0.0f);
    EXPECT_EQ(z.right_org, 0.0f);

    // no run-control thread has started since the reset: the saved gain is 0
    EXPECT_EQ(run_ctrl_get_Kfr(), 0.3f);
    run_ctrl_set_Kfr(0.7f);
    EXPECT_EQ(run_ctrl_get_Kfr(), 0.7f);
    run_ctrl_reset_Kfr();
    EXPECT_EQ(run_ctrl_get_Kfr(), 0.0f);
}

// Starts a move with the run-control thread and waits (bounded) until its end
// flag reads 1; false when it never did.
bool move_to_its_end(float speed, float dist) {
    testing::internal::CaptureStdout();
    run_ctrl_set(RUN_STRAIGHT, speed);
    run_ctrl_set_dist(dist);
    run_ctrl_create();
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        ended = run_ctrl_get_endflag() == 1;
        usleep(10000);
    }
    testing::internal::GetCapturedStdout();
    return ended;
}

TEST_F(RunCtrlSet, EndFlagAndTargetLifecycle) {
    EXPECT_EQ(run_ctrl_get_endflag(), 0);
    // cancel with no thread at all is harmless
    run_ctrl_cancel();
    EXPECT_EQ(run_ctrl_get_endflag(), 0);

    // A target behind a forward move: it ends in its first period. Unsetting
    // the target keeps the raised flag; setting one clears it.
    ASSERT_TRUE(move_to_its_end(20, -5));
    run_ctrl_unset_dist();
    EXPECT_EQ(run_ctrl_get_endflag(), 1);
    run_ctrl_set_dist(30);
    EXPECT_EQ(run_ctrl_get_endflag(), 0);

    // Cancel clears it after an ended move.
    ASSERT_TRUE(move_to_its_end(20, -5));
    run_ctrl_cancel();
    EXPECT_EQ(run_ctrl_get_endflag(), 0);

    // A move without a target never ends; create clears the flag the last
    // move left, and a cancel during the move leaves its references in force.
    ASSERT_TRUE(move_to_its_end(20, -5));
    testing::internal::CaptureStdout();
    run_ctrl_set(RUN_STRAIGHT, 20);
    run_ctrl_unset_dist();
    run_ctrl_create();
    usleep(60000);
    EXPECT_EQ(run_ctrl_get_endflag(), 0);
    run_ctrl_cancel();
    testing::internal::GetCapturedStdout();
    vel_ctrl_refs refs{};
    vel_ctrl_get_refs(&refs);
    EXPECT_EQ(refs.left_org, 20.0f);
    EXPECT_EQ(refs.right_org, 20.0f);
    EXPECT_EQ(refs.left, 20.0f);
    EXPECT_EQ(refs.right, 20.0f);
    run_ctrl_stop();
}

}  // namespace
