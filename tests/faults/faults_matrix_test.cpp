// The shipped programs in the simulated robot under one fault at a time: a
// missing device node, a silent, late or echo-less ultrasonic board, a broken
// camera, a missing image folder, an unreachable host, input that ends at a
// prompt, and an interrupt in the middle of a move. Each case checks what an
// operator would see on the terminal (standard output and error together), that
// the program neither crashed nor hung, and where the wheels were left: the
// simulator's motor log must end in a stop frame whenever a motor could have
// been commanded.
//
// With TAVI_FAULT_TABLE set to a file, every case that passes appends its row
// of the outcome table (docs/faults.md) to it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sim/sim_process.h"
#include "tests/support/emulated_devices.h"

namespace {

using summary_map = std::map<std::string, std::string>;

enum class motors {
    stopped,          // frames were sent; the last one must be a stop frame
    never_commanded,  // no motor node: not one frame may have reached the wheels
};

struct fault_case {
    const char* name;     // test name
    const char* fault;    // table: the fault
    const char* program;  // table: the program as the operator starts it
    std::vector<std::string> sim_args;
    // Run by sh inside the simulated robot's run directory, with the nodes in
    // $TAVI_DEVICE_DIR, so a case can take a node or ./img/ away first.
    std::string command;
    std::string input;  // standard input, then end of file
    // Whole terminal lines that must appear, in this order. "{key}" is
    // replaced by that entry of the summary (or of the derived values below).
    std::vector<std::string> lines;
    int exit_status;
    motors wheels;
    // A signal sent to the launcher once `signal_after` has been printed
    // `signal_count` times and `signal_delay_ms` more have passed; 0 = none.
    int signal = 0;
    std::string signal_after{};
    int signal_count = 1;
    int signal_delay_ms = 0;
    // For an interrupted move: the wheels were driven right up to the stop
    // frame, and the transcript ends with a whole line holding this text.
    bool mid_move = false;
    std::string last_line_has{};
    int timeout_ms = 30000;
    // The signal goes to the program itself (the launcher's child), as a
    // crash, a Ctrl-\ or a Ctrl-Z of the program's own would.
    bool to_program = false;
    // Job-control stop: the program must be suspended this long with a stop
    // frame last on the wire, carry on after SIGCONT, and is then sent SIGTERM.
    int suspend_ms = 0;
    // Where the robot must have ended (cm travelled, +-1.5), when >= 0.
    double travelled_cm = -1;
    // Every frame on the wire is a stop frame: nothing typed reached the wheels.
    bool only_stop_frames = false;
    // Drives the demonstration's long legs before the fault shows.
    bool long_legs = false;
};

// Failure messages name the case, not its bytes.
void PrintTo(const fault_case& c, std::ostream* os) {
    *os << c.name << " (" << c.fault << ", " << c.program << ")";
}

std::string shell_quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

std::string uss_pair(int left, int right) {
    char text[64];
    std::snprintf(text, sizeof text, "uss[1]=%3d    uss[2]=%3d    ", left, right);
    return text;
}

// What the console shows for a board reading (range - 20, or "none"): the
// query adds 20 back, and no echo is 99999.
int shown_cm(const std::string& reading) {
    return reading == "none" ? 99999 : std::atoi(reading.c_str()) + 20;
}

// A reply that starts only in the second 50 ms wait: its low byte is taken for
// the high one and the low one counts as 0.
int shown_late_cm(const std::string& reading) {
    if (reading == "none") {
        return 20;  // FF FF arrives late: FF is read as the high byte of nothing
    }
    const int low = std::atoi(reading.c_str()) & 0xff;
    return low == 255 ? 99999 : low * 256 + 20;
}

// Values the expected lines refer to that the summary does not hold as such.
void derive(summary_map* s) {
    const std::string r1 = s->count("uss1_reading") ? s->at("uss1_reading") : "none";
    const std::string r2 = s->count("uss2_reading") ? s->at("uss2_reading") : "none";
    (*s)["uss_line"] = uss_pair(shown_cm(r1), shown_cm(r2));
    (*s)["uss_line_late"] = uss_pair(shown_late_cm(r1), shown_late_cm(r2));
}

std::string substitute(const std::string& line, const summary_map& s) {
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t close = line[i] == '{' ? line.find('}', i) : std::string::npos;
        if (close != std::string::npos && s.count(line.substr(i + 1, close - i - 1))) {
            out += s.at(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            out += line[i++];
        }
    }
    return out;
}

// The transcript as lines, without the launcher's own closing line.
std::vector<std::string> terminal_lines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        // The user-mode emulator of the i386 run reports a core dump on its
        // own line; the program never printed it.
        if (line.rfind("run dir: ", 0) != 0 && line.rfind("qemu: uncaught target signal", 0) != 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

// Motor frames of log.csv in order, as their hex detail ("00 00 00 00").
std::vector<std::string> motor_frames(const std::string& run_dir) {
    std::vector<std::string> frames;
    std::ifstream in(run_dir + "/log.csv");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string time, event;
        if (std::getline(fields, time, ',') && std::getline(fields, event, ',') &&
            event == "motor") {
            frames.push_back(line.substr(line.rfind(',') + 1));
        }
    }
    return frames;
}

bool is_stop_frame(const std::string& hex) {
    return hex == "00 00 00 00" || hex == "00 00";
}

// The longest pause between two motor frames of log.csv, in seconds, with the
// frame before it and whether a driving frame came after it.
struct frame_gap {
    double seconds = 0;
    std::string before;
    bool driven_after = false;
};

frame_gap longest_gap(const std::string& run_dir) {
    frame_gap gap;
    std::ifstream in(run_dir + "/log.csv");
    std::string line, last_frame;
    double last_time = -1;
    bool in_longest = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string time, event;
        if (!std::getline(fields, time, ',') || !std::getline(fields, event, ',') ||
            event != "motor") {
            continue;
        }
        const double t = std::atof(time.c_str());
        const std::string frame = line.substr(line.rfind(',') + 1);
        if (last_time >= 0 && t - last_time > gap.seconds) {
            gap = {t - last_time, last_frame, false};
            in_longest = true;
        }
        if (in_longest && !is_stop_frame(frame)) {
            gap.driven_after = true;
        }
        last_time = t;
        last_frame = frame;
    }
    return gap;
}

