// One straight run of the balance study: the drive's own per-period
// functions on the simulator's physics at 1 ms, with one disturbance, and the
// figures that tell a settled loop from a swinging one.
#pragma once

enum Dist { D_NONE, D_STALL_L, D_STALL_R, D_LATE_VEL, D_LATE_SAMP, D_LATE_RUN, D_OFFSET, D_N };
inline const char* const kDistName[D_N] = {"none",       "stallL100", "stallR100", "lateVel60",
                                           "lateSamp60", "lateRun60", "offset2cm"};

struct Plant {
    double gain, knee, gain_high, lag;
};

struct Result {
    bool ended;
    double t_end;
    double peak_u_win;    // max |vel_ctrl output| in the last 10 s before the end
    double peak_d_win;    // max |L-R| cm in that window
    double peak_u_late;   // same, last 3 s before the 12 cm ramp starts
    double peak_du_late;  // max |u_l - u_r| / 2 there (differential swing)
    double peak_d_late;
    double peak_u_after;  // max |u| in the 1 s right after the disturbance
    double heading;       // final heading, degrees
    int sat_periods;      // periods with |u| >= 127 from 8 s to the ramp
    int trip;             // the drive supervisor's first verdict (a supervisor_fault, 0: none)
};

// ms offsets of the sampler, speed loop and run loop within the 19 ms period.
void balance_set_phases(int sampler, int vel, int run);
// The drive as it runs now: no phases of their own, each completed exchange
// is one tick in which the run controller and then the speed loop act on
// that sample. A late loop is late within its tick (the speed loop waits at
// most a period for the run controller's references).
void balance_set_tick(bool tick);
// Sizes of the disturbances: stall and lateness in ms, the odometry offset in cm.
void balance_set_stall_late(int stall_ms, int late_ms);
void balance_set_offset(double cm);

Result balance_run(const Plant& p, double speed, Dist dist, bool trace = false);
bool balance_stable(const Result& r);
double balance_vmax_left(const Plant& p);
