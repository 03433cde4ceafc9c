// The wall alignment end to end: the alignment driver runs under the
// simulator, and the simulated robot's final pose and ranges are checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/emulated_devices.h"

namespace {

using summary = std::map<std::string, std::string>;

summary read_summary(const std::string& path) {
    summary values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

double number(const summary& s, const char* key) {
    auto it = s.find(key);
    if (it == s.end()) {
        ADD_FAILURE() << "summary has no " << key;
        return -1e9;
    }
    char* end = nullptr;
    double v = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str()) {
        ADD_FAILURE() << key << "=" << it->second << " is not a number";
        return -1e9;
    }
    return v;
}

struct sim_run {
    emu_child_result result;
    summary values;
    std::string dir;
};

// A passing run's directory is of no further use; a failing one is kept as evidence.
void keep_dir_if_failed(const sim_run& run) {
    if (!::testing::Test::HasFailure()) {
        std::error_code ignored;
        std::filesystem::remove_all(run.dir, ignored);
    }
}

// One simulated run of the alignment driver; extra are options for the simulator.
sim_run run_alignment(const std::string& name, const std::vector<std::string>& sim_options,
                      int ref_dist) {
    setenv("TAVI_BUILD_DIR", TAVI_BUILD_DIR, 1);
    std::string run_dir = std::string(TAVI_BUILD_DIR) + "/runs/" + name + "-" +
                          std::to_string(static_cast<long>(getpid()));
    std::vector<std::string> argv = {std::string(TAVI_ROOT) + "/scripts/sim", "--run-dir", run_dir};
    argv.insert(argv.end(), sim_options.begin(), sim_options.end());
    argv.push_back("--");
    argv.push_back(emu_bin_path("align_driver"));
    argv.push_back(std::to_string(ref_dist));
    sim_run run;
    run.result = emu_run_program(argv, 100000);
    run.values = read_summary(run_dir + "/summary.txt");
    run.dir = run_dir;
    return run;
}

const std::string bay = std::string(TAVI_ROOT) + "/sim/worlds/wall_bay.world";
const std::string open_floor = std::string(TAVI_ROOT) + "/sim/worlds/open.world";

TEST(AlignEndToEnd, SquaresUpAtFiftyCentimetres) {
    sim_run run = run_alignment("align-bay", {"--world", bay}, 50);
    ASSERT_FALSE(run.result.timed_out) << run.result.output;
    ASSERT_TRUE(WIFEXITED(run.result.status)) << run.result.output;
    EXPECT_EQ(WEXITSTATUS(run.result.status), 0) << run.result.output;
    EXPECT_NE(run.result.output.find("direction_correct=1\n"), std::string::npos)
        << run.result.output;

    double left = number(run.values, "uss1_range");
    double right = number(run.values, "uss2_range");
    EXPECT_NEAR((left + right) / 2, 50, 2) << "ranges " << left << " / " << right;
    EXPECT_NEAR(left, right, 1);
    EXPECT_GT(number(run.values, "distance_travelled"), 5);  // it closed in
    // Left standing, with a stop frame as the last word to the motors.
    EXPECT_EQ(number(run.values, "motor_left"), 0);
    EXPECT_EQ(number(run.values, "motor_right"), 0);
    EXPECT_EQ(number(run.values, "blocked_ever"), 0);
    keep_dir_if_failed(run);
}

TEST(AlignEndToEnd, NoUsableRangeGivesUpWithoutMoving) {
    // Nothing within reach of the sensors, and a wall in reach but a silent board.
    const std::vector<std::string> cases[] = {
        {"--world", open_floor},
        {"--world", bay, "--fault", "uss_silent"},
    };
    for (const auto& options : cases) {
        SCOPED_TRACE(options.back());
        sim_run run = run_alignment("align-none", options, 50);
        ASSERT_FALSE(run.result.timed_out) << run.result.output;
        ASSERT_TRUE(WIFEXITED(run.result.status)) << run.result.output;
        EXPECT_NE(run.result.output.find("ref_dist=50     cur_dist = 999\n"
                                         "can't get distance using USS\n"
                                         "direction_correct=-1\n"),
                  std::string::npos)
            << run.result.output;
        EXPECT_LT(number(run.values, "distance_travelled"), 0.1);
        EXPECT_NEAR(number(run.values, "heading_turned"), 0, 0.1);
        EXPECT_EQ(number(run.values, "motor_left"), 0);
        EXPECT_EQ(number(run.values, "motor_right"), 0);
        keep_dir_if_failed(run);
    }
}

}  // namespace
