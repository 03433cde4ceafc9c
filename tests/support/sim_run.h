// A program run in the simulated robot from a test, through scripts/sim as a
// user runs it: a world, the simulator's fault switches and options, standard
// input and a time limit in; the transcript, the exit status, the summary's
// values and the motor frames on the wire out.
//
// Every run folder of a test (these runs' and tavi-sim's own, sim_run_folder)
// lives until the test ends. When the test failed, the folder is first copied
// to <build tree>/Testing/failed-runs/<gate>/<test name>/ (with several runs,
// run-1/, run-2/... below it) and the test's output says where; the gate is
// TAVI_GATE, else the build's kind: plain, asan, tsan or m32.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/emulated_devices.h"

// A fresh, empty folder for one simulator run of the running test.
std::string sim_run_folder();

// "--world <root>/sim/worlds/<name>.world", with "--fault <fault>" when given.
std::vector<std::string> sim_world(const std::string& name, const char* fault = nullptr);
// key=value lines of a summary file.
std::map<std::string, std::string> sim_read_summary(const std::string& path);
// All zeros: the four-byte frame, or drivehalt's two bytes.
bool sim_is_stop_frame(const std::string& hex);
// The i386 gate runs its programs through the user-mode emulator (scripts/test
// says so in TAVI_I386_WAY): their time is then the translator's, not a board's.
bool sim_under_emulator();

struct motor_frame {
    double time = 0;  // seconds since the simulator started
    std::string hex;  // as the log writes it: "00 00 00 00"
};

struct sim_result {
    bool timed_out = false;  // killed after the time limit
    int status = 0;          // raw wait status of the launcher
    int exit_code = -1;      // its exit status (128 + signal for a program killed), -1 if none
    std::string output;      // the transcript
    std::map<std::string, std::string> summary;
    std::vector<motor_frame> frames;  // log.csv's motor frames, in order
    std::string dir;                  // the run folder

    // A summary value; "(no <key> in the summary)" when there is none.
    std::string value(const std::string& key) const;
    // A summary value as a number; a failure of the test (and NaN) when it is
    // missing or no number.
    double number(const std::string& key) const;
};

// Standing still at the end: a stop frame was the last word to the motors,
// in the summary and on the wire, and neither wheel is driven.
void sim_expect_stopped(const sim_result& r);

class sim_run {
  public:
    sim_run();
    // Ends a run still going (SIGTERM, so the simulator writes its summary).
    ~sim_run();
    sim_run(const sim_run&) = delete;
    sim_run& operator=(const sim_run&) = delete;

    // Starts `command` (argv; found on the launcher's PATH) under scripts/sim
    // with the simulator's arguments; `child.pid` is the simulator's.
    void start(const std::vector<std::string>& sim_args, const std::vector<std::string>& command,
               const std::string& input = "");
    // Waits for the end, killing the run after timeout_ms; the transcript
    // goes into the folder as well (transcript.txt).
    sim_result finish(int timeout_ms);
    sim_result run(const std::vector<std::string>& sim_args,
                   const std::vector<std::string>& command, const std::string& input,
                   int timeout_ms);

    bool merge_stderr = false;  // the transcript holds standard error too
    const std::string dir;      // made empty; scripts/sim fills it
    emu_child child;
};
