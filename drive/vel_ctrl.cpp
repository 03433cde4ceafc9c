#include "drive/vel_ctrl.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "drive/calibration.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/rt_thread.h"
#include "drive/supervisor.h"

namespace {

// Tuned on the robot, one set per wheel (the right wheel's proportional and
// integral gains 13 % and 6 % above the left's), and fixed: the speed loop's
// worked example (tests/drive/vel_ctrl_step_test.cpp: from rest at 20 cm/s,
// commands 40 and 43, then 27 and 30) holds only with exactly these.
constexpr float KP_L = 0.833f, KI_L = 0.28f, KD_L = 0.92f;
constexpr float KP_R = 0.942f, KI_R = 0.296f, KD_R = 0.92f;
// The largest magnitude a motor command byte carries (seven bits).
constexpr float U_MAX = 127.0f;

std::atomic<float> vel_l_ref_org{0.0f};
std::atomic<float> vel_r_ref_org{0.0f};
std::atomic<float> vel_l_ref{0.0f};
std::atomic<float> vel_r_ref{0.0f};
std::atomic<float> vel_l{0.0f};
std::atomic<float> vel_r{0.0f};

// Owned by the control thread while it runs (and handed from one thread to
// the next through join and create), so the loop needs no lock for it.
vel_ctrl_state state{};
// vel_ctrl_reset only raises this; the loop clears its memory at the start of
// its next period. Writing the errors from outside would race with a period
// in progress, which could write the old sums back over the reset.
std::atomic<bool> reset_requested{false};

rt_worker tasks;

// The run controller's hand-over (vel_ctrl_steer_*), under steer_lock.
std::mutex steer_lock;
// Never destroyed, as the sampler's (drive/encoder.cpp): the loop may still
// wait on it while the process exits.
std::condition_variable& steer_changed = *new std::condition_variable;
bool steered = false;
uint32_t steered_for = 0;  // the exchange the move's references were written for

// Waits until the running move (if any) has written its references for
// exchange `sample`, at most a period: a move that is slow to answer (its
// thread starting, its line printed at the end) costs that period's
// ordering, never the period itself.
void wait_for_references(uint32_t sample) {
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> waiting(steer_lock);
    steer_changed.wait_until(
        waiting, clock::now() + std::chrono::microseconds(DRIVE_PERIOD_US),
        [sample] { return !steered || static_cast<int32_t>(steered_for - sample) >= 0; });
}

// The next period's counts. With a sampler running, a period begins with its
// next completed exchange: the first without one comes a reply deadline
// after a whole period, each further one a period later, and is stale (the
// supervisor counts it; the counts say nothing). Without a sampler the loop
// keeps its own time and takes what is published.
struct loop_clock {
    uint32_t seen = 0;
    bool waiting_late = false;  // the last period had no exchange
    timespec began{};
    bool started = false;  // the first period runs at once
};

bool next_period(loop_clock* c, wheel_counts* counts) {
    if (!encoder_running()) {
        if (c->started) {
            usleep(DRIVE_PERIOD_US);
        }
        c->started = true;
        encoder_get(counts);
        return true;
    }
    c->started = true;
    const long wait_us = DRIVE_PERIOD_US + (c->waiting_late ? 0 : DRIVE_REPLY_DEADLINE_MS * 1000L);
    const uint32_t now_seen = encoder_wait(c->seen, rt_later(c->began, wait_us), counts);
    const bool fresh = now_seen != c->seen;
    c->seen = now_seen;
    c->waiting_late = !fresh;
    c->began = rt_now();
    if (fresh) {
        wait_for_references(now_seen);
    }
    return fresh;
}

// The latched drive fault (a supervisor_fault): set once, by the loop's
// supervisor or by vel_ctrl_trip, and never cleared while the process runs,
// so nothing a caller does afterwards can drive the wheels again.
std::atomic<int32_t> fault{SUPERVISOR_OK};

// Latches a fault unless one is latched already; the first one is the one named.
void latch(supervisor_fault f) {
    int32_t none = SUPERVISOR_OK;
    fault.compare_exchange_strong(none, f, std::memory_order_relaxed);
}

// What a latched fault does in the loop: the stop frame first, then the
// controller's memory cleared so nothing lurches if the references are ever
// obeyed again, then the one line that names the fault (a held terminal may
// block the print; the wheels are stopped already).
void stop_for_fault(bool* announced) {
    motor_drive(0, 0);
    state = vel_ctrl_state{};
    if (!*announced) {
        *announced = true;
        printf("%s\n", supervisor_text(
                           static_cast<supervisor_fault>(fault.load(std::memory_order_relaxed))));
    }
}

float pid(float ref, float measured, float* err_sum, float* err_prev, float kp, float ki,
          float kd) {
    float e = ref - measured;
    *err_sum = *err_sum + e;
    float d = e - *err_prev;
    *err_prev = e;
    double u = static_cast<double>(kp) * e + static_cast<double>(ki) * *err_sum +
               static_cast<double>(kd) * d;
    if (u > U_MAX) {
        u = U_MAX;
    } else if (u < -U_MAX) {
        u = -U_MAX;
    }
    return static_cast<float>(u);
}

void* thread_code(void*) {
    supervisor_state watch{};
    // The command the wheels have been given, which the counts of the next
    // period answer.
    int command_l = 0;
    int command_r = 0;
    bool announced = false;
    loop_clock period{encoder_samples(), false, rt_now()};
    while (!rt_worker_stopping(tasks)) {
        wheel_counts counts{};
        const bool fresh = next_period(&period, &counts);
        if (rt_worker_stopping(tasks)) {
            break;
        }
        if (reset_requested.exchange(false, std::memory_order_relaxed)) {
            state.err_sum_l = state.err_sum_r = state.err_prev_l = state.err_prev_r = 0.0f;
        }
        vel_ctrl_refs refs{vel_l_ref.load(std::memory_order_relaxed),
                           vel_r_ref.load(std::memory_order_relaxed),
                           vel_l_ref_org.load(std::memory_order_relaxed),
                           vel_r_ref_org.load(std::memory_order_relaxed)};
        const bool regulating = refs.left_org != 0.0f || refs.right_org != 0.0f;
        if (fault.load(std::memory_order_relaxed) == SUPERVISOR_OK) {
            latch(supervisor_step(
                &watch, {counts.left, counts.right, fresh, regulating, command_l, command_r}));
        }
        if (fault.load(std::memory_order_relaxed) != SUPERVISOR_OK) {
            stop_for_fault(&announced);
            command_l = command_r = 0;
        } else if (!fresh && regulating) {
            // No exchange this period: a wheel at rest and a silent encoder
            // look alike, and stale counts would wind the integral up. The
            // wheels keep their command for the few periods until an
            // exchange completes or the supervisor calls it silence.
            motor_drive(command_l, command_r);
        } else {
            vel_ctrl_output out = vel_ctrl_step(&state, counts.left, counts.right, refs);
            vel_l.store(out.vel_l, std::memory_order_relaxed);
            vel_r.store(out.vel_r, std::memory_order_relaxed);
            motor_drive(out.command_l, out.command_r);
            command_l = out.command_l;
            command_r = out.command_r;
        }
    }
    return nullptr;
}

}  // namespace

