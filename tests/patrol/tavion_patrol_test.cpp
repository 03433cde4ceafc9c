// The route-table patrol (ten steps, slow) against the recording stand-ins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/run_ctrl.h"
#include "patrol/patrol.h"
#include "tests/patrol/patrol_fakes.h"
#include "tests/support/emulated_devices.h"

namespace {

using events = std::vector<std::string>;

class TavionPatrolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        patrol_fakes_reset();
        patrol_rec.readings = {{3, 7}, {5, 2}};
    }
    void run() {
        output = emu_capture_stdout([] { tavion_patrol(); });
    }

    std::string output;
};

TEST_F(TavionPatrolTest, PrintsTenStepsOfTheShippedRoute) {
    run();
    events expected = {
        "sequence_num=1     style=0      value=348   ",
        "sequence_num=2     style=2      value=71   ",
        "sequence_num=3     style=0      value=124   ",
    };
    for (int seq = 4; seq <= 10; ++seq) {
        expected.push_back("sequence_num=" + std::to_string(seq) + "     style=0      value=0   ");
    }
    EXPECT_EQ(patrol_lines(output, "sequence_num="), expected);
    EXPECT_EQ(patrol_lines(output, "左数字="),
              (events{"左数字=3、右数字=7", "左数字=5、右数字=2"}));
    // Nothing of its own beyond the step lines and the readings.
    EXPECT_EQ(patrol_lines(output, "").size(), expected.size() + 2) << output;
}

TEST_F(TavionPatrolTest, SpeedsFollowTheStyleOfEachRecord) {
    run();
    ASSERT_EQ(patrol_rec.moves.size(), 10u);
    // 348 cm forward; the arc keeps the straight speed before it; 124 cm forward.
    EXPECT_EQ(patrol_rec.moves[0].mode, RUN_STRAIGHT);
    EXPECT_FLOAT_EQ(patrol_rec.moves[0].speed, 10);
    EXPECT_FLOAT_EQ(patrol_rec.moves[0].target, 348);
    EXPECT_EQ(patrol_rec.moves[1].mode, RUN_ARC);
    EXPECT_FLOAT_EQ(patrol_rec.moves[1].speed, 10);
    EXPECT_FLOAT_EQ(patrol_rec.moves[1].target, 71);
    EXPECT_FLOAT_EQ(patrol_rec.moves[2].speed, 10);
    EXPECT_FLOAT_EQ(patrol_rec.moves[2].target, 124);
    // The zero records creep backward at minus the straight speed.
    for (size_t i = 3; i < patrol_rec.moves.size(); ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(patrol_rec.moves[i].mode, RUN_STRAIGHT);
        EXPECT_FLOAT_EQ(patrol_rec.moves[i].speed, -10);
        EXPECT_FLOAT_EQ(patrol_rec.moves[i].target, 0);
    }
}

TEST_F(TavionPatrolTest, ChecksOnlyAtTheListedStepsWithAlignmentFirst) {
    run();
    const events move = {"set", "dist", "create", "cancel"};
    const events step_pause = {"pause 1000000"};
    const events align = {"align 60"};
    const events read = {"detect 56", "get"};
    events expected = {"nums 2"};
    for (int seq = 1; seq <= 10; ++seq) {
        expected.insert(expected.end(), move.begin(), move.end());
        if (seq == 2 || seq == 6 || seq == 8) {
            expected.insert(expected.end(), align.begin(), align.end());
        }
        if (seq == 2 || seq == 8) {
            expected.insert(expected.end(), read.begin(), read.end());
        }
        if (seq < 10) {
            expected.insert(expected.end(), step_pause.begin(), step_pause.end());
        }
    }
    expected.push_back("stop");
    expected.push_back("pause 100000");
    EXPECT_EQ(patrol_actions(), expected);
}

TEST_F(TavionPatrolTest, WaitsForEachMoveBeforeCancellingIt) {
    patrol_rec.polls_before_end = 3;
    run();
    // Per move: three looks that see 0, each followed by a 20 ms wait, then the
    // look that sees the end, then the cancel.
    const events waiting = {"create", "flag",        "pause 20000", "flag",  "pause 20000",
                            "flag",   "pause 20000", "flag",        "cancel"};
    auto& ev = patrol_rec.events;
    int moves = 0;
    for (size_t i = 0; i + waiting.size() <= ev.size(); ++i) {
        if (events(ev.begin() + i, ev.begin() + i + waiting.size()) == waiting) {
            ++moves;
        }
    }
    EXPECT_EQ(moves, 10);
    EXPECT_EQ(patrol_count("flag"), 40);
}

}  // namespace
