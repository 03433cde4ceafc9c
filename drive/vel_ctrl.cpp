#include "drive/vel_ctrl.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>

#include "drive/calibration.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/rt_thread.h"

namespace {

constexpr float KP_L = 0.833f, KI_L = 0.28f, KD_L = 0.92f;
constexpr float KP_R = 0.942f, KI_R = 0.296f, KD_R = 0.92f;
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
    while (!rt_worker_stopping(tasks)) {
        if (reset_requested.exchange(false, std::memory_order_relaxed)) {
            state.err_sum_l = state.err_sum_r = state.err_prev_l = state.err_prev_r = 0.0f;
        }
        wheel_counts counts;
        encoder_get(&counts);
        vel_ctrl_refs refs{vel_l_ref.load(std::memory_order_relaxed),
                           vel_r_ref.load(std::memory_order_relaxed),
                           vel_l_ref_org.load(std::memory_order_relaxed),
                           vel_r_ref_org.load(std::memory_order_relaxed)};
        vel_ctrl_output out = vel_ctrl_step(&state, counts.left, counts.right, refs);
        vel_l.store(out.vel_l, std::memory_order_relaxed);
        vel_r.store(out.vel_r, std::memory_order_relaxed);
        motor_drive(out.command_l, out.command_r);
        usleep(DRIVE_PERIOD_US);
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

void vel_ctrl_get_refs(vel_ctrl_refs* out) {
    out->left = vel_l_ref.load(std::memory_order_relaxed);
    out->right = vel_r_ref.load(std::memory_order_relaxed);
    out->left_org = vel_l_ref_org.load(std::memory_order_relaxed);
    out->right_org = vel_r_ref_org.load(std::memory_order_relaxed);
}
