// tavi-sim: the simulated robot. Serves the device nodes, runs the physics on
// a steady clock, answers capture requests, optionally runs one command as
// its child, and writes the log, summary and map when it stops.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/capture.h"
#include "sim/devices.h"
#include "sim/physics.h"
#include "sim/record.h"
#include "sim/state.h"
#include "sim/world.h"

extern char** environ;

namespace {

struct options {
    std::string dir, world, socket, host_dir, report;
    std::vector<std::string> sets;
    double rate = 1000;
    double duration = 0;
    std::vector<std::string> command;
};

sim_shared shared;
sim_robot final_robot;

int usage(const char* why) {
    std::fprintf(stderr,
                 "tavi-sim: %s\nusage: tavi-sim --dir RUNDIR [--world FILE] [--set 'LINE']... "
                 "[--start X,Y,H] [--io CHARS] [--fault NAME[=ARG]] [--seed N] [--noise S] "
                 "[--slip S] [--socket PATH] [--host-dir DIR] [--rate HZ] [--duration S] "
                 "[--report PROGRAM] "
                 "[-- COMMAND [ARGS...]]\n",
                 why);
    return 2;
}

std::string with_spaces(std::string v, char from) {
    for (char& c : v)
        if (c == from)
            c = ' ';
    return v;
}

int parse_options(int argc, char** argv, options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i)
                o->command.push_back(argv[i]);
            break;
        }
        if (i + 1 >= argc)
            return usage(("missing value for " + a).c_str());
        std::string v = argv[++i];
        if (a == "--dir")
            o->dir = v;
        else if (a == "--world")
            o->world = v;
        else if (a == "--socket")
            o->socket = v;
        else if (a == "--host-dir")
            o->host_dir = v;
        else if (a == "--report")
            o->report = v;
        else if (a == "--set")
            o->sets.push_back(v);
        else if (a == "--start")
            o->sets.push_back("start " + with_spaces(v, ','));
        else if (a == "--io")
            o->sets.push_back("io " + v);
        else if (a == "--fault")
            o->sets.push_back("fault " + with_spaces(v, '='));
        else if (a == "--seed" || a == "--noise" || a == "--slip")
            o->sets.push_back(a.substr(2) + " " + v);
        else if (a == "--rate")
            o->rate = std::atof(v.c_str());
        else if (a == "--duration")
            o->duration = std::atof(v.c_str());
        else
            return usage(("unknown option " + a).c_str());
    }
    if (o->dir.empty())
        return usage("--dir is required");
    if (o->rate < 500 || o->rate > 20000)
        return usage("--rate must be 500..20000");
    return 0;
}

std::string absolute(const std::string& p) {
    if (!p.empty() && p[0] == '/')
        return p;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return p;
    return std::string(cwd) + "/" + p;
}

void physics_loop(const sim_world& w, double rate) {
    using clock = std::chrono::steady_clock;
    const double dt = 1.0 / rate;
    const auto period =
        std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(dt));
    const int state_every = static_cast<int>(rate * 0.020 + 0.5);
    std::mt19937 rng(w.seed);
    sim_robot r = physics_start(w);
    record_path_point(r.pose.x, r.pose.y);
    uint8_t present[kWorldMaxBoards];
    bool was_blocked = false;
    auto next = clock::now();
    for (long step = 1; !shared.stop.load(std::memory_order_relaxed); ++step) {
        state_present(shared, present);
        physics_step(w, present, &r, shared.cmd_left.load(std::memory_order_relaxed),
                     shared.cmd_right.load(std::memory_order_relaxed), dt, &rng);
        state_publish(&shared, r);
        if (r.blocked && !was_blocked)
            record_event(shared, "blocked", "wall");
        was_blocked = r.blocked;
        if (step % state_every == 0) {
            record_event(shared, "state", "");
            record_path_point(r.pose.x, r.pose.y);
        }
        next += period;
        auto now = clock::now();
        // After a long stall (a debugger, a starved machine) carry on from
        // now instead of racing through the missed steps.
        if (now - next > std::chrono::milliseconds(100))
            next = now;
        std::this_thread::sleep_until(next);
    }
    record_path_point(r.pose.x, r.pose.y);
    final_robot = r;
}

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

