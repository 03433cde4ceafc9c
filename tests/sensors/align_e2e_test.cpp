// The wall alignment end to end: the alignment driver runs under the
// simulator, and the simulated robot's final pose and ranges are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

// One simulated run of the alignment driver; sim_args are the simulator's.
sim_result run_alignment(const std::vector<std::string>& sim_args, int ref_dist) {
    return sim_run().run(sim_args, {emu_bin_path("align_driver"), std::to_string(ref_dist)}, "",
                         100000);
}

TEST(AlignEndToEnd, SquaresUpAtFiftyCentimetres) {
    const sim_result run = run_alignment(sim_world("wall_bay"), 50);
    ASSERT_FALSE(run.timed_out) << run.output;
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("direction_correct=1\n"), std::string::npos) << run.output;

    const double left = run.number("uss1_range");
    const double right = run.number("uss2_range");
    EXPECT_NEAR((left + right) / 2, 50, 2) << "ranges " << left << " / " << right;
    EXPECT_NEAR(left, right, 1);
    EXPECT_GT(run.number("distance_travelled"), 5);  // it closed in
    // Left standing, with a stop frame as the last word to the motors.
    sim_expect_stopped(run);
    EXPECT_EQ(run.number("blocked_ever"), 0);
}

TEST(AlignEndToEnd, NoUsableRangeGivesUpWithoutMoving) {
    // Nothing within reach of the sensors, and a wall in reach but a silent board.
    for (const auto& options : {sim_world("open"), sim_world("wall_bay", "uss_silent")}) {
        SCOPED_TRACE(options.back());
        const sim_result run = run_alignment(options, 50);
        ASSERT_FALSE(run.timed_out) << run.output;
        ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
        EXPECT_NE(run.output.find("ref_dist=50     cur_dist = 999\n"
                                  "can't get distance using USS\n"
                                  "direction_correct=-1\n"),
                  std::string::npos)
            << run.output;
        EXPECT_LT(run.number("distance_travelled"), 0.1);
        EXPECT_NEAR(run.number("heading_turned"), 0, 0.1);
        sim_expect_stopped(run);
    }
}

}  // namespace
