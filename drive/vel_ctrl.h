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
// frame the controller sends. Returns 0 on success.
int vel_ctrl_cancel();
// Starts the control thread by the real-time recipe; prints
// "plicy = %s, priority =%d\n" and "Velocity Control thread created!     thread_id=%d\n".
void vel_ctrl_create();
