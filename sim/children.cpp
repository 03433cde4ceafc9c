#include "sim/children.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "sim/record.h"
#include "sim/wire.h"

extern char** environ;

namespace {

std::vector<std::string> child_env(const std::string& dev, const std::string& sock,
                                   const std::string& host) {
    std::vector<std::string> env;
    const char* own[] = {"TAVI_DEVICE_DIR=", "TAVI_SIM_SOCKET=", "TAVI_SIM_HOST_DIR="};
    for (char** e = environ; *e != nullptr; ++e) {
        bool replaced = false;
        for (const char* k : own)
            if (std::strncmp(*e, k, std::strlen(k)) == 0)
                replaced = true;
        if (!replaced)
            env.push_back(*e);
    }
    env.push_back("TAVI_DEVICE_DIR=" + dev);
    env.push_back("TAVI_SIM_SOCKET=" + sock);
    env.push_back("TAVI_SIM_HOST_DIR=" + host);
    return env;
}

// Children left behind by the command (re-parented to us as subreaper).
std::vector<pid_t> own_children() {
    std::vector<pid_t> out;
    DIR* d = opendir("/proc");
    if (d == nullptr)
        return out;
    pid_t me = getpid();
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        std::ifstream st(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(st, line))
            continue;
        size_t close_paren = line.rfind(')');
        if (close_paren == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0;
        if (std::sscanf(line.c_str() + close_paren + 1, " %c %ld", &state, &ppid) == 2 &&
            ppid == me)
            out.push_back(static_cast<pid_t>(pid));
    }
    closedir(d);
    return out;
}

void end_leftovers() {
    for (int round = 0; round < 2; ++round) {
        std::vector<pid_t> kids = own_children();
        if (kids.empty())
            break;
        for (pid_t k : kids)
            kill(k, round == 0 ? SIGTERM : SIGKILL);
        for (int i = 0; i < 100 && !own_children().empty(); ++i) {
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            usleep(20000);
        }
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

// One line of the command's output as a log detail: the log's separator,
// its quote, '%' itself and control bytes become %XX, so the report gets the
// line back byte for byte (UTF-8 included).
// *out keeps its capacity from line to line.
const char* log_detail(const std::string& line, std::string* out) {
    out->clear();
    for (unsigned char c : line) {
        if (c == ',' || c == '"' || c == '%' || c < 0x20 || c == 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            *out += hex;
        } else {
            *out += static_cast<char>(c);
        }
    }
    return out->c_str();
}

// The command's standard output passes through us: every chunk goes on to
// our standard output at once (a prompt without its newline included), and
// every line is logged as an `output` row stamped when it arrived, so the
// report can place the program's moves among the motor frames. Ends at the
// pipe's end, or once `done` is set and nothing more is waiting (a process
// left behind may hold the pipe open), or when our own output is closed:
// the pipe is closed then, so the command's next write fails as it would
// have on that output itself (`scripts/sim -- benchtest | head`). Closes fd.
void relay_output(int fd, const sim_shared* s, const std::atomic<bool>* done) {
    char buf[4096];
    // Room for the usual line and its escapes up front: a program that
    // prints every period does not make the simulator allocate every period.
    std::string line, detail;
    line.reserve(sizeof buf);
    detail.reserve(3 * sizeof buf);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int rc = poll(&p, 1, 50);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc == 0) {
            if (done->load())
                break;
            continue;
        }
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (!wire_write_all(1, buf, static_cast<size_t>(n)))  // our reader is gone
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                line += buf[i];
                continue;
            }
            record_event(*s, "output", log_detail(line, &detail));
            line.clear();
        }
    }
    if (!line.empty())
        record_event(*s, "output", log_detail(line, &detail));
    close(fd);
}

int wait_status_code(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

void children_run_report(const std::string& program, const std::string& dir) {
    // At the lowest priority: a plot drawn after one run must not take the
    // processor from another simulated run going on beside it (the tests run
    // two at a time), whose physics would then fall behind its clock.
    std::vector<std::string> args{"nice", "-n", "19", program, dir};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // Its lines are in the run's truth.txt; the terminal keeps the command's
    // output and the simulator's own line. Failures still show on standard
    // error.
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    // Under a simulator started real-time as a whole (chrt), nice alone
    // would leave the plot at that real-time priority, where it takes a
    // core from everything else for the second or two it draws.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sched_param normal{};
    posix_spawnattr_setschedpolicy(&attr, SCHED_OTHER);
    posix_spawnattr_setschedparam(&attr, &normal);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSCHEDULER);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    if (rc != 0)
        std::fprintf(stderr, "tavi-sim: report %s: %s\n", program.c_str(), std::strerror(rc));
    else if (waitpid(pid, &status, 0) == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        std::fprintf(stderr, "tavi-sim: report %s failed\n", program.c_str());
}

int children_run_command(const sim_options& o, const sigset_t& sigs, const std::string& dev,
                         const std::string& sock, sim_shared* shared) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "tavi-sim: pipe: %s\n", std::strerror(errno));
        return 127;
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, o.dir.c_str());
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<std::string> env = child_env(dev, sock, o.host_dir);
    std::vector<char*> envp, argv;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> args = o.command;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t child = -1;
    int rc = posix_spawnp(&child, argv[0], &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        std::fprintf(stderr, "tavi-sim: %s: %s\n", argv[0], std::strerror(rc));
        return 127;
    }
    std::atomic<bool> output_done{false};
    std::thread relay(relay_output, out[0], shared, &output_done);
    int status = 0;
    double kill_at = -1;
    for (;;) {
        pid_t w = waitpid(child, &status, WNOHANG);
        if (w == child)
            break;
        siginfo_t info{};
        timespec ts{0, 50 * 1000 * 1000};
        int sig = sigtimedwait(&sigs, &info, &ts);
        if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
            // A terminal's signal reached the command already; one sent to
            // us alone is passed on.
            if (info.si_code != SI_KERNEL)
                kill(child, sig);
            if (!shared->interrupted.exchange(true))
                record_event(*shared, "signal", strsignal(sig));
            if (kill_at < 0)
                kill_at = state_now(*shared) + 5.0;
        }
        if (kill_at >= 0 && state_now(*shared) > kill_at)
            kill(child, SIGKILL);
    }
    end_leftovers();
    output_done.store(true);
    relay.join();
    return wait_status_code(status);
}