// The launcher execs the simulator, whose one child is the program.
pid_t program_of(pid_t launcher) {
    std::ifstream children("/proc/" + std::to_string(launcher) + "/task/" +
                           std::to_string(launcher) + "/children");
    pid_t pid = -1;
    children >> pid;
    return pid;
}

char process_state(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("State:", 0) == 0 && line.size() > 7) {
            return line[line.find_first_not_of(" \t", 6)];
        }
    }
    return '?';
}

std::string table_cell(const std::string& text) {
    std::string cell;
    for (char c : text) {
        cell += c == '|' ? std::string("\\|") : std::string(1, c);
    }
    return "`" + cell + "`";
}

// One row of docs/faults.md, appended in one write so parallel cases never mix.
void append_table_row(const fault_case& c, const std::vector<std::string>& seen, int status,
                      const summary_map& s) {
    const char* path = std::getenv("TAVI_FAULT_TABLE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    std::string shown;
    for (const std::string& l : seen) {
        shown += (shown.empty() ? "" : "<br>") + table_cell(l);
    }
    const std::string frames = s.count("motor_frames") ? s.at("motor_frames") : "?";
    const std::string stopped =
        c.wheels == motors::stopped
            ? "yes: last of " + frames + " frames `" + s.at("last_motor_frame") + "`"
            : "never commanded: " + frames + " frames, robot still";
    const std::string row = "| " + std::string(c.fault) + " | `" + c.program + "` | " + shown +
                            "<br>exit status " + std::to_string(status) + " | " + stopped + " |\n";
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t n = write(fd, row.data(), row.size());
        (void)n;
        close(fd);
    }
}

class FaultMatrix : public ::testing::TestWithParam<fault_case> {
  protected:
    void SetUp() override { run_dir = sim_temp_dir(); }
    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "run kept in %s\n", run_dir.c_str());
            return;
        }
        const std::string cmd = "rm -rf " + shell_quoted(run_dir);
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    // exec all the way down, so the child's pid is the simulator's: a signal
    // sent to it is what a signal to the launcher does.
    std::vector<std::string> launch_argv(const fault_case& c) const {
        std::string cmd = "exec env TAVI_BUILD_DIR=" + shell_quoted(TAVI_BUILD_DIR) + " " +
                          shell_quoted(std::string(TAVI_ROOT) + "/scripts/sim") + " --run-dir " +
                          shell_quoted(run_dir);
        for (const std::string& a : c.sim_args) {
            cmd += " " + shell_quoted(a);
        }
        cmd += " -- sh -c " + shell_quoted(c.command) + " 2>&1";
        return {"/bin/sh", "-c", cmd};
    }

    std::string run_dir;
};

