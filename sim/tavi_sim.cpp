// tavi-sim: the simulated robot. Serves the device nodes, runs the physics on
// a steady clock, answers capture requests, optionally runs one command as
// its child, and writes the log, summary and map when it stops.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/capture.h"
#include "sim/children.h"
#include "sim/devices.h"
#include "sim/faults.h"
#include "sim/options.h"
#include "sim/physics.h"
#include "sim/record.h"
#include "sim/state.h"
#include "sim/world.h"

namespace {

sim_shared shared;
sim_robot final_robot;

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
    shared.realtime_priority.store(state_go_realtime(), std::memory_order_relaxed);
    sim_robot r = physics_start(w);
    record_path_point(r.pose.x, r.pose.y);
    uint8_t present[kWorldMaxBoards];
    bool was_blocked = false;
    auto next = clock::now();
    sim_fault_clock faults{};
    for (long step = 1; !shared.stop.load(std::memory_order_relaxed); ++step) {
        // How far this step runs behind the time it stands for: a motor
        // frame is felt that much late, and an encoder reply's counts are that
        // much old.
        state_note_max(&shared.physics_late_max,
                       std::chrono::duration<double>(clock::now() - next).count());
        state_present(shared, present);
        const double t = state_now(shared);
        faults_due(w, t, &faults, &r, &shared);
        physics_step(
            w, present, &r,
            faults_motor_command(w, 0, shared.cmd_left.load(std::memory_order_relaxed), t),
            faults_motor_command(w, 1, shared.cmd_right.load(std::memory_order_relaxed), t), dt,
            &rng);
        state_publish(&shared, r);
        shared.physics_time.store(std::chrono::duration<double>(next - shared.t0).count(),
                                  std::memory_order_relaxed);
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
        if (now - next > std::chrono::milliseconds(100)) {
            shared.physics_dropped.store(shared.physics_dropped.load(std::memory_order_relaxed) +
                                             std::chrono::duration<double>(now - next).count(),
                                         std::memory_order_relaxed);
            next = now;
        }
        std::this_thread::sleep_until(next);
    }
    record_path_point(r.pose.x, r.pose.y);
    final_robot = r;
}

void wait_for_stop(const sim_options& o, const sigset_t& sigs) {
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
    sim_options o;
    if (int rc = options_parse(argc, argv, &o))
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
        code = children_run_command(o, sigs, dev, o.socket, &shared);
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
        children_run_report(o.report, o.dir);
    unlink((o.dir + "/ready").c_str());
    std::fprintf(stderr, "run dir: %s\n", o.dir.c_str());
    return code;
}
