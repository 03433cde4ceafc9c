// benchtest itself against emulated device nodes: routine selection, the bytes
// the routines put on the motor device, and how each dialogue ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/emulated_devices.h"

namespace {

constexpr int RUN_LIMIT_MS = 15000;
const char* const END_LINE = "end of input: motors stopped, program ends\n";

bool ends_with_stop_frame(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 4) {
        return false;
    }
    for (std::size_t i = bytes.size() - 4; i < bytes.size(); ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void write_script(const std::string& path, const std::string& body) {
    std::ofstream out(path);
    out << "#!/bin/sh\n" << body << "\n";
    out.close();
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

// Device nodes for one program run: motor and I/O as FIFOs, the encoder as a
// raw pty holding canned replies (left, right as sent by the device), and a
// private working directory with stand-ins for ./drivehalt and scp.
class Bench : public ::testing::Test {
  protected:
    void SetUp() override {
        motor = emu_fifo_node(devices, "motor_dev");
        ASSERT_GE(motor, 0);
        io = emu_fifo_node(devices, "io_dev");
        ASSERT_GE(io, 0);
        encoder = emu_pty_node(devices, "encoder_dev", 2);
        ASSERT_GE(encoder.master, 0);
        write_script(work + "/drivehalt", "echo ran >> drivehalt.ran");
        write_script(work + "/scp", "echo \"$@\" >> scp.log");
    }
    void TearDown() override {
        emu_pty_close(&encoder);
        close(motor);
        close(io);
    }

    // Every period's reply: the given increments, left and device-right.
    void feed_encoder(int8_t left, int8_t device_right, int periods = 1000) {
        std::vector<uint8_t> replies;
        for (int i = 0; i < periods; ++i) {
            replies.push_back(static_cast<uint8_t>(left));
            replies.push_back(static_cast<uint8_t>(device_right));
        }
        ASSERT_TRUE(emu_write_bytes(encoder.master, replies, 2000));
    }

    emu_child start(const std::vector<std::string>& args, const std::string& input) {
        std::vector<std::string> argv{emu_bin_path("benchtest")};
        argv.insert(argv.end(), args.begin(), args.end());
        return emu_spawn_program(argv, input, work);
    }

    emu_child_result run(const std::vector<std::string>& args, const std::string& input) {
        emu_child child = start(args, input);
        return emu_child_finish(&child, RUN_LIMIT_MS);
    }

    // Waits for text, sends sig and collects the end of the run.
    emu_child_result interrupt_after(const std::vector<std::string>& args, const std::string& input,
                                     const std::string& text, int sig) {
        emu_child child = start(args, input);
        const bool seen = emu_child_wait_output(&child, text, 5000);
        EXPECT_TRUE(seen) << child.output;
        kill(child.pid, sig);
        return emu_child_finish(&child, RUN_LIMIT_MS);
    }

    std::vector<uint8_t> motor_bytes() { return emu_drain(motor, 100, 3000); }

    emu_device_dir devices;
    int motor = -1;
    int io = -1;
    emu_pty encoder;
    emu_temp_dir work_dir;
    const std::string work = work_dir.path;
    emu_path_first stand_ins{work};
};

TEST_F(Bench, HelpAndUnknownNamesOpenNoDevice) {
    emu_child_result r = run({"--help"}, "");
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    for (const char* name : {"run_ctrl", "motor", "pwm", "pwm_vel", "encoder", "distance",
                             "vel_ctrl", "uss", "direction", "number", "dir_num", "io", "comm"}) {
        EXPECT_NE(r.output.find(std::string("  ") + name + " "), std::string::npos) << name;
    }
    EXPECT_EQ(r.output.find("fd_"), std::string::npos);

    // The list goes to standard error; standard output stays silent.
    const std::string bin = emu_bin_path("benchtest");
    for (const std::string& args : {std::string("bogus"), std::string("pwm extra")}) {
        emu_child_result bad = emu_run_program(
            {"/bin/sh", "-c", "\"$0\" " + args + " 2>&1 >/dev/null", bin}, 5000, "");
        ASSERT_TRUE(WIFEXITED(bad.status)) << args;
        EXPECT_EQ(WEXITSTATUS(bad.status), 2) << args;
        EXPECT_NE(bad.output.find("usage: benchtest"), std::string::npos) << args;
        EXPECT_NE(bad.output.find("dir_num"), std::string::npos) << args;
        emu_child_result quiet = emu_run_program({bin, "bogus"}, 5000, "");
        EXPECT_EQ(quiet.output, "") << args;
    }
    EXPECT_TRUE(motor_bytes().empty());
}

class BenchSignal : public Bench, public ::testing::WithParamInterface<int> {};

TEST_P(BenchSignal, PwmFramesThenStopFrameLast) {
    emu_child_result r = interrupt_after({"pwm"}, "-30\n300\n",
                                         "    3 left_duty=  158  right_duty=   44\n", GetParam());
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.status;
    EXPECT_EQ(WTERMSIG(r.status), GetParam());
    EXPECT_NE(r.output.find("PWM value [left]= PWM value [right]=     1 left_duty=  158  "
                            "right_duty=   44\n    2 left_duty="),
              std::string::npos)
        << r.output;
    const std::vector<uint8_t> bytes = motor_bytes();
    ASSERT_TRUE(ends_with_stop_frame(bytes));
    // Each line is printed before its frame goes out, so the third line
    // vouches for two frames only: the signal may come between line and frame.
    ASSERT_GE(bytes.size(), 4u + 4u);
    ASSERT_EQ((bytes.size() - 4) % 2, 0u);
    for (std::size_t i = 0; i + 4 < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i], 158) << i;
        EXPECT_EQ(bytes[i + 1], 44) << i;
    }
    EXPECT_EQ(emu_read_file(work + "/test.data"), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, BenchSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST_F(Bench, InterruptedConsoleMoveLeavesStopFrameLast) {
    feed_encoder(0, 0);  // wheels that never turn: the move is still running
    emu_child child = start({}, "s\n20\n100\n");
    // The interrupt must come while the speed loop is commanding the wheels,
    // not merely after the console printed its first line: wait for a frame.
    std::vector<uint8_t> bytes = emu_read_bytes(motor, 4, 5000);
    EXPECT_EQ(bytes.size(), 4u) << "no frame before the interrupt";
    kill(child.pid, SIGINT);
    emu_child_result r = emu_child_finish(&child, RUN_LIMIT_MS);
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGINT);
    EXPECT_NE(r.output.find("run mode (s or r) = speed value [cm/s]= distance [cm]= straight mode "
                            "selected\n"),
              std::string::npos)
        << r.output;
    const std::vector<uint8_t> rest = motor_bytes();
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_TRUE(ends_with_stop_frame(bytes));
}

TEST_F(Bench, EndOfInputAtEveryPromptEndsCleanly) {
    struct {
        std::vector<std::string> args;
        const char* input;
        const char* last_prompt;
        int moves = 0;  // moves that ran to their target first
    } cases[] = {
        {{}, "", "run mode (s or r) = "},
        {{}, "s\n", "speed value [cm/s]= "},
        {{}, "s\n20\n", "distance [cm]= "},
        {{}, "r\n", "rataiton speed [deg/s]= "},
        {{}, "r\n30\n", "rataiton angle [deg]= "},
        {{"motor"}, "", "PWM value [left]= "},
        {{"motor"}, "5\n", "PWM value [right]= "},
        {{"pwm"}, "", "PWM value [left]= "},
        {{"pwm"}, "5\n", "PWM value [right]= "},
        {{"pwm_vel"}, "", "PWM value [left]= "},
        {{"pwm_vel"}, "5\n", "PWM value [right]= "},
        {{"vel_ctrl"}, "", "left speed value [cm/s]= "},
        {{"vel_ctrl"}, "5\n", "right speed value [cm/s]= "},
        {{"direction"}, "", "正体補正する距離[cm] = "},
        {{"number"}, "", "数字認識ボードまでの距離[cm] = "},
        {{"dir_num"}, "", "正体補正する距離[cm] = "},
        {{"comm"}, "", "input number 0-9:  "},
        // An empty line at the mode prompt repeats the move and drops nothing
        // more, so the next "s" is read as a mode: three moves, not five.
        // Last, as its wheels turn (0.39 cm a period) and leave replies over.
        {{}, "s\n20 3\n\ns\n20 3\n", "run mode (s or r) = ", 3},
    };
    for (const auto& c : cases) {
        const std::string what = (c.args.empty() ? "run_ctrl" : c.args[0]) + " <<" + c.input;
        if (c.moves > 0) {
            feed_encoder(10, -10);
        }
        emu_child_result r = run(c.args, c.input);
        ASSERT_FALSE(r.timed_out) << what;
        ASSERT_TRUE(WIFEXITED(r.status)) << what;
        EXPECT_EQ(WEXITSTATUS(r.status), 0) << what;
        const std::string tail = std::string(c.last_prompt) + "\n" + END_LINE;
        ASSERT_GE(r.output.size(), tail.size()) << what;
        EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail) << what;
        EXPECT_EQ(emu_count_of(r.output, "sum_diff_l_r="), static_cast<std::size_t>(c.moves))
            << what << r.output;
        EXPECT_TRUE(ends_with_stop_frame(motor_bytes())) << what;
    }
}

TEST_F(Bench, ConsoleDoesNotRepeatAMoveWhenInputEnds) {
    feed_encoder(10, -10);  // both wheels forward, 0.39 cm a period
    emu_child_result r = run({}, "s\n20\n5\n");
    ASSERT_FALSE(r.timed_out) << r.output;
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_EQ(emu_count_of(r.output, "straight mode selected\n"), 1u) << r.output;
    EXPECT_EQ(emu_count_of(r.output, "sum_diff_l_r="), 1u) << r.output;
    EXPECT_EQ(emu_count_of(r.output, "run mode (s or r) = "), 2u) << r.output;
    EXPECT_GE(emu_count_of(r.output, "speed_l="), 1u);
    const std::string tail = std::string("run mode (s or r) = \n") + END_LINE;
    EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail);
    EXPECT_TRUE(ends_with_stop_frame(motor_bytes()));
}

