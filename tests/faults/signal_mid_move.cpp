// A signal in the middle of a move: from the terminal or `kill` to the
// launcher, one of the program's own (a crash, Ctrl-\), a closed transcript
// pipe, and Ctrl-Z with a later `fg`. The transcript stops between two lines,
// the wheels were driven right up to the stop frame that ends the log, and a
// suspended program holds them stopped until it carries on.
#include <signal.h>
#include <unistd.h>

#include "tests/faults/fault_run.h"

namespace faults {
namespace {

enum class sent_to {
    launcher,  // as the terminal's Ctrl-C or `kill` does
    program,   // the launcher's child: a crash or a Ctrl-\ of its own
    no_one,    // the pipeline's reader goes away by itself
};

struct signal_row {
    const char* name;
    const char* fault;    // as the table says it
    const char* program;  // as the table shows it
    std::vector<std::string> world;
    std::string command;
    std::string input{};  // standard input, then end of file
    int sig;
    sent_to to;
    std::string moving_line{};  // sent once this has been printed, and delay_ms more
    int delay_ms = 0;
    std::vector<std::string> lines{};
    std::string last_line_has;  // the whole last line holds this
    int status;
};

void PrintTo(const signal_row& r, std::ostream* os) {
    *os << r.name;
}

const char* const straight_300 = "s\n20\n300\n";

signal_row interrupted(const char* name, const char* fault, int sig, const char* program,
                       const std::vector<std::string>& world, const std::string& input,
                       const std::string& moving_line, int delay_ms,
                       const std::string& last_line_has) {
    return {.name = name,
            .fault = fault,
            .program = program,
            .world = world,
            .command = exec_of(program),
            .input = input,
            .sig = sig,
            .to = sent_to::launcher,
            .moving_line = moving_line,
            .delay_ms = delay_ms,
            .last_line_has = last_line_has,
            .status = 128 + sig};
}

// The console's straight run; no core files are left behind.
signal_row own(const char* name, const char* fault, int sig) {
    return {.name = name,
            .fault = fault,
            .program = "benchtest",
            .world = sim_world("open"),
            .command = "ulimit -c 0; exec benchtest",
            .input = straight_300,
            .sig = sig,
            .to = sent_to::program,
            .moving_line = "dis_left=  10.",
            .last_line_has = "speed_l=",
            .status = 128 + sig};
}

const signal_row rows[] = {
    interrupted("SigintConsole", "SIGINT mid-move", SIGINT, "benchtest", sim_world("open"),
                straight_300, "dis_left=  10.", 0, "speed_l="),
    interrupted("SigtermConsole", "SIGTERM mid-move", SIGTERM, "benchtest", sim_world("open"),
                straight_300, "dis_left=  10.", 0, "speed_l="),
    interrupted("SigintPwm", "SIGINT mid-move", SIGINT, "benchtest pwm", sim_world("open"),
                "40\n40\n", "   20 left_duty=", 0, " left_duty=   40  right_duty=   40"),
    interrupted("SigtermPwm", "SIGTERM mid-move", SIGTERM, "benchtest pwm", sim_world("open"),
                "40\n40\n", "   20 left_duty=", 0, " left_duty=   40  right_duty=   40"),
    interrupted("SigintDemo", "SIGINT mid-move", SIGINT, "tavi_demo", sim_world("demo"), "",
                "sequence_num=1 ", 1000, "priority ="),
    interrupted("SigtermDemo", "SIGTERM mid-move", SIGTERM, "tavi_demo", sim_world("demo"), "",
                "sequence_num=1 ", 1000, "priority ="),
    interrupted("SigintRoute", "SIGINT mid-move", SIGINT, "tavion_patrol", sim_world("patrol_a"),
                "", "sequence_num=1 ", 1000, "priority ="),
    interrupted("SigtermRoute", "SIGTERM mid-move", SIGTERM, "tavion_patrol", sim_world("patrol_a"),
                "", "sequence_num=1 ", 1000, "priority ="),
    own("SigquitConsole", "SIGQUIT (Ctrl-\\) mid-move", SIGQUIT),
    own("SigsegvConsole", "SIGSEGV (a crash) mid-move", SIGSEGV),
    own("SigabrtConsole", "SIGABRT (an abort) mid-move", SIGABRT),
    // The reader of the transcript goes away: the next print meets a closed pipe.
    {.name = "PipeClosedConsole",
     .fault = "standard output closed mid-move",
     .program = "benchtest (piped to head)",
     .world = sim_world("open"),
     .command =
         "exec 3<&0; { benchtest <&3; echo \"benchtest ended with status $?\" >&2; } | head -n 40",
     .input = straight_300,
     .sig = SIGPIPE,
     .to = sent_to::no_one,
     .lines = {"benchtest ended with status 141"},
     .last_line_has = "benchtest ended with status 141",
     .status = 0},
};

class SignalMidMove : public FaultRun, public ::testing::WithParamInterface<signal_row> {};

TEST_P(SignalMidMove, WheelsStopBeforeTheProgramEnds) {
    const signal_row& r = GetParam();
    start(r.world, r.command, r.input);
    if (r.to != sent_to::no_one) {
        EXPECT_TRUE(emu_child_wait_output(&sim.child, r.moving_line, 30000))
            << "never printed " << r.moving_line << "\n"
            << sim.child.output;
        usleep(static_cast<useconds_t>(r.delay_ms) * 1000);
        const pid_t target = r.to == sent_to::program ? program_of(sim.child.pid) : sim.child.pid;
        ASSERT_GT(target, 0) << "no program under the launcher";
        kill(target, r.sig);
    }
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(30000, &o));

