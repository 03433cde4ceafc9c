#include "drive/run_ctrl.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "drive/calibration.h"
#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/rt_thread.h"
#include "drive/run_ctrl_testing.h"
#include "drive/supervisor.h"
#include "drive/vel_ctrl.h"

namespace {

std::atomic<int32_t> run_mode{0};
std::atomic<float> run_speed{0.0f};
std::atomic<float> run_dist{0.0f};
std::atomic<int32_t> dist_flag{0};
std::atomic<int32_t> ctrl_endflag{0};
std::atomic<float> Kf_r{0.3f};
std::atomic<float> Kf_r_org{0.0f};

// A finished move's thread is joined (reclaimed) exactly once, by the next
// create or by a cancel, and its handle is never named after that.
rt_worker task_id;

// The exchange count the move starts from, set by run_ctrl_create before
// the thread exists.
std::atomic<uint32_t> start_sample{0};

// The distances of the next completed exchange, or false when none came in
// time (the speed loop judges that silence; this thread only looks again at
// the fault and its stop). Without a sampler the thread keeps its own time.
bool next_distances(uint32_t* seen, timespec* began, distance_pair* dist) {
    if (!encoder_running()) {
        usleep(DRIVE_PERIOD_US);
        distance_get(dist);
        return true;
    }
    wheel_counts c{};
    const uint32_t now_seen = encoder_wait(
        *seen, rt_later(*began, DRIVE_PERIOD_US + DRIVE_REPLY_DEADLINE_MS * 1000L), &c);
    *began = rt_now();
    if (now_seen == *seen) {
        return false;
    }
    *seen = now_seen;
    *dist = distance_from_sums(c.left_sum, c.right_sum);
    return true;
}

void* thread_code(void*) {
    Kf_r_org.store(Kf_r.load(std::memory_order_relaxed), std::memory_order_relaxed);
    run_ctrl_balance balance{0.0f, 0.0f};
    int32_t periods = 0;
    uint32_t seen = start_sample.load(std::memory_order_relaxed);
    timespec began = rt_now();
    // The first period runs at once, on the odometry create has just reset:
    // the move has been set up before create.
    distance_pair dist{};
    distance_get(&dist);
    while (!rt_worker_stopping(task_id)) {
        // A drive fault ends the move where it stands: the speed loop has
        // stopped the wheels, and a caller waiting for the end flag must not
        // wait for ever. No "sum_diff_l_r" line: the target was not reached.
        if (vel_ctrl_fault() != SUPERVISOR_OK) {
            vel_ctrl_set(0.0f, 0.0f);
            vel_ctrl_steer_end();
            ctrl_endflag.store(1, std::memory_order_relaxed);
            return nullptr;
        }
        const run_ctrl_inputs in{.left = dist.left,
                                 .right = dist.right,
                                 .mode = run_mode.load(std::memory_order_relaxed),
                                 .speed = run_speed.load(std::memory_order_relaxed),
                                 .dist = run_dist.load(std::memory_order_relaxed),
                                 .dist_flag = dist_flag.load(std::memory_order_relaxed),
                                 .kfr = Kf_r.load(std::memory_order_relaxed)};
        if (in.dist_flag == 1 && run_ctrl_overdue(in, ++periods)) {
            vel_ctrl_trip(SUPERVISOR_MOVE_OVERDUE);
            continue;  // latched at once: the check above ends the move
        }
        run_ctrl_action a = run_ctrl_step(in, &balance);
        if (a.ended) {
            // Wheels first: a terminal held with Ctrl-S or a full pipe can block
            // the print for as long as it likes, and the move must not drive on.
            vel_ctrl_set(0.0f, 0.0f);
            vel_ctrl_steer_end();
            printf("sum_diff_l_r=%5.1f\n", static_cast<double>(balance.sum_diff_l_r));
            ctrl_endflag.store(1, std::memory_order_relaxed);
            return nullptr;
        }
        if (a.set) {
            vel_ctrl_set(a.set_left, a.set_right);
        }
        if (a.mod) {
            vel_ctrl_mod(a.mod_left, a.mod_right);
        }
        vel_ctrl_steer_done(seen);
        while (!rt_worker_stopping(task_id) && vel_ctrl_fault() == SUPERVISOR_OK &&
               !next_distances(&seen, &began, &dist)) {
        }
    }
    vel_ctrl_steer_end();
    return nullptr;
}

}  // namespace

void run_ctrl_set(int mode, float speed) {
    run_speed.store(speed, std::memory_order_relaxed);
    run_mode.store(mode, std::memory_order_relaxed);
    if (mode == RUN_STRAIGHT) {
        printf("straight mode selected\n");
        vel_ctrl_set(speed, speed);
    } else if (mode == RUN_ROTATE) {
        printf("rotae mode selected\n");
        vel_ctrl_set(static_cast<float>(DRIVE_ROTATION_FACTOR * speed),
                     static_cast<float>(-DRIVE_ROTATION_FACTOR * speed));
    } else {
        vel_ctrl_set(0.0f, 0.0f);
    }
}

void run_ctrl_set_dist(float dist) {
    ctrl_endflag.store(0, std::memory_order_relaxed);
    dist_flag.store(1, std::memory_order_relaxed);
    run_dist.store(dist, std::memory_order_relaxed);
}

void run_ctrl_unset_dist() {
    run_dist.store(0.0f, std::memory_order_relaxed);
    dist_flag.store(0, std::memory_order_relaxed);
}

void run_ctrl_set_Kfr(float kfr) {
    Kf_r.store(kfr, std::memory_order_relaxed);
}

void run_ctrl_reset_Kfr() {
    Kf_r.store(Kf_r_org.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

float run_ctrl_get_Kfr() {
    return Kf_r.load(std::memory_order_relaxed);
}

void run_ctrl_stop() {
    vel_ctrl_set(0.0f, 0.0f);
}

void run_ctrl_reset() {
    distance_reset();
}

void run_ctrl_cancel() {
    ctrl_endflag.store(0, std::memory_order_relaxed);
    rt_worker_stop(&task_id);
    // A move that ended while being cancelled has raised the flag again.
    ctrl_endflag.store(0, std::memory_order_relaxed);
}

void run_ctrl_create() {
    // One move at a time: a finished move is reclaimed here, and one still
    // running (the caller forgot to cancel it) is ended rather than left to
    // fight the new one over the references.
    rt_worker_stop(&task_id);
    ctrl_endflag.store(0, std::memory_order_relaxed);
    distance_reset();
    // Read after the reset: every exchange after this one counts from it.
    start_sample.store(encoder_samples(), std::memory_order_relaxed);
    vel_ctrl_steer_begin(start_sample.load(std::memory_order_relaxed));
    if (rt_worker_start(&task_id, thread_code, "plicy") != 0) {
        vel_ctrl_steer_end();
    }
}

int run_ctrl_get_endflag() {
    return ctrl_endflag.load(std::memory_order_relaxed);
}

void run_ctrl_testing_reset() {
    rt_worker_stop(&task_id);
    run_mode.store(0);
    run_speed.store(0.0f);
    run_dist.store(0.0f);
    dist_flag.store(0);
    ctrl_endflag.store(0);
    Kf_r.store(0.3f);
    Kf_r_org.store(0.0f);
    vel_ctrl_set(0.0f, 0.0f);
    distance_reset();
}
