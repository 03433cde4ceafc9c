// Offline study of the left/right balance loop, to choose the simulated motor
// curve on which it behaves as on a plausible robot: the repo's own pure per-period
// functions (vel_ctrl_step, run_ctrl_step, motor_command_byte, distance_from_sums)
// driven by the simulator's physics_step at 1 ms. No threads, no clock.
//
// Timing model: three 19 ms loops with their own phase (as the threads ran
// before they were tied to the sampler), or the tick (balance_set_tick).
//  - sampler at s_k: publishes the reply computed at s_{k-1}, i.e. the counts of
//    [s_{k-2}, s_{k-1}] (request sent right after the previous reply), adds them
//    to the running sums.
//  - vel_ctrl at v_k: reads published count + refs, PID step, motor command held
//    until the next vel period.
//  - run_ctrl at r_k: reads sums as distances, sets refs (set + mod).
#include "benchmarks/balance/balance_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/run_ctrl.h"
#include "drive/supervisor.h"
#include "drive/vel_ctrl.h"
#include "sim/physics.h"
#include "sim/world.h"

namespace {

int g_phase_s = 0, g_phase_v = 6, g_phase_r = 12;
bool g_tick = false;
const int kPeriod = 19;
const int kDistAt = 5000;              // ms
int g_stall_ms = 100, g_late_ms = 60;  // disturbance sizes
double g_offset_cm = 2.0;

}  // namespace

void balance_set_phases(int sampler, int vel, int run) {
    g_phase_s = sampler;
    g_phase_v = vel;
    g_phase_r = run;
}

void balance_set_tick(bool tick) {
    g_tick = tick;
}

void balance_set_stall_late(int stall_ms, int late_ms) {
    g_stall_ms = stall_ms;
    g_late_ms = late_ms;
}

void balance_set_offset(double cm) {
    g_offset_cm = cm;
}

