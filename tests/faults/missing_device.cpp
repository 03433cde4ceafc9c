// A device node missing: the program says which, refuses what it cannot do
// safely, and leaves the wheels stopped (or never commands them at all when
// the motor node is the one missing).
#include <signal.h>

#include "tests/faults/fault_run.h"

namespace faults {
namespace {

struct device_row {
    const char* name;
    const char* node;     // taken away before the program starts
    const char* program;  // as the operator starts it
    std::vector<std::string> world;
    std::string input;               // standard input, then end of file
    std::vector<std::string> lines;  // whole terminal lines, in this order
    int status;
    motors wheels;
    stop_with stop{};        // for a program that would go on for ever
    bool long_legs = false;  // drives the demonstration's 80 cm/s legs first
};

void PrintTo(const device_row& r, std::ostream* os) {
    *os << r.name;
}

const char* const not_started = "patrol not started: a device did not open";

// Without odometry the speed loop would read zero speed for ever and push the
// wheels to full command, so nothing that closes it starts.
// clang-format off
const device_row rows[] = {
    {"NoEncoderConsole", "encoder_dev", "benchtest", world("open"), "s\n20\n30\n",
     {"fd_encoder=-1", "encoder_dev can't open !!!", "run_ctrl not started: encoder_dev did not open"},
     1, motors::stopped},
    {"NoEncoderDirection", "encoder_dev", "benchtest direction", world("wall_bay"), "50\n",
     {"fd_encoder=-1", "encoder_dev can't open !!!", "direction not started: encoder_dev did not open"},
     1, motors::stopped},
    {"NoEncoderDemo", "encoder_dev", "tavi_demo", world("demo"), "",
     {"fd_encoder=-1", "encoder_dev can't open !!!", not_started}, 1, motors::stopped},
    {"NoEncoderRoute", "encoder_dev", "tavion_patrol", world("patrol_a"), "",
     {"fd_encoder=-1", "encoder_dev can't open !!!", not_started}, 1, motors::stopped},
    {"NoMotorConsole", "motor_dev", "benchtest", world("open"), "s\n20\n30\n",
     {"fd_motor=-1", "motor_dev can't open !!!",
      "speed_l=  0.0   speed_r=  0.0     dis_left=   0.0    dis_right=   0.0"},
     128 + SIGINT, motors::never_commanded, {SIGINT, "speed_l=", 3}},
    {"NoMotorDemo", "motor_dev", "tavi_demo", world("demo"), "",
     {"fd_motor=-1", "motor_dev can't open !!!", not_started}, 1, motors::never_commanded},
    {"NoMotorRoute", "motor_dev", "tavion_patrol", world("patrol_a"), "",
     {"fd_motor=-1", "motor_dev can't open !!!", not_started}, 1, motors::never_commanded},
    {"NoMotorDrivehalt", "motor_dev", "./drivehalt", world("open"), "",
     {"Program stopped"}, 0, motors::never_commanded},
    {"NoIoBench", "io_dev", "benchtest io", world("open"), "",
     {"fd_io=-1", "io device can't open !!!", "I/O[1] = ?", "I/O[12] = ?"},
     128 + SIGTERM, motors::stopped, {SIGTERM, "I/O[12] = ", 2}},
    {"NoIoDemo", "io_dev", "tavi_demo", world("demo"), "",
     {"sequence_num=4     style=0      value=0   ", "Direction Correction Start !!1",
      "左数字={board_ahead_digits}、右数字=-1"},
     0, motors::stopped, {}, true},
    {"NoSerialUss", "ttyS0", "benchtest uss", world("wall_bay"), "",
     {"fd_uss=-1", "uss_dev can't open !!!", "Test_USS thread created!  "}, 255, motors::stopped},
    {"NoSerialDirection", "ttyS0", "benchtest direction", world("wall_bay"), "50\n",
     {"fd_uss=-1", "uss_dev can't open !!!",
      "正体補正する距離[cm] = Direction Correction Start !!1", "距離補正スタート"},
     255, motors::stopped},
    {"NoSerialDemo", "ttyS0", "tavi_demo", world("demo"), "",
     {"fd_uss=-1", "uss_dev can't open !!!", not_started}, 1, motors::stopped},
};
// clang-format on

class MissingDevice : public FaultRun, public ::testing::WithParamInterface<device_row> {};

TEST_P(MissingDevice, ProgramSaysSoAndLeavesTheWheelsStopped) {
    const device_row& r = GetParam();
    if (r.long_legs && under_tsan) {
        GTEST_SKIP() << long_legs_skip;
    }
    const int timeout_ms = r.long_legs ? 60000 : 30000;
    const std::string node = r.node;
    emu_child child =
        start(r.world, "rm \"$TAVI_DEVICE_DIR/" + node + "\" && " + exec_of(r.program), r.input);
    stop_when_printed(&child, r.stop, timeout_ms);
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(&child, timeout_ms, &o));

    EXPECT_EQ(o.status, r.status) << o.output;
    std::vector<std::string> seen;
    ASSERT_NO_FATAL_FAILURE(expect_lines(o, r.lines, &seen));
    expect_wheels(o, r.wheels);
    record(node + " missing", r.program, seen, o, r.wheels);
}

INSTANTIATE_TEST_SUITE_P(Faults, MissingDevice, ::testing::ValuesIn(rows), row_name<device_row>);

}  // namespace
}  // namespace faults
