// scripts/sim end to end: the run directory and environment, exit statuses,
// nothing left running, and the real drivehalt and drive modules moving the
// simulated robot.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

bool alive(pid_t pid) {
    return kill(pid, 0) == 0;
}

// scripts/sim with its standard error in the transcript.
struct launch : sim_run {
    launch() { merge_stderr = true; }
};

struct LauncherTest : ::testing::Test {
    launch run;
};

TEST_F(LauncherTest, RunsTheCommandInTheRunDirAndPassesItsStatus) {
    const sim_result r =
        run.run({},
                {"sh", "-c",
                 "test -e \"$TAVI_DEVICE_DIR/motor_dev\" && test -d img && "
                 "test -d \"$TAVI_SIM_HOST_DIR\" && test -S \"$TAVI_SIM_SOCKET\" && "
                 "test -x ./drivehalt && pwd && exit 7"},
                "", 30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 7) << r.output;
    EXPECT_NE(r.output.find(r.dir + "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("run dir: " + r.dir + "\n"), std::string::npos) << r.output;
    struct stat st {};
    EXPECT_EQ(stat((r.dir + "/map.png").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 0);
    // The node links are gone with the simulator.
    EXPECT_NE(access((r.dir + "/dev/motor_dev").c_str(), F_OK), 0);
    EXPECT_EQ(r.value("motor_frames"), "0");
}

TEST_F(LauncherTest, KilledCommandLeavesNothingRunning) {
    if (sim_under_emulator()) {
        GTEST_SKIP() << "qemu-i386 refuses PR_SET_CHILD_SUBREAPER (EINVAL), so under the emulator "
                        "the simulator cannot adopt the command's orphans; holds natively";
    }
    const sim_result r =
        run.run({}, {"sh", "-c", "sleep 60 & echo $! > left.pid; kill -9 $$"}, "", 30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 128 + SIGKILL);
    std::ifstream in(r.dir + "/left.pid");
    pid_t left = 0;
    ASSERT_TRUE(in >> left);
    EXPECT_FALSE(alive(left)) << "the command's child " << left << " survived";
    EXPECT_NE(access((r.dir + "/sim.sock").c_str(), F_OK), 0);
}

TEST_F(LauncherTest, TerminatedLauncherEndsCommandAndWritesSummary) {
    run.start({}, {"sh", "-c", "echo $$ > cmd.pid; exec sleep 60"});
    const std::string pid_file = run.dir + "/cmd.pid";
    ASSERT_TRUE(emu_wait_until([&] { return access(pid_file.c_str(), F_OK) == 0; }, 20000));
    pid_t command = 0;
    emu_wait_until(
        [&] {
            std::ifstream in(pid_file);
            return static_cast<bool>(in >> command);
        },
        5000);
    kill(run.child.pid, SIGTERM);
    const sim_result r = run.finish(20000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 128 + SIGTERM);
    ASSERT_GT(command, 0);
    EXPECT_FALSE(alive(command));
    EXPECT_FALSE(r.summary.empty());
}

TEST_F(LauncherTest, DrivehaltStopFrameIsTheLastFrame) {
    // Arguments change nothing: the same one frame, line and status.
    const std::vector<std::string> no_args = {"./drivehalt"};
    const std::vector<std::string> some_args = {"./drivehalt", "--help", "-x", "two words", "9"};
    for (const auto& args : {no_args, some_args}) {
        SCOPED_TRACE(args.size());
        const sim_result r = launch().run({}, args, "", 30000);
        EXPECT_EQ(r.exit_code, 0);
        const std::size_t line = r.output.find("Program stopped\n");
        EXPECT_NE(line, std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Program stopped", line + 1), std::string::npos) << r.output;
        EXPECT_EQ(r.value("last_motor_frame"), "00 00");
        EXPECT_EQ(r.value("last_motor_frame_len"), "2");
        EXPECT_EQ(r.value("motor_frames"), "1");
    }
}

TEST_F(LauncherTest, DriveModulesRunStraightAndTurnInTheSimulator) {
    const sim_result r =
        run.run(sim_world("open"), {"tavi_drive_driver", "s", "20", "100"}, "", 60000);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    // The move ended by itself, through the run controller's own end: its
    // imbalance line once, then the driver's verdict.
    const std::size_t imbalance = r.output.find("sum_diff_l_r=");
    ASSERT_NE(imbalance, std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("sum_diff_l_r=", imbalance + 1), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("move ended\n", imbalance), std::string::npos) << r.output;
    EXPECT_EQ(r.value("last_motor_frame"), "00 00 00 00");
    EXPECT_NEAR(r.number("x"), 100.0, 1.0) << r.output;
    EXPECT_NEAR(r.number("y"), 0.0, 1.0);
    EXPECT_EQ(r.value("at_rest"), "1");
    EXPECT_EQ(r.value("motor_left"), "0");
    EXPECT_EQ(r.value("motor_right"), "0");
    struct stat st {};
    EXPECT_EQ(stat((r.dir + "/map.png").c_str(), &st), 0);

    // A right turn of 90 degrees is clockwise: -90 in world headings.
    const sim_result t = launch().run({}, {"tavi_drive_driver", "r", "30", "90"}, "", 60000);
    EXPECT_EQ(t.exit_code, 0) << t.output;
    EXPECT_NEAR(t.number("heading_turned"), -90.0, 2.0) << t.output;
    EXPECT_NEAR(t.number("x"), 0.0, 1.0);
    EXPECT_NEAR(t.number("y"), 0.0, 1.0);
}

}  // namespace