// Runs `program RUNDIR` once the log, summary and map are written (the
// run's report and plot); its failure is reported and changes nothing else.
void run_report(const std::string& program, const std::string& dir) {
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
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    if (rc != 0)
        std::fprintf(stderr, "tavi-sim: report %s: %s\n", program.c_str(), std::strerror(rc));
    else if (waitpid(pid, &status, 0) == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        std::fprintf(stderr, "tavi-sim: report %s failed\n", program.c_str());
}

int wait_status_code(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

// Runs the command, passing on signals meant for us; its exit code.
int run_command(const options& o, const sigset_t& sigs, const std::string& dev,
                const std::string& sock) {
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
    if (rc != 0) {
        std::fprintf(stderr, "tavi-sim: %s: %s\n", argv[0], std::strerror(rc));
        return 127;
    }
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
            if (kill_at < 0)
                kill_at = state_now(shared) + 5.0;
        }
        if (kill_at >= 0 && state_now(shared) > kill_at)
            kill(child, SIGKILL);
    }
    end_leftovers();
    return wait_status_code(status);
}

void wait_for_stop(const options& o, const sigset_t& sigs) {
    for (;;) {
        timespec ts{0, 50 * 1000 * 1000};
        int sig = sigtimedwait(&sigs, nullptr, &ts);
        if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP)
            return;
        if (sig == SIGCHLD)
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
        if (o.duration > 0 && state_now(shared) >= o.duration)
            return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    if (int rc = parse_options(argc, argv, &o))
        return rc;

    sim_world world;
    world_defaults(&world);
    std::string error;
    if (!o.world.empty() && world_load(&world, o.world, &error) != 0) {
        std::fprintf(stderr, "tavi-sim: %s\n", error.c_str());
        return 2;
    }
    for (const std::string& line : o.sets) {
        if (world_parse_line(&world, line, &error) != 0) {
            std::fprintf(stderr, "tavi-sim: --set '%s': %s\n", line.c_str(), error.c_str());
            return 2;
        }
    }

    // Signals are taken synchronously by the main thread; block them before
    // any thread exists so none of them gets one.
    sigset_t sigs;
    sigemptyset(&sigs);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&sigs, sig);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    signal(SIGPIPE, SIG_IGN);
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    mkdir(o.dir.c_str(), 0755);
    o.dir = absolute(o.dir);
    const std::string dev = o.dir + "/dev";
    mkdir(dev.c_str(), 0755);
    if (o.host_dir.empty())
        o.host_dir = o.dir + "/host";
    o.host_dir = absolute(o.host_dir);
    mkdir(o.host_dir.c_str(), 0755);
    mkdir((o.dir + "/img").c_str(), 0755);
    if (o.socket.empty())
        o.socket = o.dir + "/sim.sock";
    o.socket = absolute(o.socket);
    {
        std::ofstream eff(o.dir + "/world.txt");
        for (const std::string& line : world.lines)
            eff << line << "\n";
    }

    state_init(&shared, world);
    if (record_open(o.dir + "/log.csv") != 0 || devices_open(dev, &error) != 0 ||
        capture_open(o.socket, &error) != 0) {
        if (error.empty())
            error = o.dir + "/log.csv: cannot create";
        std::fprintf(stderr, "tavi-sim: %s\n", error.c_str());
        devices_close();
        capture_close();
        record_close();
        return 2;
    }
    record_event(shared, "start", o.world.empty() ? "empty floor" : o.world.c_str());
    final_robot = physics_start(world);
    std::thread physics(physics_loop, std::cref(world), o.rate);
    std::thread devices(devices_run, std::cref(world), &shared);
    std::thread captures(capture_run, std::cref(world), &shared);
    {
        std::ofstream ready(o.dir + "/ready");
        ready << getpid() << "\n";
    }

    int code = 0;
    if (!o.command.empty())
        code = run_command(o, sigs, dev, o.socket);
    else
        wait_for_stop(o, sigs);

    double run_time = state_now(shared);
    shared.stop.store(true);
    captures.join();
    devices.join();
    physics.join();
    record_event(shared, "stop", "");
    record_close();
    record_summary(o.dir + "/summary.txt", world, shared, final_robot, run_time);
    record_map(o.dir + "/map.png", world, shared, final_robot);
    devices_close();
    capture_close();
    if (!o.report.empty())
        run_report(o.report, o.dir);
    unlink((o.dir + "/ready").c_str());
    std::fprintf(stderr, "run dir: %s\n", o.dir.c_str());
    return code;
}
