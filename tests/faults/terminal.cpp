// The operator's terminal: input that ends at a prompt, an answer that is no
// number the routine can use, output held with Ctrl-S. The program ends by
// itself, says why, and leaves the wheels stopped; a robot that should not
// have moved got stop frames only.
#include "tests/faults/fault_run.h"

namespace faults {
namespace {

struct terminal_row {
    const char* name;
    const char* fault;    // as the table says it
    const char* program;  // as the table shows it
    std::string command;
    std::string input{};             // standard input, then end of file
    std::vector<std::string> lines;  // whole terminal lines, in this order
    int status;
    double travelled_cm = 0;  // where the robot ended, +-1.5 cm
};

void PrintTo(const terminal_row& r, std::ostream* os) {
    *os << r.name;
}

const char* const input_ended = "end of input: motors stopped, program ends";

terminal_row at_eof(const char* name, const char* program, const std::string& input,
                    const std::string& prompt_line, double travelled_cm = 0) {
    return {.name = name,
            .fault = "input ends at a prompt",
            .program = program,
            .command = exec_of(program),
            .input = input,
            .lines = {prompt_line, input_ended},
            .status = 0,
            .travelled_cm = travelled_cm};
}

terminal_row not_a_number(const char* name, const char* fault, const char* program,
                          const std::string& input, const std::string& prompt_line) {
    return {.name = name,
            .fault = fault,
            .program = program,
            .command = exec_of(program),
            .input = input,
            .lines = {prompt_line, "not a number: motors stopped, program ends"},
            .status = 1};
}

const terminal_row rows[] = {
    at_eof("EofModeConsole", "benchtest", "", "run mode (s or r) = "),
    at_eof("EofSpeedConsole", "benchtest", "s\n", "run mode (s or r) = speed value [cm/s]= "),
    at_eof("EofDistanceConsole", "benchtest", "s\n20\n",
           "run mode (s or r) = speed value [cm/s]= distance [cm]= "),
    at_eof("EofTurnSpeedConsole", "benchtest", "r\n",
           "run mode (s or r) = rataiton speed [deg/s]= "),
    at_eof("EofTurnAngleConsole", "benchtest", "r\n30\n",
           "run mode (s or r) = rataiton speed [deg/s]= rataiton angle [deg]= "),
    at_eof("EofNextModeConsole", "benchtest", "s\n20\n10\n", "run mode (s or r) = ", 10),
    at_eof("EofLeftMotor", "benchtest motor", "", "PWM value [left]= "),
    at_eof("EofRightMotor", "benchtest motor", "40\n", "PWM value [left]= PWM value [right]= "),
    at_eof("EofLeftPwm", "benchtest pwm", "", "PWM value [left]= "),
    at_eof("EofRightPwm", "benchtest pwm", "40\n", "PWM value [left]= PWM value [right]= "),
    at_eof("EofLeftPwmVel", "benchtest pwm_vel", "", "PWM value [left]= "),
    at_eof("EofRightPwmVel", "benchtest pwm_vel", "40\n", "PWM value [left]= PWM value [right]= "),
    at_eof("EofLeftVelCtrl", "benchtest vel_ctrl", "", "left speed value [cm/s]= "),
    at_eof("EofRightVelCtrl", "benchtest vel_ctrl", "20\n",
           "left speed value [cm/s]= right speed value [cm/s]= "),
    at_eof("EofDirection", "benchtest direction", "", "正体補正する距離[cm] = "),
    at_eof("EofDirNum", "benchtest dir_num", "", "正体補正する距離[cm] = "),
    at_eof("EofNumber", "benchtest number", "", "数字認識ボードまでの距離[cm] = "),
    at_eof("EofComm", "benchtest comm", "", "input number 0-9:  "),
    // Not merely at its end: no standard input at all.
    {.name = "ClosedStdinConsole",
     .fault = "input ends at a prompt",
     .program = "benchtest (stdin closed)",
     .command = "exec benchtest <&-",
     .lines = {"run mode (s or r) = ", input_ended},
     .status = 0},
    // The operator holds the terminal with Ctrl-S during a 40 cm run.
    {.name = "HeldOutputConsole",
     .fault = "output held with Ctrl-S mid-move",
     .program = "benchtest",
     .command = "exec python3 " +
                shell_quoted(std::string(TAVI_ROOT) + "/tests/faults/held_terminal.py") +
                " speed_l= 4 's\\n20\\n40\\n' benchtest",
     .lines = {"run mode (s or r) = speed value [cm/s]= distance [cm]= straight mode selected",
               input_ended},
     .status = 0,
     .travelled_cm = 40},
    not_a_number("NanVelCtrl", "nan at a float prompt", "benchtest vel_ctrl", "nan\n",
                 "left speed value [cm/s]= "),
    not_a_number("HugeFloatVelCtrl", "1e39 at a float prompt", "benchtest vel_ctrl", "20\n1e39\n",
                 "left speed value [cm/s]= right speed value [cm/s]= "),
    not_a_number("WrappingIntConsole", "2147483648 at an int prompt", "benchtest",
                 "s\n2147483648\n100\n", "run mode (s or r) = speed value [cm/s]= "),
    not_a_number("HugeIntMotor", "99999999999 at an int prompt", "benchtest motor", "99999999999\n",
                 "PWM value [left]= "),
    // The camera's 4 cm offset would take this below the smallest int.
    not_a_number("OffsetOverflowDirNum", "-2147483648 at the distance prompt", "benchtest dir_num",
                 "-2147483648\n", "正体補正する距離[cm] = "),
};

class Terminal : public FaultRun, public ::testing::WithParamInterface<terminal_row> {};

TEST_P(Terminal, ProgramEndsByItselfWithTheWheelsStopped) {
    const terminal_row& r = GetParam();
    if (lacks_python(r.command)) {
        GTEST_SKIP() << "no python3 here (the i386 root has none) to hold a pseudo-terminal";
    }
    start(sim_world("open"), r.command, r.input);
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(30000, &o));

    EXPECT_EQ(o.exit_code, r.status) << o.output;
    std::vector<std::string> seen;
    ASSERT_NO_FATAL_FAILURE(expect_lines(o, r.lines, &seen));
    EXPECT_NEAR(std::atof(o.summary.at("distance_travelled").c_str()), r.travelled_cm, 1.5);
    if (r.travelled_cm == 0) {
        for (const motor_frame& f : o.frames) {
            ASSERT_TRUE(sim_is_stop_frame(f.hex)) << "a typed answer reached the wheels: " << f.hex;
        }
    }
    expect_wheels(o, motors::stopped);
    record(r.fault, r.program, seen, o, motors::stopped);
}

INSTANTIATE_TEST_SUITE_P(Faults, Terminal, ::testing::ValuesIn(rows), row_name<terminal_row>);

}  // namespace
}  // namespace faults
