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
#include <utility>
#include <vector>

#include "tests/sim/sim_process.h"
#include "tests/support/emulated_devices.h"

namespace {

// scripts/sim with its standard error merged into the output. The paths go
// as arguments, never inside the command text, so a checkout whose path holds
// blanks or quotes runs the same.
std::vector<std::string> launcher_argv(const std::string& run_dir,
                                       const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/bin/sh",
                                  "-c",
                                  "export TAVI_BUILD_DIR=\"$0\"; exec \"$@\" 2>&1",
                                  TAVI_BUILD_DIR,
                                  TAVI_ROOT "/scripts/sim",
                                  "--run-dir",
                                  run_dir};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

emu_child_result launch(const std::string& run_dir, const std::vector<std::string>& args,
                        int timeout_ms) {
    return emu_run_program(launcher_argv(run_dir, args), timeout_ms);
}

bool alive(pid_t pid) {
    return kill(pid, 0) == 0;
}

struct LauncherTest : ::testing::Test {
    std::string dir = sim_temp_dir() + "/run";
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir.substr(0, dir.rfind('/')) + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "cleanup failed";
    }
    std::map<std::string, std::string> summary() { return sim_read_summary(dir + "/summary.txt"); }
};

TEST_F(LauncherTest, RunsTheCommandInTheRunDirAndPassesItsStatus) {
    auto r = launch(dir,
                    {"--", "sh", "-c",
                     "test -e \"$TAVI_DEVICE_DIR/motor_dev\" && test -d img && "
                     "test -d \"$TAVI_SIM_HOST_DIR\" && test -S \"$TAVI_SIM_SOCKET\" && "
                     "test -x ./drivehalt && pwd && exit 7"},
                    30000);
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 7) << r.output;
    EXPECT_NE(r.output.find(dir + "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("run dir: " + dir + "\n"), std::string::npos) << r.output;
    struct stat st {};
    EXPECT_EQ(stat((dir + "/map.png").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 0);
    // The node links are gone with the simulator.
    EXPECT_NE(access((dir + "/dev/motor_dev").c_str(), F_OK), 0);
    EXPECT_EQ(summary()["motor_frames"], "0");
}

TEST_F(LauncherTest, KilledCommandLeavesNothingRunning) {
    const char* way = getenv("TAVI_I386_WAY");
    if (way != nullptr && std::string(way) == "emulator") {
        GTEST_SKIP() << "qemu-i386 refuses PR_SET_CHILD_SUBREAPER (EINVAL), so under the emulator "
                        "the simulator cannot adopt the command's orphans; holds natively";
    }
    auto r = launch(dir, {"--", "sh", "-c", "sleep 60 & echo $! > left.pid; kill -9 $$"}, 30000);
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 128 + SIGKILL);
    std::ifstream in(dir + "/left.pid");
    pid_t left = 0;
    ASSERT_TRUE(in >> left);
    EXPECT_FALSE(alive(left)) << "the command's child " << left << " survived";
    EXPECT_NE(access((dir + "/sim.sock").c_str(), F_OK), 0);
}

TEST_F(LauncherTest, TerminatedLauncherEndsCommandAndWritesSummary) {
    emu_child c = emu_spawn_program(
        launcher_argv(dir, {"--", "sh", "-c", "echo $$ > cmd.pid; exec sleep 60"}));
    ASSERT_TRUE(
        emu_wait_until([&] { return access((dir + "/cmd.pid").c_str(), F_OK) == 0; }, 20000));
    pid_t command = 0;
    emu_wait_until(
        [&] {
            std::ifstream in(dir + "/cmd.pid");
            return static_cast<bool>(in >> command);
        },
        5000);
    kill(c.pid, SIGTERM);
    emu_child_result r = emu_child_finish(&c, 20000);
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 128 + SIGTERM);
    ASSERT_GT(command, 0);
    EXPECT_FALSE(alive(command));
    EXPECT_FALSE(summary().empty());
}

TEST_F(LauncherTest, DrivehaltStopFrameIsTheLastFrame) {
    // Arguments change nothing: the same one frame, line and status.
    const std::vector<std::string> no_args = {"--", "./drivehalt"};
    const std::vector<std::string> some_args = {"--", "./drivehalt", "--help",
                                                "-x", "two words",   "9"};
    const std::pair<std::string, std::vector<std::string>> runs[] = {{dir, no_args},
                                                                     {dir + "-args", some_args}};
    for (const auto& [run_dir, args] : runs) {
        SCOPED_TRACE(args.size());
        auto r = launch(run_dir, args, 30000);
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(WEXITSTATUS(r.status), 0);
        const std::size_t line = r.output.find("Program stopped\n");
        EXPECT_NE(line, std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Program stopped", line + 1), std::string::npos) << r.output;
        auto s = sim_read_summary(run_dir + "/summary.txt");
        EXPECT_EQ(s["last_motor_frame"], "00 00");
        EXPECT_EQ(s["last_motor_frame_len"], "2");
        EXPECT_EQ(s["motor_frames"], "1");
    }
}

TEST_F(LauncherTest, DriveModulesRunStraightAndTurnInTheSimulator) {
    auto r = launch(dir,
                    {"--world", TAVI_ROOT "/sim/worlds/open.world", "--", "tavi_drive_driver", "s",
                     "20", "100"},
                    60000);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.output;
    // The move ended by itself, through the run controller's own end: its
    // imbalance line once, then the driver's verdict.
    const std::size_t imbalance = r.output.find("sum_diff_l_r=");
    ASSERT_NE(imbalance, std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("sum_diff_l_r=", imbalance + 1), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("move ended\n", imbalance), std::string::npos) << r.output;
    auto s = summary();
    EXPECT_EQ(s["last_motor_frame"], "00 00 00 00");
    EXPECT_NEAR(std::stod(s["x"]), 100.0, 1.0) << r.output;
    EXPECT_NEAR(std::stod(s["y"]), 0.0, 1.0);
    EXPECT_EQ(s["at_rest"], "1");
    EXPECT_EQ(s["motor_left"], "0");
    EXPECT_EQ(s["motor_right"], "0");
    struct stat st {};
    EXPECT_EQ(stat((dir + "/map.png").c_str(), &st), 0);

    // A right turn of 90 degrees is clockwise: -90 in world headings.
    std::string turn_dir = dir + "-turn";
    auto t = launch(turn_dir, {"--", "tavi_drive_driver", "r", "30", "90"}, 60000);
    ASSERT_TRUE(WIFEXITED(t.status));
    EXPECT_EQ(WEXITSTATUS(t.status), 0) << t.output;
    auto ts = sim_read_summary(turn_dir + "/summary.txt");
    EXPECT_NEAR(std::stod(ts["heading_turned"]), -90.0, 2.0) << t.output;
    EXPECT_NEAR(std::stod(ts["x"]), 0.0, 1.0);
    EXPECT_NEAR(std::stod(ts["y"]), 0.0, 1.0);
}

}  // namespace
