// Test helpers for running the unchanged modules and programs against
// emulated device nodes: a private device directory, FIFO and pseudo-terminal
// nodes, byte exchange with bounded waits, stdout capture and child processes
// with a time-out. Every wait here is bounded, so a broken module makes a test
// fail instead of hanging the suite.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a test changes of its process for a while: each object undoes its
// change when it goes. Create them before any thread reads the environment
// (at the start of a test or fixture).

// A fresh temporary folder, removed with all it holds.
struct emu_temp_dir {
    emu_temp_dir();
    ~emu_temp_dir();
    emu_temp_dir(const emu_temp_dir&) = delete;
    emu_temp_dir& operator=(const emu_temp_dir&) = delete;

    std::string path;
};

// An environment variable set to value (cleared when value is null), then
// restored as it was.
struct emu_scoped_env {
    emu_scoped_env(const char* name, const char* value);
    ~emu_scoped_env();
    emu_scoped_env(const emu_scoped_env&) = delete;
    emu_scoped_env& operator=(const emu_scoped_env&) = delete;

  private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// A folder first on PATH, as the stand-in commands of a test need.
struct emu_path_first : emu_scoped_env {
    explicit emu_path_first(const std::string& folder);
};

// The process works in a folder.
struct emu_scoped_cwd {
    explicit emu_scoped_cwd(const std::string& folder);
    ~emu_scoped_cwd();
    emu_scoped_cwd(const emu_scoped_cwd&) = delete;
    emu_scoped_cwd& operator=(const emu_scoped_cwd&) = delete;

    std::string previous;
};

// A fresh temporary folder exported as TAVI_DEVICE_DIR.
struct emu_device_dir {
    // "<dir>/<name>"
    std::string node(const char* name) const;

    emu_temp_dir dir;
    const std::string path = dir.path;
    emu_scoped_env exported{"TAVI_DEVICE_DIR", path.c_str()};
};

// Makes a FIFO "<TAVI_DEVICE_DIR>/<name>" and opens the test's own end of it
// read-write and non-blocking (so neither side blocks on open and the data
// survives the module closing its end). Returns the test's descriptor, -1 on
// failure. What the module writes is read back from it; what the test writes
// there the module reads.
int emu_fifo_node(const emu_device_dir& dir, const char* name);

// A raw pseudo-terminal standing in for a serial-like device: the slave is
// symlinked as "<dir>/<name>" and set raw (no echo, no line discipline, no
// output translation) with VMIN = vmin, VTIME = 0, so a blocking read of vmin
// bytes returns them together. The slave stays open inside the pty so the
// master never sees a hang-up when the module closes its end.
struct emu_pty {
    int master = -1;  // the test's end: read what the module wrote, write replies
    int slave_keep = -1;
    std::string slave_path;
};
emu_pty emu_pty_node(const emu_device_dir& dir, const char* name, int vmin = 2);
void emu_pty_close(emu_pty* pty);

// Reads until `count` bytes have arrived or `timeout_ms` has passed since the
// call; returns what arrived (possibly fewer bytes).
std::vector<uint8_t> emu_read_bytes(int fd, std::size_t count, int timeout_ms);
// Reads everything that arrives until no byte has come for `quiet_ms`, or
// `timeout_ms` in total has passed.
std::vector<uint8_t> emu_drain(int fd, int quiet_ms, int timeout_ms);
// Writes all bytes, waiting at most timeout_ms for room; true when all went out.
bool emu_write_bytes(int fd, const std::vector<uint8_t>& bytes, int timeout_ms);
// Waits until fd is readable; true if so within timeout_ms.
bool emu_wait_readable(int fd, int timeout_ms);

// Runs fn with standard output captured and returns what it printed (C stdio
// and iostreams both; stdout is flushed before the capture ends).
std::string emu_capture_stdout(const std::function<void()>& fn);

// Polls pred every few milliseconds (sleeping in between) until it is true or
// timeout_ms has passed; returns the last value of pred.
bool emu_wait_until(const std::function<bool()>& pred, int timeout_ms);

// A child process with its standard output (and standard error, when asked)
// collected through a pipe and a scripted standard input.
struct emu_child {
    pid_t pid = -1;
    int out_fd = -1;  // read end of the child's stdout
    std::string output;
};
struct emu_child_result {
    bool timed_out = false;  // killed with SIGKILL after the time-out
    int status = 0;          // raw wait status (WIFEXITED / WIFSIGNALED apply)
    std::string output;      // everything the child printed on stdout
};

// Forks; the child sets up stdin (the given text, then end of file) and stdout,
// optionally changes directory, runs fn and exits with its result (stdout
// flushed). Call only while the test process runs no other thread of its own.
emu_child emu_spawn_func(const std::function<int()>& fn, const std::string& stdin_text = "",
                         const std::string& workdir = "");
// Forks and executes argv[0] (a path) with the given arguments.
emu_child emu_spawn_program(const std::vector<std::string>& argv,
                            const std::string& stdin_text = "", const std::string& workdir = "");
// Collects output until the child ends or timeout_ms passes (then SIGKILL),
// reaps it and closes the pipe.
emu_child_result emu_child_finish(emu_child* child, int timeout_ms);
// Reads the child's output that has arrived so far into child->output without
// waiting for its end; returns true when `text` has appeared, waiting at most
// timeout_ms for it.
bool emu_child_wait_output(emu_child* child, const std::string& text, int timeout_ms);
// The same, until `text` has appeared `count` times.
bool emu_child_wait_count(emu_child* child, const std::string& text, int count, int timeout_ms);

// Convenience: spawn + finish.
emu_child_result emu_run_func(const std::function<int()>& fn, int timeout_ms,
                              const std::string& stdin_text = "");
emu_child_result emu_run_program(const std::vector<std::string>& argv, int timeout_ms,
                                 const std::string& stdin_text = "",
                                 const std::string& workdir = "");

// How often `what` occurs in `text`, counting from the end of each find.
std::size_t emu_count_of(const std::string& text, const std::string& what);
// A file's whole content, byte for byte ("" when it cannot be read).
std::string emu_read_file(const std::string& path);

// Path of a program built into the build tree's bin folder.
std::string emu_bin_path(const char* program);
