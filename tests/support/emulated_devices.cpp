#include "tests/support/emulated_devices.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

int remaining_ms(clock_type::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

clock_type::time_point after_ms(int ms) {
    return clock_type::now() + std::chrono::milliseconds(ms);
}

// Reads what is available now (fd is polled first); returns bytes read, 0 on
// end of file, -1 when nothing was there.
ssize_t read_some(int fd, uint8_t* buf, std::size_t len, int wait_ms) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, wait_ms);
    if (r <= 0) {
        return -1;
    }
    ssize_t n = read(fd, buf, len);
    if (n < 0) {
        // A pty master reports EIO once no slave is open: treat it as the end.
        return (errno == EAGAIN || errno == EINTR) ? -1 : 0;
    }
    return n;
}

// The child's side of a spawn: stdin from a temporary file holding the text,
// stdout into the pipe, its own process group so a time-out takes the whole
// group (a shell and what it started).
void child_setup(int out_write, int out_read, FILE* input, const std::string& workdir) {
    setpgid(0, 0);
    dup2(fileno(input), STDIN_FILENO);
    dup2(out_write, STDOUT_FILENO);
    close(out_write);
    close(out_read);
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) {
        _exit(126);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

emu_child spawn(const std::function<void(void)>& in_child, const std::string& stdin_text,
                const std::string& workdir) {
    emu_child child;
    FILE* input = tmpfile();
    if (input == nullptr) {
        return child;
    }
    fwrite(stdin_text.data(), 1, stdin_text.size(), input);
    fflush(input);
    rewind(input);
    int out[2];
    if (pipe(out) != 0) {
        fclose(input);
        return child;
    }
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        child_setup(out[1], out[0], input, workdir);
        in_child();
        _exit(127);
    }
    fclose(input);
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return child;
    }
    fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
    child.pid = pid;
    child.out_fd = out[0];
    return child;
}

