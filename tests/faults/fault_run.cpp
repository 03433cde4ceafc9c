#include "tests/faults/fault_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace faults {

const char* const long_legs_skip =
    "under ThreadSanitizer the control periods run several times slower than on the robot, and "
    "the demonstration's 80 cm/s legs can swing into a wall; the fault is checked in the plain "
    "and the other builds";

std::string shell_quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

bool lacks_python(const std::string& command) {
    return command.find("python3 ") != std::string::npos &&
           std::system("command -v python3 >/dev/null 2>&1") != 0;
}

std::string exec_of(const std::string& program) {
    return "exec " + program.substr(0, program.find(" ("));
}

namespace {

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
void derive(std::map<std::string, std::string>* s) {
    const std::string r1 = s->count("uss1_reading") ? s->at("uss1_reading") : "none";
    const std::string r2 = s->count("uss2_reading") ? s->at("uss2_reading") : "none";
    (*s)["uss_line"] = uss_pair(shown_cm(r1), shown_cm(r2));
    (*s)["uss_line_late"] = uss_pair(shown_late_cm(r1), shown_late_cm(r2));
}

std::string substitute(const std::string& line, const std::map<std::string, std::string>& s) {
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

std::string table_cell(const std::string& text) {
    std::string cell;
    for (char c : text) {
        cell += c == '|' ? std::string("\\|") : std::string(1, c);
    }
    return "`" + cell + "`";
}

}  // namespace

frame_gap longest_gap(const std::vector<motor_frame>& frames) {
    frame_gap gap;
    bool in_longest = false;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].time - frames[i - 1].time > gap.seconds) {
            gap = {frames[i].time - frames[i - 1].time, frames[i - 1].hex, false};
            in_longest = true;
        }
        if (in_longest && !sim_is_stop_frame(frames[i].hex)) {
            gap.driven_after = true;
        }
    }
    return gap;
}

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

void FaultRun::start(const std::vector<std::string>& sim_args, const std::string& command,
                     const std::string& input) {
    sim.start(sim_args, {"sh", "-c", command}, input);
}

void FaultRun::stop_when_printed(const stop_with& stop, int timeout_ms) {
    if (stop.sig != 0) {
        EXPECT_TRUE(emu_child_wait_count(&sim.child, stop.after, stop.count, timeout_ms))
            << "never printed " << stop.after << "\n"
            << sim.child.output;
        kill(stop.to_job ? -sim.child.pid : sim.child.pid, stop.sig);
    }
}

void FaultRun::expect_job_gone(pid_t job) {
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = kill(-job, 0) != 0;
        usleep(gone ? 0 : 20000);
    }
    EXPECT_TRUE(gone) << "a process of the job is still running";
}

void FaultRun::finish(int timeout_ms, outcome* o) {
    static_cast<sim_result&>(*o) = sim.finish(timeout_ms);
    // Neither hung nor crashed: it ended by itself with its own status, or of
    // the signal it was sent (the launcher reports 128 + the signal).
    ASSERT_FALSE(o->timed_out) << "still running after " << timeout_ms << " ms\n" << o->output;
    ASSERT_TRUE(WIFEXITED(o->status)) << "launcher killed by signal " << WTERMSIG(o->status);
    o->lines = terminal_lines(o->output);
    ASSERT_FALSE(o->summary.empty()) << "no summary in " << o->dir << "\n" << o->output;
    derive(&o->summary);
    o->summary["dir"] = o->dir;
}

void FaultRun::expect_lines(const outcome& o, const std::vector<std::string>& want,
                            std::vector<std::string>* seen) {
    std::size_t at = 0;
    for (const std::string& pattern : want) {
        const std::string line = substitute(pattern, o.summary);
        std::size_t i = at;
        while (i < o.lines.size() && o.lines[i] != line) {
            ++i;
        }
        ASSERT_LT(i, o.lines.size()) << "missing line (in order): \"" << line << "\"\n" << o.output;
        seen->push_back(line);
        at = i + 1;
    }
}

void FaultRun::expect_wheels(const outcome& o, motors wheels) {
    const auto& s = o.summary;
    if (wheels == motors::stopped) {
        sim_expect_stopped(o);
    } else {
        EXPECT_EQ(s.at("motor_frames"), "0");
        EXPECT_EQ(s.at("last_motor_frame"), "none");
        EXPECT_EQ(s.at("distance_travelled"), "0.00");
    }
}

namespace {

// The time of the first log.csv row of `event`, -1 when there is none.
double first_event(const outcome& o, const std::string& event) {
    std::istringstream log(emu_read_file(o.dir + "/log.csv"));
    const std::string field = "," + event + ",";
    std::string row;
    while (std::getline(log, row)) {
        const std::size_t comma = row.find(',');
        if (comma != std::string::npos && row.compare(comma, field.size(), field) == 0) {
            return std::atof(row.c_str());
        }
    }
    return -1;
}

}  // namespace

void FaultRun::expect_stopped_within(const outcome& o, double seconds) {
    const double injected = first_event(o, "fault");
    const double stopped = first_event(o, "fault_stop");
    ASSERT_GE(injected, 0) << "no fault in " << o.dir << "/log.csv";
    ASSERT_GE(stopped, 0) << "no stop frame after the fault in " << o.dir << "/log.csv";
    // The bounds hold the robot's timing, not the emulator's; the lines and the
    // stop frame are still asked of it.
    if (!sim_under_emulator()) {
        EXPECT_LE(stopped - injected, seconds)
            << "fault at " << injected << " s, stop at " << stopped;
    }
}

void FaultRun::expect_ended_within(const outcome& o, int ms) {
    const double signalled = first_event(o, "signal");
    ASSERT_GE(signalled, 0) << "no signal in " << o.dir << "/log.csv";
    if (sim_under_emulator()) {
        return;
    }
    EXPECT_LE(o.number("run_time") - signalled, ms / 1000.0)
        << "signal at " << signalled << " s, program ended at " << o.value("run_time");
}

void FaultRun::expect_cut_mid_move(const outcome& o, const std::string& last_line_has) {
    ASSERT_FALSE(o.lines.empty());
    EXPECT_NE(o.lines.back().find(last_line_has), std::string::npos) << o.lines.back();
    EXPECT_EQ(o.output.back(), '\n');
    ASSERT_GE(o.frames.size(), 2u);
    EXPECT_FALSE(sim_is_stop_frame(o.frames[o.frames.size() - 2].hex))
        << "the wheels were not driven when the signal came";
    EXPECT_GT(std::atof(o.summary.at("distance_travelled").c_str()), 1.0);
}

// One row of docs/faults.md, appended in one write so parallel cases never mix.
void FaultRun::record(const std::string& fault, const std::string& program,
                      const std::vector<std::string>& seen, const outcome& o, motors wheels) {
    const char* path = std::getenv("TAVI_FAULT_TABLE");
    if (HasFailure() || path == nullptr || *path == '\0') {
        return;
    }
    std::string shown;
    for (const std::string& l : seen) {
        shown += (shown.empty() ? "" : "<br>") + table_cell(l);
    }
    const std::string& frames = o.summary.at("motor_frames");
    const std::string stopped =
        wheels == motors::stopped
            ? "yes: last of " + frames + " frames `" + o.summary.at("last_motor_frame") + "`"
            : "never commanded: " + frames + " frames, robot still";
    const std::string row = "| " + fault + " | `" + program + "` | " + shown + "<br>exit status " +
                            std::to_string(o.exit_code) + " | " + stopped + " |\n";
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t n = write(fd, row.data(), row.size());
        (void)n;
        close(fd);
    }
}

}  // namespace faults
