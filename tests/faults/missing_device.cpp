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
    std::string input{};             // standard input, then end of file
    stop_with stop{};                // for a program that would go on for ever
    std::vector<std::string> lines;  // whole terminal lines, in this order
    int status;
    motors wheels;
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
    {.name = "NoEncoderConsole", .node = "encoder_dev", .program = "benchtest", .world = sim_world("open"),
     .input = "s\n20\n30\n",
     .lines = {"fd_encoder=-1", "encoder_dev can't open !!!", "run_ctrl not started: encoder_dev did not open"},
     .status = 1, .wheels = motors::stopped},
    {.name = "NoEncoderDirection", .node = "encoder_dev", .program = "benchtest direction",
     .world = sim_world("wall_bay"), .input = "50\n",
     .lines = {"fd_encoder=-1", "encoder_dev can't open !!!", "direction not started: encoder_dev did not open"},
     .status = 1, .wheels = motors::stopped},
    {.name = "NoEncoderDemo", .node = "encoder_dev", .program = "tavi_demo", .world = sim_world("demo"),
     .lines = {"fd_encoder=-1", "encoder_dev can't open !!!", not_started}, .status = 1, .wheels = motors::stopped},
    {.name = "NoEncoderRoute", .node = "encoder_dev", .program = "tavion_patrol", .world = sim_world("patrol_a"),
     .lines = {"fd_encoder=-1", "encoder_dev can't open !!!", not_started}, .status = 1, .wheels = motors::stopped},
    {.name = "NoMotorConsole", .node = "motor_dev", .program = "benchtest", .world = sim_world("open"),
     .input = "s\n20\n30\n", .stop = {.sig = SIGINT, .after = "speed_l=", .count = 3},
     .lines = {"fd_motor=-1", "motor_dev can't open !!!",
               "speed_l=  0.0   speed_r=  0.0     dis_left=   0.0    dis_right=   0.0"},
     .status = 128 + SIGINT, .wheels = motors::never_commanded},
    {.name = "NoMotorDemo", .node = "motor_dev", .program = "tavi_demo", .world = sim_world("demo"),
     .lines = {"fd_motor=-1", "motor_dev can't open !!!", not_started}, .status = 1, .wheels = motors::never_commanded},
    {.name = "NoMotorRoute", .node = "motor_dev", .program = "tavion_patrol", .world = sim_world("patrol_a"),
     .lines = {"fd_motor=-1", "motor_dev can't open !!!", not_started}, .status = 1, .wheels = motors::never_commanded},
    {.name = "NoMotorDrivehalt", .node = "motor_dev", .program = "./drivehalt", .world = sim_world("open"),
     .lines = {"Program stopped"}, .status = 0, .wheels = motors::never_commanded},
    {.name = "NoIoBench", .node = "io_dev", .program = "benchtest io", .world = sim_world("open"),
     .stop = {.sig = SIGTERM, .after = "I/O[12] = ", .count = 2},
     .lines = {"fd_io=-1", "io device can't open !!!", "I/O[1] = ?", "I/O[12] = ?"},
     .status = 128 + SIGTERM, .wheels = motors::stopped},
    {.name = "NoIoDemo", .node = "io_dev", .program = "tavi_demo", .world = sim_world("demo"),
     .lines = {"sequence_num=4     style=0      value=0   ", "Direction Correction Start !!1",
               "左数字={board_ahead_digits}、右数字=-1"},
     .status = 0, .wheels = motors::stopped, .long_legs = true},
    {.name = "NoSerialUss", .node = "ttyS0", .program = "benchtest uss", .world = sim_world("wall_bay"),
     .lines = {"fd_uss=-1", "uss_dev can't open !!!", "Test_USS thread created!  "},
     .status = 255, .wheels = motors::stopped},
    {.name = "NoSerialDirection", .node = "ttyS0", .program = "benchtest direction", .world = sim_world("wall_bay"),
     .input = "50\n",
     .lines = {"fd_uss=-1", "uss_dev can't open !!!", "正体補正する距離[cm] = Direction Correction Start !!1",
               "距離補正スタート"},
     .status = 255, .wheels = motors::stopped},
    {.name = "NoSerialDemo", .node = "ttyS0", .program = "tavi_demo", .world = sim_world("demo"),
     .lines = {"fd_uss=-1", "uss_dev can't open !!!", not_started}, .status = 1, .wheels = motors::stopped},
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
    start(r.world, "rm \"$TAVI_DEVICE_DIR/" + node + "\" && " + exec_of(r.program), r.input);
    stop_when_printed(r.stop, timeout_ms);
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(timeout_ms, &o));

    EXPECT_EQ(o.exit_code, r.status) << o.output;
    std::vector<std::string> seen;
    ASSERT_NO_FATAL_FAILURE(expect_lines(o, r.lines, &seen));
    expect_wheels(o, r.wheels);
    record(node + " missing", r.program, seen, o, r.wheels);
}

INSTANTIATE_TEST_SUITE_P(Faults, MissingDevice, ::testing::ValuesIn(rows), row_name<device_row>);

}  // namespace
}  // namespace faults
