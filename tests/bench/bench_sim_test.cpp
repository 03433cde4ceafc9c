// benchtest in the simulated robot: scripted dialogues, the transcript they
// leave and where the simulated robot ends up (summary.txt of each run).
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

constexpr int SIM_LIMIT_MS = 60000;

// Expects each piece in order, each after the end of the one before.
void expect_in_order(const std::string& text, const std::vector<std::string>& pieces) {
    std::size_t at = 0;
    for (const std::string& p : pieces) {
        const std::size_t found = text.find(p, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << p << "\n" << text;
        at = found + p.size();
    }
}

double heading_error(double heading, double expected) {
    double e = std::fmod(heading - expected, 360.0);
    if (e > 180.0) {
        e -= 360.0;
    } else if (e < -180.0) {
        e += 360.0;
    }
    return std::fabs(e);
}

// One simulated run of benchtest.
class BenchSim : public ::testing::Test {
  protected:
    sim_result run(const std::vector<std::string>& sim_args,
                   const std::vector<std::string>& command, const std::string& input) {
        start(sim_args, command, input);
        return sim.finish(SIM_LIMIT_MS);
    }
    void start(const std::vector<std::string>& sim_args, const std::vector<std::string>& command,
               const std::string& input) {
        std::vector<std::string> argv{"benchtest"};
        argv.insert(argv.end(), command.begin(), command.end());
        sim.start(sim_args, argv, input);
    }

    sim_run sim;
};

// Speed and distance on one line, as the console's reads take them.
const char* const CONSOLE_INPUT = "s\n20 100\nr\n30\n90\nx\n";

TEST_F(BenchSim, DriveConsoleTranscriptAndFinalPose) {
    const sim_result r = run(sim_world("open"), {}, CONSOLE_INPUT);
    ASSERT_FALSE(r.timed_out) << r.output;
    EXPECT_EQ(r.exit_code, 0);
    const std::string prompt = "run mode (s or r) = ";
    expect_in_order(r.output,
                    {"fd_encoder=",
                     "fd_motor=",
                     "fd_uss=",
                     "fd_io=",
                     "olicy = ",
                     "thread_id=",
                     "plicy = ",
                     "Velocity Control thread created!     thread_id=",
                     prompt,
                     "speed value [cm/s]= distance [cm]= straight mode selected\n",
                     "plicy = ",
                     "speed_l=",
                     "sum_diff_l_r=",
                     prompt,
                     "rataiton speed [deg/s]= rataiton angle [deg]= rotae mode selected\n",
                     "plicy = ",
                     "speed_l=",
                     "sum_diff_l_r=",
                     prompt,
                     "plicy = ",
                     "speed_l=",
                     "sum_diff_l_r=",
                     prompt + "\nend of input: motors stopped, program ends\n"});
    EXPECT_EQ(emu_count_of(r.output, "sum_diff_l_r="), 3u);
    EXPECT_EQ(emu_count_of(r.output, prompt), 4u);
    // 100 cm east, then two right turns of 90 degrees on the spot.
    sim_expect_stopped(r);
    EXPECT_NEAR(r.number("x"), 100.0, 1.0);
    EXPECT_NEAR(r.number("y"), 0.0, 1.0);
    EXPECT_LE(heading_error(r.number("heading"), -180.0), 2.0) << r.value("heading");
}

// The robot's board may have a single core. Held on one core, with the
// simulated hardware on another as the robot's own never shares the
// program's processor, a straight run ends where it does on two: where the
// drive's workers used to free-run, the scheduler's order on one core tipped
// the balance correction into a full-command swing (a 300 cm run ended 60 cm
// from its start).
TEST_F(BenchSim, StraightRunOnOneCoreEndsWhereItShould) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::vector<std::string> cpus;
    for (int c = 0; c < CPU_SETSIZE && cpus.size() < 2; ++c) {
        if (CPU_ISSET(c, &allowed)) {
            cpus.push_back(std::to_string(c));
        }
    }
    if (cpus.size() < 2) {
        GTEST_SKIP() << "one core here: the program and the simulator cannot each have their own";
    }
    if (sim_under_emulator()) {
        GTEST_SKIP() << "under the user-mode emulator a core's timing is the translator's, not a "
                        "board's";
    }
#ifdef __SANITIZE_THREAD__
    // Seen in the gate: the instrumented simulator, held on one core, stalled
    // 300 ms near the end of the move (its summary: sim_physics_dropped_ms=280),
    // and the drive rightly stopped on a silent encoder.
    GTEST_SKIP() << "under ThreadSanitizer the simulator held on one core cannot keep real time; "
                    "the one-core run is checked in the plain and ASan builds";
#endif
    // The simulator inherits this process's core; the program is moved to the other.
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(std::stoi(cpus[0]), &first);
    ASSERT_EQ(sched_setaffinity(0, sizeof first, &first), 0);
    sim.start(sim_world("open"), {"taskset", "-c", cpus[1], "benchtest"}, "s\n10\n300\n");
    ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
    const sim_result r = sim.finish(SIM_LIMIT_MS);
    ASSERT_FALSE(r.timed_out) << r.output;
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(r.output.find("drive fault"), std::string::npos) << r.output;
    sim_expect_stopped(r);
    EXPECT_NEAR(r.number("x"), 300.0, 1.5);
    EXPECT_NEAR(r.number("y"), 0.0, 1.5);
    EXPECT_LE(heading_error(r.number("heading"), 0.0), 2.0) << r.value("heading");
    // A swing drives the wheels against each other: the path grows long.
    EXPECT_LT(r.number("distance_travelled"), 302.0);
    // The report's count, where it ran (not in the i386 root).
    const std::string figures = emu_read_file(r.dir + "/figures.txt");
    if (!figures.empty()) {
        EXPECT_NE(figures.find("\nswings=0\n"), std::string::npos) << figures;
    }
}