TEST_P(FaultMatrix, ProgramSaysWhatHappenedAndLeavesTheWheelsStopped) {
    const fault_case& c = GetParam();
    if (c.command.find("python3 ") != std::string::npos &&
        std::system("command -v python3 >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no python3 here (the i386 root has none) to hold a pseudo-terminal";
    }
#ifdef __SANITIZE_THREAD__
    if (c.long_legs) {
        GTEST_SKIP() << "under ThreadSanitizer the control periods run several times slower than "
                        "on the robot, and the demonstration's 80 cm/s legs can swing into a wall; "
                        "the fault is checked in the plain and the other builds";
    }
#endif
    emu_child child = emu_spawn_program(launch_argv(c), c.input);
    if (c.signal != 0) {
        const bool seen =
            emu_child_wait_count(&child, c.signal_after, c.signal_count, c.timeout_ms);
        EXPECT_TRUE(seen) << "never printed " << c.signal_after << "\n" << child.output;
        usleep(static_cast<useconds_t>(c.signal_delay_ms) * 1000);
        const pid_t target = c.to_program ? program_of(child.pid) : child.pid;
        ASSERT_GT(target, 0) << "no program under the launcher";
        kill(target, c.signal);
        if (c.suspend_ms > 0) {
            usleep(static_cast<useconds_t>(c.suspend_ms) * 1000);
            EXPECT_EQ(process_state(target), 'T') << "not suspended";
            // Whatever it printed before the stop, read now (the wait runs out).
            emu_child_wait_count(&child, c.last_line_has, 1 << 20, 100);
            const int before = static_cast<int>(emu_count_of(child.output, c.last_line_has));
            kill(target, SIGCONT);
            // It carries on: the move's lines flow again.
            EXPECT_TRUE(emu_child_wait_count(&child, c.last_line_has, before + 5, 5000))
                << "did not carry on after SIGCONT";
            usleep(300000);
            kill(target, SIGTERM);
        }
    }
    const emu_child_result r = emu_child_finish(&child, c.timeout_ms);
    const std::string& out = r.output;

    // Neither hung nor crashed: it ended by itself with its own status, or of
    // the signal it was sent (the launcher reports 128 + the signal).
    ASSERT_FALSE(r.timed_out) << "still running after " << c.timeout_ms << " ms\n" << out;
    ASSERT_TRUE(WIFEXITED(r.status)) << "launcher killed by signal " << WTERMSIG(r.status);
    EXPECT_EQ(WEXITSTATUS(r.status), c.exit_status) << out;

    summary_map s = sim_read_summary(run_dir + "/summary.txt");
    ASSERT_FALSE(s.empty()) << "no summary in " << run_dir << "\n" << out;
    derive(&s);
    s["dir"] = run_dir;

    // The exact lines, in order.
    const std::vector<std::string> lines = terminal_lines(out);
    std::vector<std::string> seen;
    std::size_t at = 0;
    for (const std::string& pattern : c.lines) {
        const std::string want = substitute(pattern, s);
        std::size_t i = at;
        while (i < lines.size() && lines[i] != want) {
            ++i;
        }
        ASSERT_LT(i, lines.size()) << "missing line (in order): \"" << want << "\"\n" << out;
        seen.push_back(want);
        at = i + 1;
    }

    if (c.mid_move) {
        ASSERT_FALSE(lines.empty());
        // Cut off between lines, never in the middle of one.
        EXPECT_NE(lines.back().find(c.last_line_has), std::string::npos) << lines.back();
        EXPECT_EQ(out.back(), '\n');
        const std::vector<std::string> frames = motor_frames(run_dir);
        ASSERT_GE(frames.size(), 2u);
        EXPECT_FALSE(is_stop_frame(frames[frames.size() - 2]))
            << "the wheels were not driven when the signal came";
        EXPECT_GT(std::atof(s["distance_travelled"].c_str()), 1.0);
    }

    if (c.suspend_ms > 0) {
        const frame_gap gap = longest_gap(run_dir);
        EXPECT_GE(gap.seconds * 1000, c.suspend_ms * 0.8) << "frames went on while suspended";
        EXPECT_TRUE(is_stop_frame(gap.before)) << "suspended with " << gap.before << " held";
        EXPECT_TRUE(gap.driven_after) << "the move did not carry on after SIGCONT";
    }
    if (c.travelled_cm >= 0) {
        EXPECT_NEAR(std::atof(s["distance_travelled"].c_str()), c.travelled_cm, 1.5);
    }
    if (c.only_stop_frames) {
        for (const std::string& f : motor_frames(run_dir)) {
            ASSERT_TRUE(is_stop_frame(f)) << "a typed answer reached the wheels: " << f;
        }
    }

    if (c.wheels == motors::stopped) {
        EXPECT_GT(std::atoi(s["motor_frames"].c_str()), 0);
        EXPECT_TRUE(is_stop_frame(s["last_motor_frame"])) << s["last_motor_frame"];
        const std::vector<std::string> frames = motor_frames(run_dir);
        ASSERT_FALSE(frames.empty());
        EXPECT_TRUE(is_stop_frame(frames.back())) << frames.back();
        EXPECT_EQ(s["motor_left"], "0");
        EXPECT_EQ(s["motor_right"], "0");
    } else {
        EXPECT_EQ(s["motor_frames"], "0");
        EXPECT_EQ(s["last_motor_frame"], "none");
        EXPECT_EQ(s["distance_travelled"], "0.00");
    }

    if (!HasFailure()) {
        append_table_row(c, seen, WEXITSTATUS(r.status), s);
    }
}

const std::string root = TAVI_ROOT;
const std::vector<std::string> open_floor = {"--world", root + "/sim/worlds/open.world"};
const std::vector<std::string> wall_bay = {"--world", root + "/sim/worlds/wall_bay.world"};
const std::vector<std::string> demo = {"--world", root + "/sim/worlds/demo.world"};
const std::vector<std::string> route = {"--world", root + "/sim/worlds/patrol_a.world"};

std::vector<std::string> with(std::vector<std::string> args, const std::string& fault) {
    args.push_back("--fault");
    args.push_back(fault);
    return args;
}

std::string without(const char* node, const std::string& program) {
    return std::string("rm \"$TAVI_DEVICE_DIR/") + node + "\" && exec " + program;
}

const char* const not_started = "patrol not started: a device did not open";
const char* const input_ended = "end of input: motors stopped, program ends";
const char* const status_zero =
    "speed_l=  0.0   speed_r=  0.0     dis_left=   0.0    dis_right=   0.0";
const std::string host_down =
    std::string("ssh: connect to host ") + TAVI_HOST_IP + " port 22: Connection refused";

// A case whose program ends by itself at the end of its input.
fault_case prompt_case(const char* name, const char* program, const std::string& input,
                       const std::string& prompt_line) {
    return {
        name,  "input ends at a prompt",   program, open_floor,     std::string("exec ") + program,
        input, {prompt_line, input_ended}, 0,       motors::stopped};
}

// A case that stops the program with a signal in the middle of a move.
fault_case interrupt_case(const char* name, int sig, const char* program,
                          std::vector<std::string> world, const std::string& input,
                          const std::string& after, int delay_ms, const std::string& last_line) {
    fault_case c{name,
                 sig == SIGINT ? "SIGINT mid-move" : "SIGTERM mid-move",
                 program,
                 std::move(world),
                 std::string("exec ") + program,
                 input,
                 {},
                 128 + sig,
                 motors::stopped};
    c.signal = sig;
    c.signal_after = after;
    c.signal_delay_ms = delay_ms;
    c.mid_move = true;
    c.last_line_has = last_line;
    return c;
}

// A signal of the program's own in the middle of a straight run of the
// console: a crash, Ctrl-\ or Ctrl-Z. No core files are left behind.
fault_case own_signal_case(const char* name, const char* fault, int sig, const std::string& command,
                           int exit_status, int suspend_ms = 0) {
    fault_case c = interrupt_case(name, sig, "benchtest", open_floor, "s\n20\n300\n",
                                  "dis_left=  10.", 0, "speed_l=");
    c.fault = fault;
    c.command = "ulimit -c 0; " + command;
    c.exit_status = exit_status;
    c.to_program = true;
    c.suspend_ms = suspend_ms;
    return c;
}

// An answer that is no number the routine can use: it ends there, and not one
// frame but stop frames reaches the wheels.
fault_case bad_answer_case(const char* name, const char* fault, const char* program,
                           const std::string& input, const std::string& prompt_line) {
    fault_case c{name,
                 fault,
                 program,
                 open_floor,
                 std::string("exec ") + program,
                 input,
                 {prompt_line, "not a number: motors stopped, program ends"},
                 1,
                 motors::stopped};
    c.only_stop_frames = true;
    return c;
}

// Job control stops the program only when its process group has a parent
// outside it in the same session, as a shell's job has; in a bare pipeline of
// test runners the group may be orphaned, and the kernel would drop the stop.
const std::string own_job = "exec perl -e 'setpgrp(0, 0); exec @ARGV' benchtest";

fault_case stopped_after(fault_case c, int sig, const std::string& after, int count) {
    c.signal = sig;
    c.signal_after = after;
    c.signal_count = count;
    c.exit_status = 128 + sig;
    return c;
}

fault_case longer(fault_case c, int timeout_ms) {
    c.timeout_ms = timeout_ms;
    return c;
}

fault_case after_long_legs(fault_case c) {
    c.long_legs = true;
    return longer(std::move(c), 60000);
}

const fault_case cases[] = {
    // Device nodes missing, one at a time.
    // Without odometry the speed loop would read zero speed for ever and push
    // the wheels to full command, so nothing that closes it starts.
    {"NoEncoderConsole",
     "encoder_dev missing",
     "benchtest",
     open_floor,
     without("encoder_dev", "benchtest"),
     "s\n20\n30\n",
     {"fd_encoder=-1", "encoder_dev can't open !!!",
      "run_ctrl not started: encoder_dev did not open"},
     1,
     motors::stopped},
    {"NoEncoderDirection",
     "encoder_dev missing",
     "benchtest direction",
     wall_bay,
     without("encoder_dev", "benchtest direction"),
     "50\n",
     {"fd_encoder=-1", "encoder_dev can't open !!!",
      "direction not started: encoder_dev did not open"},
     1,
     motors::stopped},
    {"NoEncoderDemo",
     "encoder_dev missing",
     "tavi_demo",
     demo,
     without("encoder_dev", "tavi_demo"),
     "",
     {"fd_encoder=-1", "encoder_dev can't open !!!", not_started},
     1,
     motors::stopped},
    {"NoEncoderRoute",
     "encoder_dev missing",
     "tavion_patrol",
     route,
     without("encoder_dev", "tavion_patrol"),
     "",
     {"fd_encoder=-1", "encoder_dev can't open !!!", not_started},
     1,
     motors::stopped},
    stopped_after({"NoMotorConsole",
                   "motor_dev missing",
                   "benchtest",
                   open_floor,
                   without("motor_dev", "benchtest"),
                   "s\n20\n30\n",
                   {"fd_motor=-1", "motor_dev can't open !!!", status_zero},
                   0,
                   motors::never_commanded},
                  SIGINT, "speed_l=", 3),
    {"NoMotorDemo",
     "motor_dev missing",
     "tavi_demo",
     demo,
     without("motor_dev", "tavi_demo"),
     "",
     {"fd_motor=-1", "motor_dev can't open !!!", not_started},
     1,
     motors::never_commanded},
    {"NoMotorRoute",
     "motor_dev missing",
     "tavion_patrol",
     route,
     without("motor_dev", "tavion_patrol"),
     "",
     {"fd_motor=-1", "motor_dev can't open !!!", not_started},
     1,
     motors::never_commanded},
    {"NoMotorDrivehalt",
     "motor_dev missing",
     "./drivehalt",
     open_floor,
     without("motor_dev", "./drivehalt"),
     "",
     {"Program stopped"},
     0,
     motors::never_commanded},
    stopped_after({"NoIoBench",
                   "io_dev missing",
                   "benchtest io",
                   open_floor,
                   without("io_dev", "benchtest io"),
                   "",
                   {"fd_io=-1", "io device can't open !!!", "I/O[1] = ?", "I/O[12] = ?"},
                   0,
                   motors::stopped},
                  SIGTERM, "I/O[12] = ", 2),
    after_long_legs({"NoIoDemo",
                     "io_dev missing",
                     "tavi_demo",
                     demo,
                     without("io_dev", "tavi_demo"),
                     "",
                     {"sequence_num=4     style=0      value=0   ",
                      "Direction Correction Start !!1", "左数字={board_ahead_digits}、右数字=-1"},
                     0,
                     motors::stopped}),
    {"NoSerialUss",
     "ttyS0 missing",
     "benchtest uss",
     wall_bay,
     without("ttyS0", "benchtest uss"),
     "",
     {"fd_uss=-1", "uss_dev can't open !!!", "Test_USS thread created!  "},
     255,
     motors::stopped},
    {"NoSerialDirection",
     "ttyS0 missing",
     "benchtest direction",
     wall_bay,
     without("ttyS0", "benchtest direction"),
     "50\n",
     {"fd_uss=-1", "uss_dev can't open !!!",
      "正体補正する距離[cm] = Direction Correction Start !!1", "距離補正スタート"},
     255,
     motors::stopped},
    {"NoSerialDemo",
     "ttyS0 missing",
     "tavi_demo",
     demo,
     without("ttyS0", "tavi_demo"),
     "",
     {"fd_uss=-1", "uss_dev can't open !!!", not_started},
     1,
     motors::stopped},

    // The ultrasonic board.
    stopped_after({"SilentBoardUss",
                   "ultrasonic board silent",
                   "benchtest uss",
                   with(wall_bay, "uss_silent"),
                   "exec benchtest uss",
                   "",
                   {"Test_USS thread created!  ", uss_pair(20, 20)},
                   0,
                   motors::stopped},
                  SIGTERM, "uss[2]=", 2),
    {"SilentBoardDirection",
     "ultrasonic board silent",
     "benchtest direction",
     with(wall_bay, "uss_silent"),
     "exec benchtest direction",
     "50\n",
     {"ref_dist=50     cur_dist = 999", "can't get distance using USS",
      "正体補正 失敗！Program stopped"},
     0,
     motors::stopped},
    after_long_legs({"SilentBoardDemo",
                     "ultrasonic board silent",
                     "tavi_demo",
                     with(demo, "uss_silent"),
                     "exec tavi_demo",
                     "",
                     {"ref_dist=50     cur_dist = 999", "can't get distance using USS",
                      "左数字={board_ahead_digits}、右数字=-1"},
                     0,
                     motors::stopped}),
    stopped_after({"LateRepliesUss",
                   "late replies (70 ms)",
                   "benchtest uss",
                   with(wall_bay, "uss_late"),
                   "exec benchtest uss",
                   "",
                   {"Test_USS thread created!  ", "{uss_line_late}"},
                   0,
                   motors::stopped},
                  SIGTERM, "uss[2]=", 2),
    {"LateRepliesDirection",
     "late replies (70 ms)",
     "benchtest direction",
     with(wall_bay, "uss_late"),
     "exec benchtest direction",
     "50\n",
     {"ref_dist=50     cur_dist = 999", "can't get distance using USS",
      "正体補正 失敗！Program stopped"},
     0,
     motors::stopped},
    stopped_after({"NoEchoUss",
                   "channel 1 without echo",
                   "benchtest uss",
                   with(wall_bay, "uss_no_echo=1"),
                   "exec benchtest uss",
                   "",
                   {"Test_USS thread created!  ", "{uss_line}"},
                   0,
                   motors::stopped},
                  SIGTERM, "uss[2]=", 2),
    // The right sensor alone gives the distance; squaring then sees the left
    // side missing, turns right by the clamp each time until neither echoes.
    longer({"NoEchoDirection",
            "channel 1 without echo",
            "benchtest direction",
            with(wall_bay, "uss_no_echo=1"),
            "exec benchtest direction",
            "50\n",
            {"正体補正スタート", "diff_uss=10      ref_angle=  41.7", "uss_l=99999   uss_r= 99999",
             "正体補正 失敗！Program stopped"},
            0,
            motors::stopped},
           60000),

    // The camera and ./img/.
    {"CaptureFailsDirNum",
     "capture command fails",
     "benchtest dir_num",
     with(wall_bay, "capture_fail"),
     "exec benchtest dir_num",
     "50\n",
     {"正体補正 成功！uvccapture: capture failed: injected", "Capture fail!!", "数字=-1",
      "Program stopped"},
     0,
     motors::stopped},
    after_long_legs(
        {"CaptureFailsDemo",
         "capture command fails",
         "tavi_demo",
         with(demo, "capture_fail"),
         "exec tavi_demo",
         "",
         {"uvccapture: capture failed: injected", "Capture fail!!", "左数字=-1、右数字=-1"},
         0,
         motors::stopped}),
    {"CaptureNoFileDirNum",
     "capture says ok, writes no file",
     "benchtest dir_num",
     with(wall_bay, "capture_nofile"),
     "exec benchtest dir_num",
     "50\n",
     {"正体補正 成功！cannot load ./img/input.jpg: the capture left no complete image", "数字=-1",
      "Program stopped"},
     0,
     motors::stopped},
    // Ten attempts a second apart, each saying why it read nothing.
    {"CaptureNoFileNumber",
     "capture says ok, writes no file",
     "benchtest number",
     with(wall_bay, "capture_nofile"),
     "exec benchtest number",
     "46\n",
     {"数字認識ボードまでの距離[cm] = cannot load ./img/input.jpg: the capture left no complete "
      "image",
      "1 回目：左数字=-1、右数字=-1",
      "cannot load ./img/input.jpg: the capture left no complete image",
      "10 回目：左数字=-1、右数字=-1", "数字認識に10回失敗しました。"},
     0,
     motors::stopped},
    {"TruncatedJpegDirNum",
     "truncated JPEG",
     "benchtest dir_num",
     with(wall_bay, "capture_truncated"),
     "exec benchtest dir_num",
     "50\n",
     {"正体補正 成功！cannot load ./img/input.jpg: the capture left no complete image", "数字=-1",
      "Program stopped"},
     0,
     motors::stopped},
    {"NoImgDirNum",
     "./img/ missing",
     "benchtest dir_num",
     wall_bay,
     "rmdir img && exec benchtest dir_num",
     "50\n",
     {"正体補正 成功！uvccapture: capture failed: cannot write {dir}/img/input.jpg",
      "Capture fail!!", "数字=-1", "Program stopped"},
     0,
     motors::stopped},

    // The host.
    // The stand-in scp refuses every copy while this is set, as a host that is down.
    {"HostDownComm",
     "scp fails (host down)",
     "benchtest comm",
     open_floor,
     "TAVI_SIM_SCP_FAIL=1 exec benchtest comm",
     "42\n",
     {"input number 0-9:  " + host_down, "lost connection", host_down, "lost connection",
      "input number 0-9:  ", input_ended},
     0,
     motors::stopped},

    // Standard input ends at each prompt.
    prompt_case("EofModeConsole", "benchtest", "", "run mode (s or r) = "),
    prompt_case("EofSpeedConsole", "benchtest", "s\n", "run mode (s or r) = speed value [cm/s]= "),
    prompt_case("EofDistanceConsole", "benchtest", "s\n20\n",
                "run mode (s or r) = speed value [cm/s]= distance [cm]= "),
    prompt_case("EofTurnSpeedConsole", "benchtest", "r\n",
                "run mode (s or r) = rataiton speed [deg/s]= "),
    prompt_case("EofTurnAngleConsole", "benchtest", "r\n30\n",
                "run mode (s or r) = rataiton speed [deg/s]= rataiton angle [deg]= "),
    prompt_case("EofNextModeConsole", "benchtest", "s\n20\n10\n", "run mode (s or r) = "),
    prompt_case("EofLeftMotor", "benchtest motor", "", "PWM value [left]= "),
    prompt_case("EofRightMotor", "benchtest motor", "40\n",
                "PWM value [left]= PWM value [right]= "),
    prompt_case("EofLeftPwm", "benchtest pwm", "", "PWM value [left]= "),
    prompt_case("EofRightPwm", "benchtest pwm", "40\n", "PWM value [left]= PWM value [right]= "),
    prompt_case("EofLeftPwmVel", "benchtest pwm_vel", "", "PWM value [left]= "),
    prompt_case("EofRightPwmVel", "benchtest pwm_vel", "40\n",
                "PWM value [left]= PWM value [right]= "),
    prompt_case("EofLeftVelCtrl", "benchtest vel_ctrl", "", "left speed value [cm/s]= "),
    prompt_case("EofRightVelCtrl", "benchtest vel_ctrl", "20\n",
                "left speed value [cm/s]= right speed value [cm/s]= "),
    prompt_case("EofDirection", "benchtest direction", "", "正体補正する距離[cm] = "),
    prompt_case("EofDirNum", "benchtest dir_num", "", "正体補正する距離[cm] = "),
    prompt_case("EofNumber", "benchtest number", "", "数字認識ボードまでの距離[cm] = "),
    prompt_case("EofComm", "benchtest comm", "", "input number 0-9:  "),
    // Not merely at its end: no standard input at all.
    {"ClosedStdinConsole",
     "input ends at a prompt",
     "benchtest (stdin closed)",
     open_floor,
     "exec benchtest <&-",
     "",
     {"run mode (s or r) = ", input_ended},
     0,
     motors::stopped},

    // Interrupted in the middle of a move.
    interrupt_case("SigintConsole", SIGINT, "benchtest", open_floor, "s\n20\n300\n",
                   "dis_left=  10.", 0, "speed_l="),
    interrupt_case("SigtermConsole", SIGTERM, "benchtest", open_floor, "s\n20\n300\n",
                   "dis_left=  10.", 0, "speed_l="),
    interrupt_case("SigintPwm", SIGINT, "benchtest pwm", open_floor, "40\n40\n",
                   "   20 left_duty=", 0, " left_duty=   40  right_duty=   40"),
    interrupt_case("SigtermPwm", SIGTERM, "benchtest pwm", open_floor, "40\n40\n",
                   "   20 left_duty=", 0, " left_duty=   40  right_duty=   40"),
    interrupt_case("SigintDemo", SIGINT, "tavi_demo", demo, "", "sequence_num=1 ", 1000,
                   "priority ="),
    interrupt_case("SigtermDemo", SIGTERM, "tavi_demo", demo, "", "sequence_num=1 ", 1000,
                   "priority ="),
    interrupt_case("SigintRoute", SIGINT, "tavion_patrol", route, "", "sequence_num=1 ", 1000,
                   "priority ="),
    interrupt_case("SigtermRoute", SIGTERM, "tavion_patrol", route, "", "sequence_num=1 ", 1000,
                   "priority ="),
    own_signal_case("SigquitConsole", "SIGQUIT (Ctrl-\\) mid-move", SIGQUIT, "exec benchtest",
                    128 + SIGQUIT),
    own_signal_case("SigsegvConsole", "SIGSEGV (a crash) mid-move", SIGSEGV, "exec benchtest",
                    128 + SIGSEGV),
    own_signal_case("SigabrtConsole", "SIGABRT (an abort) mid-move", SIGABRT, "exec benchtest",
                    128 + SIGABRT),
    // Suspended with the wheels stopped, then continued, then terminated.
    own_signal_case("SigtstpConsole", "SIGTSTP (Ctrl-Z) mid-move, then SIGCONT", SIGTSTP, own_job,
                    128 + SIGTERM, 1500),
    own_signal_case("SigttinConsole", "SIGTTIN (background read) mid-move, then SIGCONT", SIGTTIN,
                    own_job, 128 + SIGTERM, 1500),
    // The reader of the transcript goes away: the next print meets a closed pipe.
    [] {
        fault_case c =
            interrupt_case("PipeClosedConsole", SIGPIPE, "benchtest (piped to head)", open_floor,
                           "s\n20\n300\n", "", 0, "benchtest ended with status 141");
        c.fault = "standard output closed mid-move";
        c.lines = {"benchtest ended with status 141"};
        c.command =
            "exec 3<&0; { benchtest <&3; echo \"benchtest ended with status $?\" >&2; } "
            "| head -n 40";
        c.signal = 0;
        c.exit_status = 0;
        return c;
    }(),
    // The operator holds the terminal with Ctrl-S during a 40 cm run.
    [] {
        fault_case c{"HeldOutputConsole",
                     "output held with Ctrl-S mid-move",
                     "benchtest",
                     open_floor,
                     "exec python3 " + shell_quoted(root + "/tests/faults/held_terminal.py") +
                         " speed_l= 4 's\\n20\\n40\\n' benchtest",
                     "",
                     {"run mode (s or r) = speed value [cm/s]= distance [cm]= straight mode "
                      "selected",
                      input_ended},
                     0,
                     motors::stopped};
        c.travelled_cm = 40;
        return c;
    }(),

    // Answers that are no usable numbers.
    bad_answer_case("NanVelCtrl", "nan at a float prompt", "benchtest vel_ctrl", "nan\n",
                    "left speed value [cm/s]= "),
    bad_answer_case("HugeFloatVelCtrl", "1e39 at a float prompt", "benchtest vel_ctrl",
                    "20\n1e39\n", "left speed value [cm/s]= right speed value [cm/s]= "),
    bad_answer_case("WrappingIntConsole", "2147483648 at an int prompt", "benchtest",
                    "s\n2147483648\n100\n", "run mode (s or r) = speed value [cm/s]= "),
    bad_answer_case("HugeIntMotor", "99999999999 at an int prompt", "benchtest motor",
                    "99999999999\n", "PWM value [left]= "),

    // A board that never answers reads 20 cm on both sides: equal, yet no wall.
    {"SilentBoardSquaring",
     "ultrasonic board silent",
     "benchtest direction (squaring only)",
     with(wall_bay, "uss_silent"),
     "exec benchtest direction",
     "0\n",
     {"正体補正スタート", "uss_l=99999   uss_r= 99999", "正体補正 失敗！Program stopped"},
     0,
     motors::stopped},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<fault_case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
