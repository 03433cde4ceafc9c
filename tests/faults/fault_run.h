// What every family of the fault matrix shares: one shipped program run in the
// simulated robot by sh in the run folder (nodes in $TAVI_DEVICE_DIR), what
// the operator saw on the terminal, where the wheels were left according to
// the simulator's motor log, and the row of docs/faults.md a passing case
// writes when TAVI_FAULT_TABLE names a file.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace faults {

#ifdef __SANITIZE_THREAD__
constexpr bool under_tsan = true;
#else
constexpr bool under_tsan = false;
#endif
// Why a row that drives the demonstration's long legs skips under ThreadSanitizer.
extern const char* const long_legs_skip;

enum class motors {
    stopped,          // frames were sent; the last one must be a stop frame
    never_commanded,  // no motor node: not one frame may have reached the wheels
};

// A signal sent to the launcher once `after` has been printed `count` times;
// sig 0 = none, the program ends by itself. With to_job it goes to the whole
// job (the launcher's process group) instead, as the terminal's Ctrl-C does.
struct stop_with {
    int sig = 0;
    const char* after = "";
    int count = 1;
    bool to_job = false;
};

struct outcome : sim_result {
    std::vector<std::string> lines;  // the transcript's whole lines, without the launcher's own
};

class FaultRun : public ::testing::Test {
  protected:
    FaultRun() { sim.merge_stderr = true; }

    // Starts `command` (shell words) under the launcher; exec all the way
    // down, so sim.child.pid is the simulator's.
    void start(const std::vector<std::string>& sim_args, const std::string& command,
               const std::string& input);
    // Sends stop.sig once its line has been printed (nothing when sig is 0).
    void stop_when_printed(const stop_with& stop, int timeout_ms);
    // Waits for the end; fatal when it hung, was killed or left no summary.
    // The summary gets the values the expected lines refer to as well.
    void finish(int timeout_ms, outcome* o);
    // Nothing of the job whose process group job leads is left running
    // (bounded: its last process may still be on its way out).
    void expect_job_gone(pid_t job);
    // Whole terminal lines ("{key}" replaced from the summary) in this order;
    // fatal at the first one missing. `seen` gets them as the table shows them.
    void expect_lines(const outcome& o, const std::vector<std::string>& want,
                      std::vector<std::string>* seen);
    void expect_wheels(const outcome& o, motors wheels);
    // Cut off by a signal between two lines, with the wheels driven right up
    // to the stop frame.
    void expect_cut_mid_move(const outcome& o, const std::string& last_line_has);
    // The first stop frame came at most `seconds` after the injected fault
    // (both as the simulator's log has them).
    void expect_stopped_within(const outcome& o, double seconds);
    // The program had ended at most `ms` after the simulator passed the
    // stop signal on to it.
    void expect_ended_within(const outcome& o, int ms);
    // Appends the row of docs/faults.md when the case passed.
    void record(const std::string& fault, const std::string& program,
                const std::vector<std::string>& seen, const outcome& o, motors wheels);

    sim_run sim;
};

// The launcher execs the simulator, whose one child is the program.
pid_t program_of(pid_t launcher);
// The state letter of /proc/PID/status ('T' when stopped).
char process_state(pid_t pid);
// "exec PROGRAM" for a program as a row shows it, a note for the table in
// parentheses left out ("benchtest direction (squaring only)").
std::string exec_of(const std::string& program);
std::string shell_quoted(const std::string& s);
// No python3 here (the i386 root has none) for a command that needs it.
bool lacks_python(const std::string& command);

// The longest pause between two motor frames, the frame before it and whether
// a driving frame came after it.
struct frame_gap {
    double seconds = 0;
    std::string before;
    bool driven_after = false;
};
frame_gap longest_gap(const std::vector<motor_frame>& frames);

// Failure messages and test names say the row's name, not its bytes.
template <class Row>
std::string row_name(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

}  // namespace faults
