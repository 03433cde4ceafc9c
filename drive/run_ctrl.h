// Run controller: one move at a time (straight, rotation, arc, fast straight)
// to a target in cm or degrees, steering only through the speed loop's references.
#pragma once

#include <cstdint>

// The run modes, as run_ctrl_set takes them and the patrol's route table
// stores them. Any other value is accepted and does nothing.
enum run_ctrl_mode : int32_t {
    RUN_STRAIGHT = 0,       // target cm, progress = mean of both wheels
    RUN_ROTATE = 1,         // target degrees, positive turns right
    RUN_ARC = 2,            // target cm on the left (forward) or right (backward) wheel
    RUN_FAST_STRAIGHT = 3,  // target cm, 40 cm/s over the last 45 cm
};

// A move: run_ctrl_set, run_ctrl_set_dist, run_ctrl_create, then poll
// run_ctrl_get_endflag. The wheels start moving at run_ctrl_set, before the
// target is set: a straight run or a rotation without a target is driven by
// this first command alone (the thread only corrects a straight run's
// balance around it), so the command cannot wait for the thread. With a
// target the thread replaces it in its first period; what the wheels turn
// before create is not counted, as create resets the odometry, and callers
// make the three calls back to back.

// Stores mode and speed (cm/s, or deg/s for rotation) and gives the speed loop
// its first command; prints "straight mode selected\n" or "rotae mode selected\n".
void run_ctrl_set(int mode, float speed);
// Sets the target (cm or degrees by mode) and clears the end flag.
void run_ctrl_set_dist(float dist);
// Clears the target; the end flag is unchanged.
void run_ctrl_unset_dist();
// Rotation deceleration gain (speed per degree left); default 0.3.
void run_ctrl_set_Kfr(float kfr);
// Restores the gain saved when the last run-control thread started (0 before any).
void run_ctrl_reset_Kfr();
// Both wheels' references to 0: the speed loop sends stop frames.
void run_ctrl_stop();
// Odometry back to 0.
void run_ctrl_reset();
// Clears the end flag and ends the running move's thread (harmless on a
// finished move). Does not stop the wheels.
void run_ctrl_cancel();
// Starts a move: clears end flag and balance state, resets odometry, starts the
// run-control thread by the real-time recipe; prints "plicy = %s, priority =%d\n".
void run_ctrl_create();
// 1 once the running move has ended, else 0.
int run_ctrl_get_endflag();

// The per-period arithmetic of the run controller, with no thread and no
// clock: the run-control thread reads the odometry and the move's settings,
// calls this, and applies what it returns through the speed loop.

// Memory of the balance correction over one move (both start at 0).
struct run_ctrl_balance {
    float diff_l_r_prev;  // left - right distance of the previous period, cm
    float sum_diff_l_r;   // accumulated imbalance of the move, cm
};

// What one period reads; a field left out of an initializer is 0 (no target).
struct run_ctrl_inputs {
    float left = 0;         // left distance since the reset, cm
    float right = 0;        // right distance since the reset, cm
    int32_t mode = 0;       // a run_ctrl_mode; other values do nothing
    float speed = 0;        // S: cm/s (deg/s for rotation); > 0 forward, <= 0 backward
    float dist = 0;         // D: target cm (degrees for rotation)
    int32_t dist_flag = 0;  // 1 while a target is set
    float kfr = 0;          // rotation deceleration gain
};

struct run_ctrl_action {
    bool ended;      // target passed: print the imbalance, stop, raise the end flag
    bool set;        // call vel_ctrl_set(set_left, set_right)
    float set_left;  // cm/s
    float set_right;
    bool mod;        // then call vel_ctrl_mod(mod_left, mod_right)
    float mod_left;  // cm/s
    float mod_right;
};

// One period. Updates *balance only in periods that do not end the move.
run_ctrl_action run_ctrl_step(const run_ctrl_inputs& in, run_ctrl_balance* balance);

// The drive supervisor's last net (drive/supervisor.h), kept beside the rules
// that make a move slow: true once a move with a target has run `periods`
// periods, more than twice its slowest honest time plus
// DRIVE_OVERDUE_MARGIN_S. Any mode counts, so a move that does nothing (an
// unknown mode) cannot keep its caller waiting for ever either.
bool run_ctrl_overdue(const run_ctrl_inputs& in, int32_t periods);

// The gain in force now (rotation deceleration).
float run_ctrl_get_Kfr();
