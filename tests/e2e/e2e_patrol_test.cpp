// Both patrols end to end: the unchanged mission programs drive the simulated
// robot through their courses; the transcript, the simulator's summary and the
// course's own boards are checked against each other.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

struct course_board {
    std::string digits;
    bool removable;
};

// The boards of a world, in file order.
std::vector<course_board> boards_of(const char* world) {
    std::vector<course_board> boards;
    std::ifstream in(sim_world(world)[1]);  // the file that follows --world
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string kind, x, y, facing, digits;
        if (words >> kind >> x >> y >> facing >> digits && kind == "board") {
            boards.push_back({digits, line.find("remove_after_captures") != std::string::npos});
        }
    }
    return boards;
}

struct patrol_run : sim_result {
    // The transcript cut at each "sequence_num=" line: step n's own line first,
    // then everything up to the next step's line.
    std::vector<std::vector<std::string>> steps;
};

patrol_run with_steps(const sim_result& r) {
    patrol_run run{r, {}};
    std::istringstream text(r.output);
    std::string line;
    while (std::getline(text, line)) {
        if (line.rfind("sequence_num=", 0) == 0) {
            run.steps.emplace_back();
        }
        if (!run.steps.empty()) {
            run.steps.back().push_back(line);
        }
    }
    return run;
}

patrol_run run_patrol(const char* world, const std::string& program, int timeout_ms) {
    return with_steps(sim_run().run(sim_world(world), {program}, "", timeout_ms));
}

