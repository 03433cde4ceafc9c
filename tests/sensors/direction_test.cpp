// The wall alignment against scripted ranges and a recording run controller.
// This executable links direction.cpp with the stand-ins below and the shared
// run controller recorder instead of the drive library, so every move, pause
// and message can be checked exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "drive/pause.h"
#include "drive/run_ctrl.h"
#include "sensors/direction.h"
#include "sensors/uss.h"
#include "tests/support/emulated_devices.h"
#include "tests/support/run_ctrl_recorder.h"

namespace {

struct recorder : run_ctrl_record {
    std::deque<int> ranges;  // answers of uss_get, in order of the calls
};
recorder rec;
// Scripted as a range: the board kept silent, so uss_get made its "20 cm"
// out of two bytes that never came.
constexpr int SILENT = -1000;
bool answered = true;

void log_event(const std::string& text) {
    rec.events.push_back(text);
}

}  // namespace

int uss_get(int channel) {
    log_event("uss" + std::to_string(channel));
    if (rec.ranges.empty()) {
        ADD_FAILURE() << "more range queries than scripted";
        return USS_NO_ECHO;
    }
    int range = rec.ranges.front();
    rec.ranges.pop_front();
    answered = range != SILENT;
    return answered ? range : 20;
}

bool uss_last_answered() {
    return answered;
}

void pause_us(long us) {
    log_event("sleep" + std::to_string(us));
}

namespace {

using events = std::vector<std::string>;

events operator+(events a, const events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One pair of range queries with the board's pauses.
const events measurement = {"uss1", "sleep50000", "uss2", "sleep50000"};
// A move whose end flag is seen on the first poll.
const events quick_move = {"set", "dist", "create", "flag"};
const events wrap_up = {"stop", "reset_Kfr"};
// After closing in: end the move, let the robot settle, restart the odometry.
const events settle = {"cancel", "sleep1000000", "reset"};
const events odometry_reset = {"reset"};
const events pause_between_tries = {"sleep100000"};

class DirectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rec = recorder{};
        run_ctrl_recorder_use(&rec);
    }

    int run(int ref_dist, std::vector<int> ranges) {
        rec.ranges.assign(ranges.begin(), ranges.end());
        int result = 0;
        output = emu_capture_stdout([&] { result = direction_correct(ref_dist); });
        EXPECT_TRUE(rec.ranges.empty()) << rec.ranges.size() << " scripted ranges left unread";
        return result;
    }

    std::string output;
};

TEST_F(DirectionTest, ClosesInBackwardThenSquares) {
    EXPECT_EQ(run(50, {45, 48, 50, 50}), 1);
    EXPECT_EQ(output,
              "Direction Correction Start !!1\n"
              "距離補正スタート\n"
              "ref_dist=50     cur_dist = 46\n"
              "正体補正スタート\n"
              "uss_l=50   uss_r= 50\n");
    EXPECT_EQ(rec.events, measurement + quick_move + settle + measurement + wrap_up);
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_EQ(rec.moves[0].mode, RUN_STRAIGHT);
    EXPECT_FLOAT_EQ(rec.moves[0].speed, -30);
    EXPECT_FLOAT_EQ(rec.moves[0].target, -4);
}

TEST_F(DirectionTest, ClosesInForwardWhenTooFar) {
    EXPECT_EQ(run(50, {70, 73, 50, 51}), 1);
    EXPECT_NE(output.find("ref_dist=50     cur_dist = 71\n"), std::string::npos) << output;
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_FLOAT_EQ(rec.moves[0].speed, 30);
    EXPECT_FLOAT_EQ(rec.moves[0].target, 21);
}

TEST_F(DirectionTest, AtTheDistanceAlreadyStillBacksOffSlightly) {
    // A difference of 0 takes the backward branch with a target of 0.
    EXPECT_EQ(run(50, {50, 50, 50, 50}), 1);
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_FLOAT_EQ(rec.moves[0].speed, -30);
    EXPECT_FLOAT_EQ(rec.moves[0].target, 0);
}

