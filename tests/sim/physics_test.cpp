// Physics, world parsing and the ultrasonic model, stepped without a clock.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "drive/calibration.h"
#include "sim/physics.h"
#include "sim/ultrasonic.h"
#include "sim/world.h"

namespace {

sim_world world_of(std::initializer_list<const char*> lines) {
    sim_world w;
    world_defaults(&w);
    std::string err;
    for (const char* l : lines)
        EXPECT_EQ(world_parse_line(&w, l, &err), 0) << l << ": " << err;
    return w;
}

// Runs the robot for `seconds` at 1 kHz under fixed command bytes.
sim_robot run(const sim_world& w, uint8_t left, uint8_t right, double seconds) {
    std::mt19937 rng(w.seed);
    sim_robot r = physics_start(w);
    int steps = static_cast<int>(seconds * 1000 + 0.5);
    for (int i = 0; i < steps; ++i)
        physics_step(w, nullptr, &r, physics_decode_byte(left), physics_decode_byte(right), 0.001,
                     &rng);
    return r;
}

TEST(MotorModel, SignAndMagnitudeAndDeadBand) {
    EXPECT_EQ(physics_decode_byte(0x00), 0);
    EXPECT_EQ(physics_decode_byte(0x80), 0);
    EXPECT_EQ(physics_decode_byte(127), 127);
    EXPECT_EQ(physics_decode_byte(157), -29);
    EXPECT_EQ(physics_decode_byte(255), -127);
    sim_world w = world_of({});
    auto speed = [&](int cmd, double deadband) {
        return physics_target_speed(cmd, deadband, w.motor_gain, w.motor_knee, w.motor_gain_high);
    };
    EXPECT_EQ(speed(28, 28), 0.0);
    EXPECT_NEAR(speed(29, 28), w.motor_gain, 1e-12);
    EXPECT_NEAR(speed(-(28 + 40), 28), -40 * w.motor_gain, 1e-9);
    // Beyond the knee the curve steepens, continuously.
    const int knee = static_cast<int>(w.motor_knee);
    EXPECT_NEAR(speed(18 + knee + 10, 18), w.motor_gain * knee + w.motor_gain_high * 10, 1e-9);
    EXPECT_NEAR(speed(18 + knee, 18), w.motor_gain * knee, 1e-9);
    // Full command exceeds 100 cm/s on both wheels.
    EXPECT_GT(speed(127, 28), 100.0);
    EXPECT_GT(speed(-127, 18), -150.0);
    EXPECT_LT(speed(-127, 18), -100.0);
}

TEST(Physics, ConstantCommandSettlesAtItsSpeedAndCountsMatch) {
    // A robot of round figures: half a cm per right count, a left count
    // worth 0.8 of that.
    sim_world w = world_of({"cm_per_count 0.5", "left_correction 0.8"});
    // Left 78 = 50 above its dead band, right 68 = 50 above its: 50 units
    // at the low gain.
    sim_robot r = run(w, 78, 68, 2.0);
    double v = 50 * w.motor_gain;
    EXPECT_NEAR(r.v_left, v, 0.01);
    EXPECT_NEAR(r.v_right, v, 0.01);
    // Travel = v * 2 s minus the lag's shortfall of v * tau.
    double expected = v * (2.0 - w.lag);
    EXPECT_NEAR(r.travel_right, expected, 0.5);
    EXPECT_NEAR(r.pose.x, expected, 0.5);
    EXPECT_NEAR(r.pose.y, 0.0, 1e-6);
    // Two counts a cm on the right, 2.5 on the left, whole counts only.
    EXPECT_NEAR(static_cast<double>(r.count_right), 2 * r.travel_right, 1.0);
    EXPECT_NEAR(static_cast<double>(r.count_left), 2.5 * r.travel_left, 1.0);
    EXPECT_GT(r.count_right, 100);
}

TEST(Physics, MeasuredCurveSetsTheWheelSpeeds) {
    // A table as the measuring script writes it: the left wheel starts late
    // and tops out at 60 cm/s, the right one is linear.
    sim_world w =
        world_of({"motor_curve left 0 0 30 0 50 10 90 40 127 60", "motor_curve right 0 0 127 127"});
    const sim_robot r = run(w, 70, 0x80 | 100, 2.0);
    EXPECT_NEAR(r.v_left, 25.0, 0.01);  // halfway between 10 at 50 and 40 at 90
    EXPECT_NEAR(r.v_right, -100.0, 0.01);
    EXPECT_NEAR(run(w, 20, 127, 2.0).v_left, 0.0, 1e-9);
    EXPECT_NEAR(run(w, 127, 127, 2.0).v_left, 60.0, 0.01);
    // The lag stays: one time constant in, 63 % of the way.
    EXPECT_NEAR(run(w, 127, 0, w.lag).v_left, 60.0 * (1 - std::exp(-1.0)), 0.1);
}

TEST(Physics, SpinAboutTheCentreKeepsTheCentreStill) {
    sim_world w = world_of({"start 10 20 0", "track 20"});
    // Left backwards, right forwards, same speed: counter-clockwise spin.
    sim_robot r = run(w, 0x80 | 58, 48, 1.0);  // 30 units each
    EXPECT_NEAR(r.pose.x, 10.0, 1e-6);
    EXPECT_NEAR(r.pose.y, 20.0, 1e-6);
    double turned = (r.travel_right - r.travel_left) / 20 * 180.0 / M_PI;
    EXPECT_NEAR(r.heading_turned, turned, 1e-6);
    EXPECT_GT(r.heading_turned, 45.0);
}

TEST(Physics, WallStopsTheRobotAndItsEncoders) {
    sim_world w = world_of({"wall 60 -100 60 100"});
    sim_robot r = run(w, 127, 127, 3.0);
    EXPECT_TRUE(r.blocked);
    EXPECT_TRUE(r.blocked_ever);
    EXPECT_LE(r.pose.x, 60.0 - kWorldBodyRadius + 1e-6);
    EXPECT_GT(r.pose.x, 60.0 - kWorldBodyRadius - 2.0);
    EXPECT_EQ(r.v_left, 0.0);
    double travel = r.travel_right;
    std::mt19937 rng(1);
    physics_step(w, nullptr, &r, 127, 127, 0.001, &rng);
    EXPECT_EQ(r.travel_right, travel);
    // Backing away is allowed.
    for (int i = 0; i < 200; ++i)
        physics_step(w, nullptr, &r, -127, -127, 0.001, &rng);
    EXPECT_FALSE(r.blocked);
    EXPECT_LT(r.pose.x, 60.0 - kWorldBodyRadius - 1.0);
}

TEST(Physics, HeldWheelStaysPutAndTheRobotPivotsAboutIt) {
    sim_world w = world_of({});
    std::mt19937 rng(w.seed);
    sim_robot r = physics_start(w);
    r.held_left = true;
    for (int i = 0; i < 1000; ++i)
        physics_step(w, nullptr, &r, 127, 68, 0.001, &rng);  // both commanded forward
    EXPECT_EQ(r.v_left, 0.0);
    EXPECT_EQ(r.travel_left, 0.0);
    EXPECT_GT(r.heading_turned, 30.0);  // counter-clockwise, about the left wheel
    // The left wheel's contact point, half the track to the left of the
    // centre, has not moved.
    const double h = r.heading_turned * M_PI / 180.0, half = w.track / 2;
    EXPECT_NEAR(r.pose.x - half * std::sin(h), 0.0, 1e-6);
    EXPECT_NEAR(r.pose.y + half * std::cos(h), half, 1e-6);
}

TEST(Physics, SeededNoiseRepeatsAndSlipShortensTheGroundTravel) {
    sim_world w = world_of({"noise 0.05", "slip 0.2", "seed 7"});
    sim_robot a = run(w, 78, 68, 1.0), b = run(w, 78, 68, 1.0);
    EXPECT_EQ(a.pose.x, b.pose.x);
    EXPECT_LT(a.distance, 0.95 * (a.travel_left + a.travel_right) / 2);
}

TEST(World, ParsesItemsAndRejectsMalformedLines) {
    sim_world w = world_of({"box 0 0 100 50", "board 50 49 -90 12 width 20 remove_after_captures 2",
                            "io 101010101010", "fault uss_late", "start 1 2 3  # comment",
                            "uss 3 -10 0 180"});
    EXPECT_EQ(w.walls.size(), 5u);
    ASSERT_EQ(w.boards.size(), 1u);
    EXPECT_EQ(w.boards[0].digits, "12");
    EXPECT_EQ(w.boards[0].remove_after, 2);
    EXPECT_EQ(std::string(w.io, 12), "101010101010");
    EXPECT_EQ(w.uss_late_ms, 70);
    EXPECT_EQ(w.start_heading, 3.0);
    EXPECT_TRUE(w.uss[2].fitted);
    std::string err;
    for (const char* bad : {"wall 1 2 3",
                            "board 0 0 0 123",
                            "board 0 0 0 1x",
                            "io 123",
                            "fault nothing",
                            "start 1 2 x",
                            "uss 5 0 0 0",
                            "slip 2",
                            "teleport",
                            "motor_curve left 0 0",
                            "motor_curve up 0 0 127 90",
                            "motor_curve right 0 0 50 20 40 30",
                            "motor_curve left 0 0 50 20 127",
                            "fault encoder_silent -1",
                            "fault encoder_silent x",
                            "fault encoder_dead both",
                            "fault encoder_dead left 1 2",
                            "fault wheel_blocked up 3",
                            "fault motor_reversed left 3",
                            "fault motor_reversed",
                            "fault encoder_split 3 29",
                            "fault encoder_split 29 30",
                            "track 0",
                            "cm_per_count -0.04",
                            "left_correction"}) {
        sim_world v;
        world_defaults(&v);
        EXPECT_EQ(world_parse_line(&v, bad, &err), -1) << bad;
    }
}

// Each fault line switches on its own row of the fault table, from its time
// on or from the start; a fault no line names is never due.
TEST(World, FaultTableSaysWhenEachFaultIsDue) {
    const struct {
        const char* line;
        sim_fault fault;
        double now;
        bool due;
    } rows[] = {
        {"io 000000000000", sim_fault::encoder_silent, 1e6, false},
        {"io 000000000000", sim_fault::capture_fail, 0, false},
        {"fault encoder_silent 2.5", sim_fault::encoder_silent, 2.49, false},
        {"fault encoder_silent 2.5", sim_fault::encoder_silent, 2.5, true},
        {"fault encoder_silent 2.5", sim_fault::encoder_dead_left, 1e6, false},
        {"fault encoder_silent 0", sim_fault::encoder_silent, 0, true},
        {"fault encoder_dead right", sim_fault::encoder_dead_right, 0, true},
        {"fault encoder_dead right", sim_fault::encoder_dead_left, 1e6, false},
        {"fault wheel_blocked both 3", sim_fault::wheel_blocked_left, 3, true},
        {"fault wheel_blocked both 3", sim_fault::wheel_blocked_right, 2.99, false},
        {"fault wheel_blocked both 3", sim_fault::wheel_blocked_right, 3, true},
        {"fault wheel_blocked left", sim_fault::wheel_blocked_right, 1e6, false},
        {"fault motor_reversed left", sim_fault::motor_reversed_left, 0, true},
        {"fault motor_reversed left", sim_fault::motor_reversed_right, 1e6, false},
        {"fault uss_no_echo 2", sim_fault::uss_no_echo_2, 0, true},
        {"fault uss_no_echo 2", sim_fault::uss_no_echo_1, 1e6, false},
        {"fault uss_silent", sim_fault::uss_silent, 0, true},
        {"fault uss_late 90", sim_fault::uss_late, 0, true},
        {"fault capture_fail", sim_fault::capture_fail, 0, true},
        {"fault capture_nofile", sim_fault::capture_nofile, 0, true},
        {"fault capture_truncated", sim_fault::capture_truncated, 0, true},
        {"fault capture_truncated", sim_fault::capture_nofile, 1e6, false},
        {"fault encoder_split 3 29 30", sim_fault::encoder_split, 2.99, false},
        {"fault encoder_split 3 29 30", sim_fault::encoder_split, 3, true},
    };
    for (const auto& row : rows) {
        const sim_world w = world_of({row.line});
        EXPECT_EQ(world_fault_due(w, row.fault, row.now), row.due)
            << row.line << ", fault " << static_cast<int>(row.fault) << " at " << row.now << " s";
    }
}

// The simulated robot is, unless a world says otherwise, the one the program
// is calibrated for: a robot changed on one side alone fails here.
TEST(World, DefaultRobotIsTheOneTheProgramIsCalibratedFor) {
    const sim_world w = world_of({});
    const char* both = "sim/world.h and drive/calibration.h describe different robots";
    EXPECT_EQ(w.track, DRIVE_TRACK_CM) << both;
    EXPECT_EQ(static_cast<float>(w.cm_per_count), DRIVE_CM_PER_COUNT) << both;
    EXPECT_EQ(w.left_correction, DRIVE_LEFT_CORRECTION) << both;
}

TEST(Ultrasonic, FlatWallAheadAndItsLimits) {
    sim_world w = world_of({"wall 100 -100 100 100"});
    sim_pose square{0, 0, 0};
    sim_uss_sample s1 = ultrasonic_measure(w, nullptr, square, 1, 0);
    ASSERT_TRUE(s1.echo);
    EXPECT_NEAR(s1.range, 100.0 - 12.0, 1e-9);
    // Turned 10 degrees, the two sensors 11 cm apart differ by about 11 tan 10.
    sim_pose turned{0, 0, 10};
    sim_uss_sample l = ultrasonic_measure(w, nullptr, turned, 1, 0);
    sim_uss_sample r = ultrasonic_measure(w, nullptr, turned, 2, 0);
    ASSERT_TRUE(l.echo && r.echo);
    EXPECT_NEAR(l.range - r.range, 11.0 * std::tan(10 * M_PI / 180), 0.3);
    // The truth logged beside a reading: turned left of square is positive,
    // and the distance is the perpendicular one, whichever way the wall runs.
    for (const char* wall : {"wall 100 -100 100 100", "wall 100 100 100 -100"}) {
        double off = 0, perp = 0;
        ASSERT_TRUE(world_off_square(world_of({wall}), nullptr, 12, 0, 10, &off, &perp));
        EXPECT_NEAR(off, 10.0, 1e-9) << wall;
        EXPECT_NEAR(perp, 88.0, 1e-9) << wall;
    }
    // Grazing: no echo.
    EXPECT_FALSE(ultrasonic_measure(w, nullptr, sim_pose{0, 0, 70}, 1, 0).echo);
    // Beyond the maximum range: no echo.
    sim_world far = world_of({"wall 400 -100 400 100"});
    EXPECT_FALSE(ultrasonic_measure(far, nullptr, square, 1, 0).echo);
    // Unfitted channel, channel switched off.
    EXPECT_FALSE(ultrasonic_measure(w, nullptr, square, 3, 0).echo);
    EXPECT_FALSE(ultrasonic_measure(w, nullptr, square, 5, 0).echo);
    sim_world off = world_of({"wall 100 -100 100 100", "fault uss_no_echo 1"});
    EXPECT_FALSE(ultrasonic_measure(off, nullptr, square, 1, 0).echo);
    EXPECT_TRUE(ultrasonic_measure(off, nullptr, square, 2, 0).echo);
}

TEST(Ultrasonic, RemovedBoardIsNoLongerSeen) {
    sim_world w = world_of({"wall 100 -100 100 100", "board 60 0 180 4"});
    uint8_t present[kWorldMaxBoards] = {1};
    sim_pose p{0, 0, 0};
    EXPECT_NEAR(ultrasonic_measure(w, present, p, 1, 0).range, 48.0, 1e-9);
    double dist = 0;
    EXPECT_EQ(world_board_ahead(w, present, 16, 0, 0, &dist), 0);
    EXPECT_NEAR(dist, 44.0, 1e-9);
    present[0] = 0;
    EXPECT_NEAR(ultrasonic_measure(w, present, p, 1, 0).range, 88.0, 1e-9);
    EXPECT_EQ(world_board_ahead(w, present, 16, 0, 0, &dist), -1);
    // Seen from behind, a board is not "ahead".
    present[0] = 1;
    EXPECT_EQ(world_board_ahead(w, present, 80, 0, 180, &dist), -1);
}

}  // namespace