float vel_ctrl_speed_left(int32_t count) {
    return static_cast<float>(static_cast<double>(count) *
                              static_cast<double>(DRIVE_CMS_PER_COUNT) * DRIVE_LEFT_CORRECTION);
}

float vel_ctrl_speed_right(int32_t count) {
    return static_cast<float>(static_cast<double>(count) *
                              static_cast<double>(DRIVE_CMS_PER_COUNT));
}

vel_ctrl_output vel_ctrl_step(vel_ctrl_state* st, int32_t count_l, int32_t count_r,
                              const vel_ctrl_refs& refs) {
    vel_ctrl_output out{};
    out.vel_l = vel_ctrl_speed_left(count_l);
    out.vel_r = vel_ctrl_speed_right(count_r);
    // Only the base references decide: a leftover balance correction must not
    // keep a stopped robot creeping.
    if (refs.left_org == 0.0f && refs.right_org == 0.0f) {
        out.stopped = true;
        return out;
    }
    // A non-finite reference has no meaning as a speed, and a NaN output cast
    // to int is full reverse on x86: such a period commands 0, and the loop's
    // memory is left as it was rather than poisoned with the NaN.
    if (!std::isfinite(refs.left) || !std::isfinite(refs.right)) {
        return out;
    }
    st->u_l = pid(refs.left, out.vel_l, &st->err_sum_l, &st->err_prev_l, KP_L, KI_L, KD_L);
    st->u_r = pid(refs.right, out.vel_r, &st->err_sum_r, &st->err_prev_r, KP_R, KI_R, KD_R);
    if (!std::isfinite(st->u_l) || !std::isfinite(st->u_r)) {
        return out;
    }
    out.command_l = static_cast<int>(st->u_l);
    out.command_r = static_cast<int>(st->u_r);
    return out;
}