    EXPECT_EQ(o.exit_code, r.status) << o.output;
    std::vector<std::string> seen;
    ASSERT_NO_FATAL_FAILURE(expect_lines(o, r.lines, &seen));
    expect_cut_mid_move(o, r.last_line_has);
    expect_wheels(o, motors::stopped);
    record(r.fault, r.program, seen, o, motors::stopped);
}

INSTANTIATE_TEST_SUITE_P(Faults, SignalMidMove, ::testing::ValuesIn(rows), row_name<signal_row>);

// Job control stops the program only when its process group has a parent
// outside it in the same session, as a shell's job has; in a bare pipeline of
// test runners the group may be orphaned, and the kernel would drop the stop.
struct suspend_row {
    const char* name;
    const char* fault;
    int sig;
};

void PrintTo(const suspend_row& r, std::ostream* os) {
    *os << r.name;
}

const suspend_row suspend_rows[] = {
    {.name = "SigtstpConsole", .fault = "SIGTSTP (Ctrl-Z) mid-move, then SIGCONT", .sig = SIGTSTP},
    {.name = "SigttinConsole",
     .fault = "SIGTTIN (background read) mid-move, then SIGCONT",
     .sig = SIGTTIN},
};

class SuspendedMidMove : public FaultRun, public ::testing::WithParamInterface<suspend_row> {};

// Suspended with the wheels stopped, then continued, then terminated.
TEST_P(SuspendedMidMove, WheelsHeldStoppedUntilItCarriesOn) {
    const suspend_row& r = GetParam();
    const int suspend_ms = 1500;
    start(sim_world("open"), "ulimit -c 0; exec perl -e 'setpgrp(0, 0); exec @ARGV' benchtest",
          straight_300);
    emu_child& child = sim.child;
    EXPECT_TRUE(emu_child_wait_output(&child, "dis_left=  10.", 30000)) << child.output;
    const pid_t program = program_of(child.pid);
    ASSERT_GT(program, 0) << "no program under the launcher";
    kill(program, r.sig);
    usleep(suspend_ms * 1000);
    EXPECT_EQ(process_state(program), 'T') << "not suspended";
    // Whatever it printed before the stop, read now (the wait runs out).
    emu_child_wait_count(&child, "speed_l=", 1 << 20, 100);
    const int before = static_cast<int>(emu_count_of(child.output, "speed_l="));
    kill(program, SIGCONT);
    // It carries on: the move's lines flow again.
    EXPECT_TRUE(emu_child_wait_count(&child, "speed_l=", before + 5, 5000))
        << "did not carry on after SIGCONT";
    usleep(300000);
    kill(program, SIGTERM);
    outcome o;
    ASSERT_NO_FATAL_FAILURE(finish(30000, &o));

    EXPECT_EQ(o.exit_code, 128 + SIGTERM) << o.output;
    expect_cut_mid_move(o, "speed_l=");
    const frame_gap gap = longest_gap(o.frames);
    EXPECT_GE(gap.seconds * 1000, suspend_ms * 0.8) << "frames went on while suspended";
    EXPECT_TRUE(sim_is_stop_frame(gap.before)) << "suspended with " << gap.before << " held";
    EXPECT_TRUE(gap.driven_after) << "the move did not carry on after SIGCONT";
    expect_wheels(o, motors::stopped);
    record(r.fault, "benchtest", {}, o, motors::stopped);
}

INSTANTIATE_TEST_SUITE_P(Faults, SuspendedMidMove, ::testing::ValuesIn(suspend_rows),
                         row_name<suspend_row>);

}  // namespace
}  // namespace faults
