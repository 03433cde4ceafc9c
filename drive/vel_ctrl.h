// Speed loop: keeps each wheel at its reference speed (cm/s) with one PID step
// per wheel every 19 ms, writing one motor frame per period.
#pragma once

// Reference speeds in cm/s, left first; drops any modification.
void vel_ctrl_set(float left, float right);
// In-use references = base references + change (cm/s, left first); never accumulates.
void vel_ctrl_mod(float left, float right);
// Measured wheel speeds of the last period, cm/s, left first.
void vel_ctrl_get_speed(float* left, float* right);
// Clears accumulated and previous errors and all references; returns 0.
int vel_ctrl_reset();
// Stops both motors and ends the control thread; the stop frame is the last
// frame the controller sends. Returns 0 when it ended a running loop, non-zero
// (ESRCH) when there was none to end.
int vel_ctrl_cancel();
// Starts the control thread by the real-time recipe; prints
// "plicy = %s, priority =%d\n" and "Velocity Control thread created!     thread_id=%d\n".
void vel_ctrl_create();

#include <cstdint>

#include "drive/supervisor.h"

// The drive fault the loop has latched, SUPERVISOR_OK (0) while there is
// none. Once set it stays: the loop sends stop frames whatever the
// references say, and callers end what they were doing.
supervisor_fault vel_ctrl_fault();
// Latches a fault found outside the loop (the run controller's overdue move);
// the loop stops the wheels in its next period and names the fault. A fault
// already latched is kept.
void vel_ctrl_trip(supervisor_fault reason);

// The run controller's hand-over. While a move steers the references, each
// speed-loop period waits (at most a period) until the move has written its
// references for the same sample, so the references always reach the loop in
// the same order, whichever thread the scheduler happens to run first.
// Begins steering; `sample` is the exchange count the move starts from.
void vel_ctrl_steer_begin(uint32_t sample);
// The references for exchange `sample` are written.
void vel_ctrl_steer_done(uint32_t sample);
// The move has ended (its last references written): the loop waits no more.
void vel_ctrl_steer_end();

// The per-period arithmetic of the speed loop, with no device and no clock:
// the control thread calls it once a period with the per-period encoder counts
// and the references it has just read, and sends the commands it returns.

// Controller memory carried from one period to the next.
struct vel_ctrl_state {
    float err_sum_l;   // accumulated error, cm/s, left
    float err_sum_r;   // accumulated error, cm/s, right
    float err_prev_l;  // error of the previous period, cm/s, left
    float err_prev_r;  // error of the previous period, cm/s, right
    float u_l;         // last clamped output, motor command units, left
    float u_r;         // last clamped output, motor command units, right
};

// The references as read at the start of a period, cm/s.
struct vel_ctrl_refs {
    float left;       // in use (base + modification)
    float right;      // in use
    float left_org;   // base
    float right_org;  // base
};

struct vel_ctrl_output {
    // Measured speeds, cm/s: count x DRIVE_CMS_PER_COUNT, on the left also x
    // DRIVE_LEFT_CORRECTION.
    float vel_l;
    float vel_r;
    bool stopped;   // both base references 0: stop frame, state untouched
    int command_l;  // motor_drive arguments, -127..127
    int command_r;
};

// Measured speed of a wheel from its per-period count, cm/s.
float vel_ctrl_speed_left(int32_t count);
float vel_ctrl_speed_right(int32_t count);

// One period: speeds from the counts, then (unless both base references are 0)
// one PID step per wheel, clamp to +-127, truncation toward 0.
vel_ctrl_output vel_ctrl_step(vel_ctrl_state* state, int32_t count_l, int32_t count_r,
                              const vel_ctrl_refs& refs);

// The four references as they stand now (in use and base, cm/s).
void vel_ctrl_get_refs(vel_ctrl_refs* out);