TEST_F(Bench, FirstLetterNeitherSNorRRunsWithoutATargetUntilInterrupted) {
    feed_encoder(10, -10);  // both wheels forward: a target would be passed
    emu_child child = start({}, "x\n");
    const bool running = emu_child_wait_count(&child, "speed_l=", 40, 10000);
    kill(child.pid, SIGINT);
    emu_child_result r = emu_child_finish(&child, RUN_LIMIT_MS);
    EXPECT_TRUE(running) << r.output;
    ASSERT_FALSE(r.timed_out);
    // No target: the end flag never rises, so no imbalance line and no second
    // prompt, only status lines until the interrupt.
    EXPECT_EQ(emu_count_of(r.output, "run mode (s or r) = "), 1u) << r.output;
    EXPECT_EQ(emu_count_of(r.output, "sum_diff_l_r="), 0u) << r.output;
    EXPECT_EQ(r.output.find("mode selected"), std::string::npos) << r.output;
    EXPECT_TRUE(ends_with_stop_frame(motor_bytes()));
}

TEST_F(Bench, UnreadableNumberStopsWithFailureStatus) {
    feed_encoder(0, 0);
    emu_child_result r = run({}, "s\nfast\n");
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 1);
    EXPECT_NE(r.output.find("speed value [cm/s]= \nnot a number: motors stopped, program ends\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("straight mode selected"), std::string::npos);
    EXPECT_TRUE(ends_with_stop_frame(motor_bytes()));
}

TEST_F(Bench, VelCtrlRunPrintsItsSamplesHaltsAndSummarizes) {
    // Wheels that never turn: a reference low enough that its command stays
    // soft for the whole run (20 cm/s would be a stalled wheel, and stopped).
    feed_encoder(0, 0);
    emu_child_result r = run({"vel_ctrl"}, "0.5\n0.5\n");
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_EQ(emu_count_of(r.output, "left_speed="), 201u);
    EXPECT_NE(r.output.find("left_speed=  0.0     right speed=  0.0     dis_left=  0.0    "
                            "dis_right=  0.0\n"),
              std::string::npos);
    const std::string stats =
        "mean_left=  0.0    mean_right=  0.0  var_left=  0.0 var_right=  0.0 \n";
    ASSERT_GE(r.output.size(), stats.size());
    EXPECT_EQ(r.output.substr(r.output.size() - stats.size()), stats);
    EXPECT_LT(r.output.rfind("left_speed="), r.output.find("mean_left="));
    EXPECT_EQ(emu_read_file(work + "/drivehalt.ran"), "ran\n");
    EXPECT_EQ(emu_read_file(work + "/test.data"), "");
    // The speed loop runs on after the test; the program still ends on a stop.
    EXPECT_TRUE(ends_with_stop_frame(motor_bytes()));
}

TEST_F(Bench, EncoderAndDistanceLines) {
    feed_encoder(3, -5);
    emu_child_result r =
        interrupt_after({"encoder"}, "", "left=    3    right=    5   left_sum=", SIGINT);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_NE(r.output.find("enc_left \t enc_right \t  enc_left_sum \t enc_right_sum\n"),
              std::string::npos);
    EXPECT_NE(r.output.find("left=    3    right=    5   left_sum="), std::string::npos)
        << r.output;
    EXPECT_EQ(emu_read_file(work + "/test.data"), "");

    emu_child_result d = interrupt_after({"distance"}, "", "distance_l=", SIGINT);
    ASSERT_TRUE(WIFSIGNALED(d.status));
    EXPECT_NE(d.output.find("    distance_l="), std::string::npos) << d.output;
}

TEST_F(Bench, PwmVelFramesAndSpeeds) {
    feed_encoder(10, 3);  // the device's right count is negated: -3
    emu_child_result r = interrupt_after({"pwm_vel"}, "-20\n30\n", "vel_l=   19[cm/s]", SIGINT);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_NE(r.output.find("vel_l=   19[cm/s], vel_r=   -5[cm/s]\n"), std::string::npos)
        << r.output;
    const std::vector<uint8_t> bytes = motor_bytes();
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes[0], 148);
    EXPECT_EQ(bytes[1], 30);
    EXPECT_TRUE(ends_with_stop_frame(bytes));
}

TEST_F(Bench, IoShowsOnlyDeliveredInputs) {
    ASSERT_TRUE(emu_write_bytes(io, {'1', '0', '1', '1', '0'}, 1000));
    emu_child_result r = interrupt_after({"io"}, "", "I/O[12] = ", SIGINT);
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_NE(r.output.find("I/O[1] = 1\nI/O[2] = 0\nI/O[3] = 1\nI/O[4] = 1\nI/O[5] = 0\n"
                            "I/O[6] = ?\nI/O[7] = ?\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("I/O[12] = ?\n\n"), std::string::npos);
}

TEST_F(Bench, CommSendsTheNumberAndFetchesInfo) {
    emu_child_result r = run({"comm"}, "42\n");
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_EQ(emu_read_file(work + "/number1602.data"), "42\n");
    const std::string host = std::string("tavi@") + TAVI_HOST_IP + ":tavion/";
    EXPECT_EQ(emu_read_file(work + "/scp.log"),
              "number1602.data " + host + "\n" + host + "info.data ./\n");
    EXPECT_EQ(emu_count_of(r.output, "input number 0-9:  "), 2u);
}

}  // namespace