void vel_ctrl_set(float left, float right) {
    vel_l_ref.store(left, std::memory_order_relaxed);
    vel_r_ref.store(right, std::memory_order_relaxed);
    vel_l_ref_org.store(left, std::memory_order_relaxed);
    vel_r_ref_org.store(right, std::memory_order_relaxed);
}

void vel_ctrl_mod(float left, float right) {
    vel_l_ref.store(vel_l_ref_org.load(std::memory_order_relaxed) + left,
                    std::memory_order_relaxed);
    vel_r_ref.store(vel_r_ref_org.load(std::memory_order_relaxed) + right,
                    std::memory_order_relaxed);
}

void vel_ctrl_get_speed(float* left, float* right) {
    *left = vel_l.load(std::memory_order_relaxed);
    *right = vel_r.load(std::memory_order_relaxed);
}

int vel_ctrl_reset() {
    reset_requested.store(true, std::memory_order_relaxed);
    vel_l_ref.store(0.0f, std::memory_order_relaxed);
    vel_r_ref.store(0.0f, std::memory_order_relaxed);
    vel_l_ref_org.store(0.0f, std::memory_order_relaxed);
    vel_r_ref_org.store(0.0f, std::memory_order_relaxed);
    return 0;
}

int vel_ctrl_cancel() {
    // The loop is ended and joined first, so the stop frame below is the last
    // frame the controller ever sends.
    const int result = rt_worker_stop(&tasks);
    motor_drive(0, 0);
    return result;
}

void vel_ctrl_create() {
    // A second loop would fight the first over the motors; replace it instead.
    rt_worker_stop(&tasks);
    rt_worker_start(&tasks, thread_code, "plicy");
    printf("Velocity Control thread created!     thread_id=%d\n", rt_thread_id_value(tasks.handle));
}

void vel_ctrl_steer_begin(uint32_t sample) {
    const std::lock_guard<std::mutex> steering(steer_lock);
    steered = true;
    steered_for = sample;
}

void vel_ctrl_steer_done(uint32_t sample) {
    {
        const std::lock_guard<std::mutex> steering(steer_lock);
        steered_for = sample;
    }
    steer_changed.notify_all();
}

void vel_ctrl_steer_end() {
    {
        const std::lock_guard<std::mutex> steering(steer_lock);
        steered = false;
    }
    steer_changed.notify_all();
}

supervisor_fault vel_ctrl_fault() {
    return static_cast<supervisor_fault>(fault.load(std::memory_order_relaxed));
}

void vel_ctrl_trip(supervisor_fault reason) {
    latch(reason);
}

void vel_ctrl_get_refs(vel_ctrl_refs* out) {
    out->left = vel_l_ref.load(std::memory_order_relaxed);
    out->right = vel_r_ref.load(std::memory_order_relaxed);
    out->left_org = vel_l_ref_org.load(std::memory_order_relaxed);
    out->right_org = vel_r_ref_org.load(std::memory_order_relaxed);
}