Result balance_run(const Plant& p, double speed, Dist dist, bool trace) {
    sim_world w;
    world_defaults(&w);
    w.motor_gain = p.gain;
    w.motor_knee = p.knee;
    w.motor_gain_high = p.gain_high;
    w.lag = p.lag;
    sim_world w_stall_l = w, w_stall_r = w;
    w_stall_l.deadband_left = 1e9;  // target 0 whatever the command
    w_stall_r.deadband_right = 1e9;
    sim_robot r = physics_start(w);
    std::mt19937 rng(1);

    // sampler
    int64_t cnt_prev_l = 0, cnt_prev_r = 0;  // counts at the previous request
    int32_t reply_l = 0, reply_r = 0;        // reply waiting to be read
    int32_t pub_l = 0, pub_r = 0, sum_l = 0, sum_r = 0;
    if (dist == D_OFFSET)
        sum_l =
            static_cast<int32_t>(std::lround(g_offset_cm / (w.cm_per_count * w.left_correction)));
    // speed loop
    vel_ctrl_state vs{};
    const float sp = static_cast<float>(speed);
    vel_ctrl_refs refs{sp, sp, sp, sp};  // run_ctrl_set(RUN_STRAIGHT)
    int cmd_l = 0, cmd_r = 0;            // controller outputs; frames add the dead band
    // The supervisor watches as in the program, but only watches: a run is
    // judged on the loop alone, and a trip is counted, not obeyed.
    supervisor_state watch{};
    supervisor_fault trip = SUPERVISOR_OK;
    uint8_t byte_l = 0, byte_r = 0;
    // run controller
    run_ctrl_balance bal{0.0f, 0.0f};
    bool ended = false;
    int t_end = -1;
    int next_s = g_phase_s, next_v = g_phase_v, next_r = g_phase_r;

    struct Sample {
        int t;
        int ul, ur;
        double d;
        double e;  // remaining distance
    };
    std::vector<Sample> hist;
    hist.reserve(4000);
    double last_d = 0, last_e = 1e9;

    const int t_max = static_cast<int>(300.0 / speed * 1000.0 * 1.6) + 5000;
    int t = 0;
    for (; t < t_max; ++t) {
        // sampler period
        if (t == next_s) {
            pub_l = reply_l;
            pub_r = reply_r;
            sum_l += pub_l;
            sum_r += pub_r;
            const int64_t cl = r.count_left, cr = r.count_right;
            // the wire carries int8 increments (wrap as the device would)
            uint8_t b0 = static_cast<uint8_t>(cl - cnt_prev_l);
            uint8_t b1 = static_cast<uint8_t>(-(cr - cnt_prev_r));
            encoder_increments inc = encoder_decode(b0, b1);
            reply_l = inc.left;
            reply_r = inc.right;
            cnt_prev_l = cl;
            cnt_prev_r = cr;
            if (g_tick) {
                // This sample's tick: the run controller, then the speed loop.
                const bool disturbed = t < kDistAt && t + kPeriod >= kDistAt;
                next_r = t + (disturbed && dist == D_LATE_RUN ? g_late_ms : 0);
                next_v = t + (disturbed && dist == D_LATE_VEL   ? g_late_ms
                              : disturbed && dist == D_LATE_RUN ? std::min(g_late_ms, kPeriod)
                                                                : 0);
            }
            next_s += kPeriod;
            if (dist == D_LATE_SAMP && t < kDistAt && next_s > kDistAt)
                next_s += g_late_ms;  // the period that spans t=5 s runs 60 ms late
        }
        // run controller period
        if (t == next_r && !ended) {
            distance_pair dp = distance_from_sums(sum_l, sum_r);
            run_ctrl_inputs in{dp.left, dp.right, RUN_STRAIGHT, static_cast<float>(speed),
                               300.0f,  1,        0.3f};
            run_ctrl_action a = run_ctrl_step(in, &bal);
            if (a.ended) {
                ended = true;
                t_end = t;
                refs = vel_ctrl_refs{0, 0, 0, 0};
            } else {
                if (a.set) {
                    refs.left = refs.left_org = a.set_left;
                    refs.right = refs.right_org = a.set_right;
                }
                if (a.mod) {
                    refs.left = refs.left_org + a.mod_left;
                    refs.right = refs.right_org + a.mod_right;
                }
            }
            last_d = dp.left - dp.right;
            last_e = 300.0 - 0.5 * (dp.left + dp.right);
            next_r += kPeriod;
            if (!g_tick && dist == D_LATE_RUN && t < kDistAt && next_r > kDistAt)
                next_r += g_late_ms;
        }
        // speed loop period
        if (t == next_v) {
            if (trip == SUPERVISOR_OK) {
                const bool regulating = refs.left_org != 0.0f || refs.right_org != 0.0f;
                trip = supervisor_step(&watch, {pub_l, pub_r, true, regulating, cmd_l, cmd_r});
            }
            vel_ctrl_output o = vel_ctrl_step(&vs, pub_l, pub_r, refs);
            cmd_l = o.command_l;
            cmd_r = o.command_r;
            byte_l = motor_command_byte(cmd_l, MOTOR_LEFT_DEAD_BAND);
            byte_r = motor_command_byte(cmd_r, MOTOR_RIGHT_DEAD_BAND);
            hist.push_back({t, cmd_l, cmd_r, last_d, last_e});
            if (trace && t >= kDistAt - 100 && t <= kDistAt + 1500)
                std::printf("t=%5d ul=%4d ur=%4d d=%7.3f vl=%6.1f vr=%6.1f\n", t, cmd_l, cmd_r,
                            last_d, o.vel_l, o.vel_r);
            next_v += kPeriod;
            if (!g_tick && dist == D_LATE_VEL && t < kDistAt && next_v > kDistAt)
                next_v += g_late_ms;
        }
        // physics, 1 ms
        bool stall = t >= kDistAt && t < kDistAt + g_stall_ms;
        const sim_world* pw = &w;
        if (stall && dist == D_STALL_L) {
            r.v_left = 0;
            pw = &w_stall_l;
        } else if (stall && dist == D_STALL_R) {
            r.v_right = 0;
            pw = &w_stall_r;
        }
        physics_step(*pw, nullptr, &r, physics_decode_byte(byte_l), physics_decode_byte(byte_r),
                     0.001, &rng);
        if (ended && t > t_end + 500)
            break;
    }

    Result res{};
    res.ended = ended;
    res.t_end = ended ? t_end / 1000.0 : -1;
    int t_stop = ended ? t_end : t;
    // ramp start: first sample with remaining < 12 cm
    int t_ramp = t_stop;
    for (const Sample& s : hist)
        if (s.e < 12.0) {
            t_ramp = s.t;
            break;
        }
    for (const Sample& s : hist) {
        if (s.t > t_stop)
            break;
        double au = std::max(std::abs(s.ul), std::abs(s.ur));
        if (s.t >= t_stop - 10000) {
            res.peak_u_win = std::max(res.peak_u_win, au);
            res.peak_d_win = std::max(res.peak_d_win, std::fabs(s.d));
        }
        // saturation that is still there 3 s after the disturbance is an
        // oscillation, not the recovery
        if (s.t >= kDistAt + 3000 && s.t < t_ramp && au >= 127)
            res.sat_periods++;
        if (s.t >= t_ramp - 3000 && s.t < t_ramp) {
            res.peak_u_late = std::max(res.peak_u_late, au);
            res.peak_du_late = std::max(res.peak_du_late, std::fabs(s.ul - s.ur) / 2.0);
            res.peak_d_late = std::max(res.peak_d_late, std::fabs(s.d));
        }
        if (s.t >= kDistAt && s.t < kDistAt + 1000)
            res.peak_u_after = std::max(res.peak_u_after, au);
    }
    res.heading = r.pose.heading;
    res.trip = trip;
    return res;
}

bool balance_stable(const Result& r) {
    // settled: no left/right swing left in the commands and the odometry balanced
    return r.ended && r.peak_du_late < 20 && r.peak_d_late < 1.0 && r.sat_periods == 0;
}

double balance_vmax_left(const Plant& p) {
    double e = 99;
    return e <= p.knee ? p.gain * e : p.gain * p.knee + p.gain_high * (e - p.knee);
}