TEST_F(BenchSim, InterruptMidMoveLeavesTheRobotStopped) {
    start(sim_world("open"), {}, "s\n20\n300\n");
    ASSERT_TRUE(emu_child_wait_output(&sim.child, "dis_left=", 20000)) << sim.child.output;
    // Well into the move, wheels at speed.
    ASSERT_TRUE(emu_child_wait_output(&sim.child, "dis_left=  10.", 20000)) << sim.child.output;
    kill(sim.child.pid, SIGINT);
    const sim_result r = sim.finish(SIM_LIMIT_MS);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 128 + SIGINT);
    sim_expect_stopped(r);
    EXPECT_LT(r.number("distance_travelled"), 100.0);
}

TEST_F(BenchSim, VelCtrlRunHaltsAndAveragesNearTheReference) {
    const sim_result r = run(sim_world("open"), {"vel_ctrl"}, "20\n20\n");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(emu_count_of(r.output, "left_speed="), 201u);
    // drivehalt's own line comes between the samples and the statistics.
    expect_in_order(r.output, {"left_speed=", "Program stopped\n", "mean_left="});
    const std::size_t at = r.output.find("mean_left=");
    ASSERT_NE(at, std::string::npos);
    float mean_l = 0, mean_r = 0, var_l = 0, var_r = 0;
    ASSERT_EQ(
        sscanf(r.output.c_str() + at, "mean_left=%f    mean_right=%f  var_left=%f var_right=%f",
               &mean_l, &mean_r, &var_l, &var_r),
        4);
    EXPECT_NEAR(mean_l, 20.0, 1.5);
    EXPECT_NEAR(mean_r, 20.0, 1.5);
    sim_expect_stopped(r);
}

TEST_F(BenchSim, UssShowsTheWorldsRanges) {
    start(sim_world("wall_bay"), {"uss"}, "");
    // Two complete lines, a second apart; bounded by the total wait.
    for (int waited = 0; emu_count_of(sim.child.output, "    \n") < 2 && waited < 20000;
         waited += 100) {
        emu_child_wait_output(&sim.child, "\n\n", 100);
    }
    ASSERT_GE(emu_count_of(sim.child.output, "    \n"), 2u) << sim.child.output;
    kill(sim.child.pid, SIGTERM);
    const sim_result r = sim.finish(SIM_LIMIT_MS);
    ASSERT_FALSE(r.timed_out);
    // The robot never moves, so the ranges seen now are those of every query.
    const int ch1 = static_cast<int>(r.number("uss1_reading")) + 20;
    const int ch2 = static_cast<int>(r.number("uss2_reading")) + 20;
    char line[64];
    snprintf(line, sizeof line, "uss[1]=%3d    uss[2]=%3d    \n", ch1, ch2);
    EXPECT_GE(emu_count_of(r.output, line), 2u) << r.output;
    EXPECT_NE(r.output.find("Test_USS thread created!  \nuss[1]="), std::string::npos);
}

TEST_F(BenchSim, DirectionAlignsInTheBay) {
    const sim_result r = run(sim_world("wall_bay"), {"direction"}, "50\n");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.output.find("正体補正する距離[cm] = "), std::string::npos);
    EXPECT_NE(r.output.find("正体補正 成功！Program stopped\n"), std::string::npos) << r.output;
    EXPECT_LE(heading_error(r.number("heading"), 0.0), 5.0);
    sim_expect_stopped(r);
}