// Appends what the child has printed, waiting at most wait_ms; false at end of file.
bool collect(emu_child* child, int wait_ms) {
    uint8_t buf[4096];
    ssize_t n = read_some(child->out_fd, buf, sizeof buf, wait_ms);
    if (n == 0) {
        return false;
    }
    if (n > 0) {
        child->output.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

emu_temp_dir::emu_temp_dir() {
    char tmpl[] = "/tmp/tavi-test-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) {
        path = tmpl;
    } else {
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    }
}

emu_temp_dir::~emu_temp_dir() {
    if (!path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

emu_scoped_env::emu_scoped_env(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

emu_scoped_env::~emu_scoped_env() {
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

namespace {

std::string path_with_first(const std::string& folder) {
    const char* path = getenv("PATH");
    return folder + ":" + (path != nullptr ? path : "/usr/bin:/bin");
}

}  // namespace

emu_path_first::emu_path_first(const std::string& folder)
    : emu_scoped_env("PATH", path_with_first(folder).c_str()) {}

emu_scoped_cwd::emu_scoped_cwd(const std::string& folder)
    : previous(std::filesystem::current_path().string()) {
    std::filesystem::current_path(folder);
}

emu_scoped_cwd::~emu_scoped_cwd() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
}

std::string emu_device_dir::node(const char* name) const {
    return path + "/" + name;
}

int emu_fifo_node(const emu_device_dir& dir, const char* name) {
    std::string p = dir.node(name);
    if (mkfifo(p.c_str(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo " << p << ": " << strerror(errno);
        return -1;
    }
    int fd = open(p.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        ADD_FAILURE() << "open " << p << ": " << strerror(errno);
    }
    return fd;
}

emu_pty emu_pty_node(const emu_device_dir& dir, const char* name, int vmin) {
    emu_pty pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        ADD_FAILURE() << "posix_openpt: " << strerror(errno);
        return pty;
    }
    char name_buf[128];
    if (ptsname_r(pty.master, name_buf, sizeof name_buf) != 0) {
        ADD_FAILURE() << "ptsname_r: " << strerror(errno);
        return pty;
    }
    pty.slave_path = name_buf;
    pty.slave_keep = open(name_buf, O_RDWR | O_NOCTTY);
    termios t{};
    if (pty.slave_keep < 0 || tcgetattr(pty.slave_keep, &t) != 0) {
        ADD_FAILURE() << "slave " << name_buf << ": " << strerror(errno);
        return pty;
    }
    cfmakeraw(&t);
    t.c_cc[VMIN] = static_cast<cc_t>(vmin);
    t.c_cc[VTIME] = 0;
    tcsetattr(pty.slave_keep, TCSANOW, &t);
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    std::string link = dir.node(name);
    if (symlink(name_buf, link.c_str()) != 0) {
        ADD_FAILURE() << "symlink " << link << ": " << strerror(errno);
    }
    return pty;
}

void emu_pty_close(emu_pty* pty) {
    if (pty->master >= 0) {
        close(pty->master);
    }
    if (pty->slave_keep >= 0) {
        close(pty->slave_keep);
    }
    pty->master = -1;
    pty->slave_keep = -1;
}

std::vector<uint8_t> emu_read_bytes(int fd, std::size_t count, int timeout_ms) {
    std::vector<uint8_t> got;
    auto deadline = after_ms(timeout_ms);
    uint8_t buf[256];
    while (got.size() < count) {
        std::size_t want = std::min(sizeof buf, count - got.size());
        ssize_t n = read_some(fd, buf, want, std::min(remaining_ms(deadline), 20));
        if (n == 0) {
            break;
        }
        if (n > 0) {
            got.insert(got.end(), buf, buf + n);
        } else if (remaining_ms(deadline) == 0) {
            break;
        }
    }
    return got;
}

std::vector<uint8_t> emu_drain(int fd, int quiet_ms, int timeout_ms) {
    std::vector<uint8_t> got;
    auto deadline = after_ms(timeout_ms);
    uint8_t buf[256];
    while (remaining_ms(deadline) > 0) {
        ssize_t n = read_some(fd, buf, sizeof buf, std::min(quiet_ms, remaining_ms(deadline)));
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

bool emu_write_bytes(int fd, const std::vector<uint8_t>& bytes, int timeout_ms) {
    auto deadline = after_ms(timeout_ms);
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0) {
            return false;
        }
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool emu_wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLIN) != 0;
}

std::string emu_capture_stdout(const std::function<void()>& fn) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::cout.flush();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

bool emu_wait_until(const std::function<bool()>& pred, int timeout_ms) {
    auto deadline = after_ms(timeout_ms);
    while (!pred()) {
        if (remaining_ms(deadline) == 0) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

emu_child emu_spawn_func(const std::function<int()>& fn, const std::string& stdin_text,
                         const std::string& workdir) {
    return spawn(
        [&fn] {
            int rc = fn();
            fflush(stdout);
            std::cout.flush();
            _exit(rc);
        },
        stdin_text, workdir);
}

emu_child emu_spawn_program(const std::vector<std::string>& argv, const std::string& stdin_text,
                            const std::string& workdir) {
    return spawn(
        [&argv] {
            std::vector<char*> args;
            for (const std::string& a : argv) {
                args.push_back(const_cast<char*>(a.c_str()));
            }
            args.push_back(nullptr);
            execv(args[0], args.data());
            perror("execv");
            _exit(127);
        },
        stdin_text, workdir);
}

emu_child_result emu_child_finish(emu_child* child, int timeout_ms) {
    emu_child_result result;
    if (child->pid < 0) {
        ADD_FAILURE() << "child was not started";
        result.timed_out = true;
        return result;
    }
    auto deadline = after_ms(timeout_ms);
    bool open = true;
    bool exited = false;
    clock_type::time_point exit_seen{};
    while (true) {
        if (open) {
            open = collect(child, 5);
        }
        if (!exited) {
            pid_t r = waitpid(child->pid, &result.status, WNOHANG);
            if (r == child->pid) {
                exited = true;
                exit_seen = clock_type::now();
            }
        }
        // A grandchild may keep the pipe open; give it a moment after the exit.
        if (exited && (!open || clock_type::now() - exit_seen > std::chrono::milliseconds(200))) {
            break;
        }
        if (!exited && remaining_ms(deadline) == 0) {
            kill(-child->pid, SIGKILL);
            kill(child->pid, SIGKILL);
            waitpid(child->pid, &result.status, 0);
            result.timed_out = true;
            while (open && collect(child, 0)) {
                if (!emu_wait_readable(child->out_fd, 0)) {
                    break;
                }
            }
            break;
        }
        if (!open) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    close(child->out_fd);
    child->out_fd = -1;
    child->pid = -1;
    result.output = child->output;
    return result;
}

bool emu_child_wait_count(emu_child* child, const std::string& text, int count, int timeout_ms) {
    auto occurrences = [&] { return static_cast<int>(emu_count_of(child->output, text)); };
    auto deadline = after_ms(timeout_ms);
    while (occurrences() < count) {
        if (remaining_ms(deadline) == 0 || !collect(child, std::min(remaining_ms(deadline), 10))) {
            return occurrences() >= count;
        }
    }
    return true;
}

bool emu_child_wait_output(emu_child* child, const std::string& text, int timeout_ms) {
    return emu_child_wait_count(child, text, 1, timeout_ms);
}

emu_child_result emu_run_func(const std::function<int()>& fn, int timeout_ms,
                              const std::string& stdin_text) {
    emu_child child = emu_spawn_func(fn, stdin_text);
    return emu_child_finish(&child, timeout_ms);
}

emu_child_result emu_run_program(const std::vector<std::string>& argv, int timeout_ms,
                                 const std::string& stdin_text, const std::string& workdir) {
    emu_child child = emu_spawn_program(argv, stdin_text, workdir);
    return emu_child_finish(&child, timeout_ms);
}

std::size_t emu_count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

std::string emu_read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string emu_bin_path(const char* program) {
    return std::string(TAVI_BUILD_DIR "/bin/") + program;
}