int count_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines) {
        n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

// Index of the first line starting with prefix, or -1.
int find_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const char* const align_line = "Direction Correction Start !!1";
const char* const reading_line = "左数字=";

// What every patrol must show: exit 0, the step lines of the shipped route,
// alignment and reading after the listed steps only (alignment first), the
// wheels stopped by a stop frame, nothing touched. Returns the reading lines.
std::vector<std::string> check_patrol(const patrol_run& run, int steps,
                                      const std::vector<int>& aligned,
                                      const std::vector<int>& read) {
    const std::string& out = run.output;
    EXPECT_FALSE(run.timed_out) << out;
    EXPECT_EQ(run.exit_code, 0) << out;
    EXPECT_EQ(run.steps.size(), static_cast<size_t>(steps)) << out;
    std::vector<std::string> readings;
    for (size_t i = 0; i < run.steps.size(); ++i) {
        const int seq = static_cast<int>(i) + 1;
        const auto& lines = run.steps[i];
        SCOPED_TRACE("step " + std::to_string(seq));
        const std::string value = seq == 1 ? "348" : seq == 2 ? "71" : seq == 3 ? "124" : "0";
        const std::string style = seq == 2 ? "2" : "0";
        EXPECT_EQ(lines[0], "sequence_num=" + std::to_string(seq) + "     style=" + style +
                                "      value=" + value + "   ");
        const bool aligns = std::find(aligned.begin(), aligned.end(), seq) != aligned.end();
        const bool reads = std::find(read.begin(), read.end(), seq) != read.end();
        EXPECT_EQ(count_prefix(lines, align_line), aligns ? 1 : 0);
        EXPECT_EQ(count_prefix(lines, reading_line), reads ? 1 : 0);
        if (aligns && reads) {
            EXPECT_LT(find_prefix(lines, align_line), find_prefix(lines, reading_line));
        }
        if (reads && find_prefix(lines, reading_line) >= 0) {
            readings.push_back(lines[find_prefix(lines, reading_line)]);
        }
    }
    sim_expect_stopped(run);
    EXPECT_EQ(run.value("at_rest"), "1");
    EXPECT_EQ(run.value("blocked_ever"), "0");
    return readings;
}

TEST(PatrolEndToEnd, DemonstrationReadsTheDigitOnTheFarWall) {
#ifdef __SANITIZE_THREAD__
    // Seen in CI: with every period stretched, the 80 cm/s first leg swung into
    // a wall and drove there until the time-out. The route patrol below runs
    // the same modules under ThreadSanitizer at its walking pace.
    GTEST_SKIP() << "under ThreadSanitizer the control periods run several times slower than on "
                    "the robot, and the demonstration's 80 cm/s legs can swing into a wall; the "
                    "demonstration is checked in the plain, ASan and i386 builds";
#endif
    const std::vector<course_board> boards = boards_of("demo");
    ASSERT_FALSE(boards.empty());
    const patrol_run run = run_patrol("demo", "tavi_demo", 60000);
    const std::vector<std::string> readings = check_patrol(run, 4, {4}, {4});
    // One digit a reading: the right-hand side carries the no-digit mark.
    EXPECT_EQ(readings, (std::vector<std::string>{"左数字=" + boards[0].digits + "、右数字=-1"}))
        << run.output;
    EXPECT_EQ(run.value("board_ahead_digits"), boards[0].digits);
}

TEST(PatrolEndToEnd, RoutePatrolChecksAtItsStepsAndReadsBothBoards) {
#ifdef __SANITIZE_THREAD__
    // Seen in the gate, alone as well: the instrumented simulator's physics
    // stalled 240 ms at the first board's capture (its summary:
    // sim_physics_dropped_ms=239), no exchange completed, and the drive
    // rightly stopped on a silent encoder at the next step.
    GTEST_SKIP() << "under ThreadSanitizer the simulator's capture can stall its physics and "
                    "device loop for a quarter of a second, which the drive rightly takes for a "
                    "silent encoder; the route patrol is checked in the plain, ASan and i386 "
                    "builds";
#endif
    const std::vector<course_board> boards = boards_of("patrol_a");
    ASSERT_EQ(boards.size(), 2u);
    ASSERT_TRUE(boards[0].removable);
    const patrol_run run = run_patrol("patrol_a", "tavion_patrol", 150000);
    const std::vector<std::string> readings = check_patrol(run, 10, {2, 6, 8}, {2, 8});
    ASSERT_EQ(readings.size(), 2u) << run.output;
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(readings[i]);
        const std::string& d = boards[i].digits;
        ASSERT_EQ(d.size(), 2u);
        const std::string& line = readings[i];
        const size_t left_at = line.find('=') + 1;
        const size_t comma = line.find("、");
        const size_t right_at = line.find('=', comma) + 1;
        ASSERT_NE(comma, std::string::npos);
        // Both digits of each checkpoint's board, read: a reader that reads
        // nothing (-1) fails here as surely as one that misreads.
        const std::string left = line.substr(left_at, comma - left_at);
        const std::string right = line.substr(right_at);
#ifdef __SANITIZE_THREAD__
        // Under ThreadSanitizer every control period runs several times slower
        // than on the robot, and a late period can set off the balance loop's
        // swing on the first straight; there a missed board (-1) is tolerated,
        // a wrong digit never.
        if (left == "-1" && right == "-1") {
            continue;
        }
#endif
        EXPECT_EQ(left, std::string(1, d[0]));
        EXPECT_EQ(right, std::string(1, d[1]));
    }
}

TEST(PatrolEndToEnd, CtrlCDuringTheFirstMoveLeavesAStopFrameLast) {
    // The route patrol's first move takes half a minute: an interrupt a moment
    // after it began finds the wheels driven.
    sim_run sim;
    sim.start(sim_world("patrol_a"), {"tavion_patrol"});
    ASSERT_TRUE(emu_child_wait_output(&sim.child, "sequence_num=1 ", 20000)) << sim.child.output;
    usleep(1000000);
    kill(sim.child.pid, SIGINT);
    const patrol_run run = with_steps(sim.finish(20000));
    ASSERT_FALSE(run.timed_out);
    // The launcher reports the mission's death by the signal.
    EXPECT_EQ(run.exit_code, 128 + SIGINT) << run.status;
    EXPECT_EQ(run.steps.size(), 1u) << run.output;
    sim_expect_stopped(run);
    EXPECT_GT(run.number("motor_frames"), 10);
}

}  // namespace