TEST_F(BenchSim, DirNumReadsTheBoardsDigit) {
    const sim_result r = run(sim_world("wall_bay"), {"dir_num"}, "50\n");
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_NE(r.output.find("正体補正 成功！"), std::string::npos) << r.output;
    // Aligned at 50 cm, read at 46: the reading's window is the one for 46 cm.
    EXPECT_NE(r.output.find("width_min=39, width_max=89, height_min=71, height_max=159\n"
                            "トリミングエリアとして抽出されたエリアの数 = "),
              std::string::npos)
        << r.output;
    EXPECT_EQ(emu_count_of(r.output, "width_min="), 1u) << r.output;
    EXPECT_NE(r.output.find("数字=" + r.value("board_ahead_digits") + "\nProgram stopped\n"),
              std::string::npos)
        << r.output;
}

// Open floor with a two-digit board 54 cm ahead of the camera.
const std::vector<std::string> TWO_DIGIT_BOARD = {"--set", "board 70 0 180 42"};

TEST_F(BenchSim, NumberReadsBothDigitsFirstTime) {
    std::vector<std::string> args = sim_world("open");
    args.insert(args.end(), TWO_DIGIT_BOARD.begin(), TWO_DIGIT_BOARD.end());
    const sim_result r = run(args, {"number"}, "54\n");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    const std::string digits = r.value("board_ahead_digits");
    ASSERT_EQ(digits.size(), 2u);
    const std::string attempt = std::string("1 回目：左数字=") + digits[0] +
                                "、右数字=" + digits[1] +
                                "\n画像認識完了しました\nメインwhileの終了\n";
    EXPECT_NE(r.output.find("数字認識テストプログラムスタート！\n数字認識ボードまでの距離[cm] = "),
              std::string::npos);
    EXPECT_NE(r.output.find(attempt), std::string::npos) << r.output;
    EXPECT_EQ(emu_count_of(r.output, "回目："), 1u);
}

TEST_F(BenchSim, NumberGivesUpAfterTenFailedCaptures) {
    std::vector<std::string> args = sim_world("open", "capture_fail");
    args.insert(args.end(), TWO_DIGIT_BOARD.begin(), TWO_DIGIT_BOARD.end());
    const sim_result r = run(args, {"number"}, "54\n");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    for (int n = 1; n <= 10; ++n) {
        EXPECT_NE(r.output.find(std::to_string(n) + " 回目：左数字=-1、右数字=-1\n"),
                  std::string::npos)
            << n;
    }
    EXPECT_EQ(emu_count_of(r.output, "回目："), 10u);
    EXPECT_NE(r.output.find("10 回目：左数字=-1、右数字=-1\n数字認識に10回失敗しました。\n"),
              std::string::npos)
        << r.output;
}

TEST_F(BenchSim, CommSendsAndFetchesThroughTheHost) {
    ASSERT_EQ(mkdir((sim.dir + "/host").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((sim.dir + "/host/tavion").c_str(), 0755), 0);
    {
        std::ofstream info(sim.dir + "/host/tavion/info.data");
        info << "route 3\n";
    }
    const sim_result r = run(sim_world("open"), {"comm"}, "42\n");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(emu_read_file(r.dir + "/number1602.data"), "42\n");
    EXPECT_EQ(emu_read_file(r.dir + "/host/tavion/number1602.data"), "42\n");
    EXPECT_EQ(emu_read_file(r.dir + "/info.data"), "route 3\n");
}

TEST_F(BenchSim, IoShowsTheWorldsInputs) {
    const std::string inputs = "101100111000";
    std::vector<std::string> args = sim_world("open");
    args.insert(args.end(), {"--io", inputs});
    start(args, {"io"}, "");
    ASSERT_TRUE(emu_child_wait_output(&sim.child, "I/O[12] = ", 20000)) << sim.child.output;
    ASSERT_TRUE(emu_child_wait_output(&sim.child, "\n\n", 5000)) << sim.child.output;
    kill(sim.child.pid, SIGTERM);
    const sim_result r = sim.finish(SIM_LIMIT_MS);
    std::string expected;
    for (int i = 0; i < 12; ++i) {
        expected += "I/O[" + std::to_string(i + 1) + "] = " + inputs[i] + "\n";
    }
    EXPECT_NE(r.output.find(expected + "\n"), std::string::npos) << r.output;
}

}  // namespace