TEST_F(DirectionTest, CurrentDistanceUsesOnlyValidReadings) {
    struct row {
        int left, right, cur;
    };
    // Valid means 31..79; the mean drops its fraction.
    const row rows[] = {
        {45, 48, 46}, {45, 99999, 45}, {99999, 60, 60}, {30, 50, 50}, {50, 80, 50},
        {31, 79, 55}, {31, 20, 31},    {85, 79, 79},    {47, 46, 46},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.left) + "/" + std::to_string(r.right));
        SetUp();
        EXPECT_EQ(run(40, {r.left, r.right, 60, 60}), 1);
        std::string line = "ref_dist=40     cur_dist = " + std::to_string(r.cur) + "\n";
        EXPECT_NE(output.find(line), std::string::npos) << output;
        ASSERT_EQ(rec.moves.size(), 1u);
        EXPECT_FLOAT_EQ(rec.moves[0].target, static_cast<float>(r.cur - 40));
    }
}

TEST_F(DirectionTest, NoValidDistanceGivesUpWithoutMoving) {
    const std::vector<int> pairs[] = {{20, 85}, {30, 80}, {99999, 99999}, {-1, 0}};
    for (const auto& pair : pairs) {
        SCOPED_TRACE(std::to_string(pair[0]) + "/" + std::to_string(pair[1]));
        SetUp();
        EXPECT_EQ(run(50, pair), -1);
        EXPECT_EQ(output,
                  "Direction Correction Start !!1\n"
                  "距離補正スタート\n"
                  "ref_dist=50     cur_dist = 999\n"
                  "can't get distance using USS\n");
        // Nothing moved, and the squaring phase's clean-up is not part of this path.
        EXPECT_EQ(rec.events, measurement);
    }
}

TEST_F(DirectionTest, ZeroDistanceOnlySquares) {
    EXPECT_EQ(run(0, {50, 51}), 1);
    EXPECT_EQ(output,
              "Direction Correction Start !!1\n"
              "正体補正スタート\n"
              "uss_l=50   uss_r= 51\n");
    EXPECT_EQ(rec.events, odometry_reset + measurement + wrap_up);
}

TEST_F(DirectionTest, WithinOneCentimetreIsSquare) {
    for (int right : {49, 50, 51}) {
        SetUp();
        EXPECT_EQ(run(0, {50, right}), 1) << right;
        EXPECT_TRUE(rec.moves.empty()) << right;
    }
}

TEST_F(DirectionTest, LargeDifferenceIsClampedToTen) {
    EXPECT_EQ(run(0, {60, 45, 50, 50}), 1);
    EXPECT_NE(output.find("uss_l=60   uss_r= 45\ndiff_uss=10      ref_angle=  41.7\n"),
              std::string::npos)
        << output;
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_EQ(rec.moves[0].mode, RUN_ROTATE);
    EXPECT_FLOAT_EQ(rec.moves[0].speed, 10);
    EXPECT_NEAR(rec.moves[0].target, 41.67, 0.01);
    EXPECT_EQ(rec.events, odometry_reset + measurement + quick_move + pause_between_tries +
                              measurement + wrap_up);
}

TEST_F(DirectionTest, TurnsLeftWhenTheRightSideIsFarther) {
    EXPECT_EQ(run(0, {45, 60, 50, 50}), 1);
    EXPECT_NE(output.find("diff_uss=-10      ref_angle= -41.7\n"), std::string::npos) << output;
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_FLOAT_EQ(rec.moves[0].speed, -10);
    EXPECT_NEAR(rec.moves[0].target, -41.67, 0.01);
}

TEST_F(DirectionTest, AngleGrowsAboutFourDegreesPerCentimetre) {
    struct row {
        int left, right;
        double angle;
        const char* line;
    };
    const row rows[] = {
        {52, 50, 8.33, "diff_uss=2      ref_angle=   8.3\n"},
        {50, 53, -12.50, "diff_uss=-3      ref_angle= -12.5\n"},
        {57, 50, 29.17, "diff_uss=7      ref_angle=  29.2\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.line);
        SetUp();
        EXPECT_EQ(run(0, {r.left, r.right, 50, 50}), 1);
        ASSERT_EQ(rec.moves.size(), 1u);
        EXPECT_NEAR(rec.moves[0].target, r.angle, 0.01);
        EXPECT_FLOAT_EQ(rec.moves[0].speed, r.angle > 0 ? 10 : -10);
        EXPECT_NE(output.find(r.line), std::string::npos) << output;
    }
}

TEST_F(DirectionTest, MissingEchoTurnsAwayFromTheSilentSide) {
    EXPECT_EQ(run(0, {USS_NO_ECHO, 50, 50, 50}), 1);
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_NEAR(rec.moves[0].target, 41.67, 0.01);

    SetUp();
    EXPECT_EQ(run(0, {50, USS_NO_ECHO, 50, 50}), 1);
    ASSERT_EQ(rec.moves.size(), 1u);
    EXPECT_NEAR(rec.moves[0].target, -41.67, 0.01);
}

TEST_F(DirectionTest, NoEchoOnEitherSideIsNotSquare) {
    EXPECT_EQ(run(0, {USS_NO_ECHO, USS_NO_ECHO}), -1);
    EXPECT_EQ(output,
              "Direction Correction Start !!1\n"
              "正体補正スタート\n"
              "uss_l=99999   uss_r= 99999\n");
    EXPECT_EQ(rec.events, odometry_reset + measurement + wrap_up);

    // Lost after a first turn: the turn stays, the result is a failure.
    SetUp();
    EXPECT_EQ(run(0, {60, 45, USS_NO_ECHO, USS_NO_ECHO}), -1);
    EXPECT_EQ(rec.moves.size(), 1u);

    // A board that never answers gives equal made-up ranges: not square either.
    SetUp();
    EXPECT_EQ(run(0, {SILENT, SILENT}), -1);
    EXPECT_NE(output.find("uss_l=99999   uss_r= 99999\n"), std::string::npos) << output;
    EXPECT_TRUE(rec.moves.empty());
}

TEST_F(DirectionTest, GivesUpAfterElevenRotations) {
    std::vector<int> ranges;
    for (int i = 0; i < 11; ++i) {
        ranges.push_back(55);
        ranges.push_back(50);
    }
    EXPECT_EQ(run(0, ranges), -1);

    events expected = {"reset"};
    for (int i = 0; i < 11; ++i) {
        expected = expected + measurement + quick_move;
        if (i < 10) {
            expected.push_back("sleep100000");
        }
    }
    EXPECT_EQ(rec.events, expected + wrap_up);
    EXPECT_EQ(rec.moves.size(), 11u);
    size_t lines = 0;
    for (size_t at = output.find("uss_l="); at != std::string::npos;
         at = output.find("uss_l=", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 11u);
}

TEST_F(DirectionTest, PollsTheEndFlagEveryTwentyMilliseconds) {
    rec.polls_before_end = 3;
    EXPECT_EQ(run(60, {70, 70, 60, 60}), 1);
    const events slow_move = {"set",  "dist",       "create", "flag",       "sleep20000",
                              "flag", "sleep20000", "flag",   "sleep20000", "flag"};
    EXPECT_EQ(rec.events, measurement + slow_move + settle + measurement + wrap_up);
}

TEST_F(DirectionTest, KeepsTheLatestAngleAcrossTries) {
    // Two corrections of different size: each rotation gets its own angle.
    EXPECT_EQ(run(0, {60, 45, 52, 50, 50, 50}), 1);
    ASSERT_EQ(rec.moves.size(), 2u);
    EXPECT_NEAR(rec.moves[0].target, 41.67, 0.01);
    EXPECT_NEAR(rec.moves[1].target, 8.33, 0.01);
}

}  // namespace
