// Offline study of the left/right balance loop, to choose the simulated motor
// curve on which it behaves as on a plausible robot: the repo's own pure per-period
// functions (vel_ctrl_step, run_ctrl_step, motor_command_byte, distance_from_sums)
// driven by the simulator's physics_step at 1 ms. No threads, no clock.
//
// Timing model (as the real threads): three 19 ms loops with their own phase.
//  - sampler at s_k: publishes the reply computed at s_{k-1}, i.e. the counts of
//    [s_{k-2}, s_{k-1}] (request sent right after the previous reply), adds them
//    to the running sums.
//  - vel_ctrl at v_k: reads published count + refs, PID step, motor command held
//    until the next vel period.
//  - run_ctrl at r_k: reads sums as distances, sets refs (set + mod).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/run_ctrl.h"
#include "drive/vel_ctrl.h"
#include "sim/physics.h"
#include "sim/world.h"

enum Dist { D_NONE, D_STALL_L, D_STALL_R, D_LATE_VEL, D_LATE_SAMP, D_LATE_RUN, D_OFFSET, D_N };
static const char* kDistName[D_N] = {"none",       "stallL100", "stallR100", "lateVel60",
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
};

static int g_phase_s = 0, g_phase_v = 6, g_phase_r = 12;
static const int kPeriod = 19;
static const int kDistAt = 5000;              // ms
static int g_stall_ms = 100, g_late_ms = 60;  // disturbance sizes
static double g_offset_cm = 2.0;

Result run(const Plant& p, double speed, Dist dist, bool trace = false) {
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
        sum_l = static_cast<int32_t>(std::lround(g_offset_cm / kPhysicsCmPerCountLeft));
    // speed loop
    vel_ctrl_state vs{};
    const float sp = static_cast<float>(speed);
    vel_ctrl_refs refs{sp, sp, sp, sp};  // run_ctrl_set(RUN_STRAIGHT)
    int cmd_l = 0, cmd_r = 0;            // controller outputs; frames add the dead band
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
            int64_t cl = physics_counts(r.travel_left, kPhysicsCmPerCountLeft);
            int64_t cr = physics_counts(r.travel_right, kPhysicsCmPerCountRight);
            // the wire carries int8 increments (wrap as the device would)
            uint8_t b0 = static_cast<uint8_t>(cl - cnt_prev_l);
            uint8_t b1 = static_cast<uint8_t>(-(cr - cnt_prev_r));
            encoder_increments inc = encoder_decode(b0, b1);
            reply_l = inc.left;
            reply_r = inc.right;
            cnt_prev_l = cl;
            cnt_prev_r = cr;
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
            if (dist == D_LATE_RUN && t < kDistAt && next_r > kDistAt)
                next_r += g_late_ms;
        }
        // speed loop period
        if (t == next_v) {
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
            if (dist == D_LATE_VEL && t < kDistAt && next_v > kDistAt)
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
    return res;
}

static bool stable(const Result& r) {
    // settled: no left/right swing left in the commands and the odometry balanced
    return r.ended && r.peak_du_late < 20 && r.peak_d_late < 1.0 && r.sat_periods == 0;
}

static double vmax_left(const Plant& p) {
    double e = 99;
    return e <= p.knee ? p.gain * e : p.gain * p.knee + p.gain_high * (e - p.knee);
}

static void detail(const Plant& p) {
    std::printf("plant gain=%.2f knee=%.0f gain_high=%.2f lag=%.3f  vmax_left=%.1f cm/s\n", p.gain,
                p.knee, p.gain_high, p.lag, vmax_left(p));
    std::printf("%-5s %-10s %5s %6s | %6s %6s %4s | %6s %6s %6s | %6s %7s %s\n", "v", "dist",
                "ended", "t_end", "u10s", "d10s", "sat", "uLate", "duLate", "dLate", "uAfter",
                "head", "verdict");
    for (double v : {10.0, 20.0})
        for (int d = 0; d < D_N; ++d) {
            Result r = run(p, v, static_cast<Dist>(d));
            std::printf(
                "%-5.0f %-10s %5d %6.2f | %6.0f %6.2f %4d | %6.0f %6.1f %6.2f | %6.0f %7.2f %s\n",
                v, kDistName[d], r.ended, r.t_end, r.peak_u_win, r.peak_d_win, r.sat_periods,
                r.peak_u_late, r.peak_du_late, r.peak_d_late, r.peak_u_after, r.heading,
                stable(r) ? "stable" : "UNSTABLE");
        }
}

// Worst case over both speeds and all disturbances.
struct Worst {
    int fails;
    double u_late, du_late, d_late, head, u_after;
    std::string first_fail;
};
static Worst worst(const Plant& p) {
    Worst wc{0, 0, 0, 0, 0, 0, ""};
    for (double v : {10.0, 20.0})
        for (int d = 0; d < D_N; ++d) {
            Result r = run(p, v, static_cast<Dist>(d));
            if (!stable(r)) {
                if (wc.fails == 0)
                    wc.first_fail = std::to_string(static_cast<int>(v)) + "/" + kDistName[d];
                wc.fails++;
            }
            wc.u_late = std::max(wc.u_late, r.peak_u_late);
            wc.du_late = std::max(wc.du_late, r.peak_du_late);
            wc.d_late = std::max(wc.d_late, r.peak_d_late);
            wc.head = std::max(wc.head, std::fabs(r.heading));
            wc.u_after = std::max(wc.u_after, r.peak_u_after);
        }
    return wc;
}

// One row of the sweep tables: the plant and its worst case over the mix.
void print_worst_row(const Plant& p) {
    const Worst wc = worst(p);
    std::printf("%5.2f %4.0f %5.2f %5.3f %6.1f | %5d %6.0f %6.1f %6.2f %6.2f %6.0f %s\n", p.gain,
                p.knee, p.gain_high, p.lag, vmax_left(p), wc.fails, wc.u_late, wc.du_late,
                wc.d_late, wc.head, wc.u_after, wc.first_fail.c_str());
}

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "defaults";
    // STUDY_PHASES="ps pv pr": ms offsets of the sampler, speed loop and run loop
    if (const char* ph = std::getenv("STUDY_PHASES"))
        std::sscanf(ph, "%d %d %d", &g_phase_s, &g_phase_v, &g_phase_r);
    if (argc > 4 && (mode == "defaults" || mode == "sweep" || mode == "highknee")) {
        g_phase_s = std::atoi(argv[2]);
        g_phase_v = std::atoi(argv[3]);
        g_phase_r = std::atoi(argv[4]);
    }
    if (mode == "defaults") {
        detail(Plant{0.6, 60, 1.7, 0.06});
    } else if (mode == "one" && argc >= 6) {
        detail(
            Plant{std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5])});
    } else if (mode == "trace" && argc >= 8) {
        Plant p{std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5])};
        if (argc >= 9)
            g_stall_ms = g_late_ms = std::atoi(argv[8]);
        Result r = run(p, std::atof(argv[6]), static_cast<Dist>(std::atoi(argv[7])), true);
        std::printf("verdict %s, heading %.2f\n", stable(r) ? "stable" : "UNSTABLE", r.heading);
    } else if (mode == "linear") {
        // boundary of a plain linear plant (no knee), plausible or not
        std::printf("%5s %5s %6s | %5s %6s %6s %s\n", "gain", "lag", "vmaxL", "fails", "duLate",
                    "dLate", "first_fail");
        for (double lag : {0.02, 0.03, 0.045, 0.06, 0.08, 0.1, 0.14})
            for (double g = 0.3; g < 1.26; g += 0.05) {
                Plant p{g, 99, 1, lag};
                Worst wc = worst(p);
                std::printf("%5.2f %5.3f %6.1f | %5d %6.1f %6.2f %s\n", g, lag, vmax_left(p),
                            wc.fails, wc.du_late, wc.d_late, wc.first_fail.c_str());
            }
    } else if (mode == "highknee") {
        // gentle part wide enough for every disturbance, the steep rest just
        // reaching the top speed (and 1.5 times steeper than that)
        std::printf("%5s %4s %5s %5s %6s | %5s %6s %6s %6s %6s %6s %s\n", "gain", "knee", "g_hi",
                    "lag", "vmaxL", "fails", "uLate", "duLate", "dLate", "head", "uAftr",
                    "first_fail");
        for (double g : {0.4, 0.5, 0.6, 0.65, 0.7})
            for (double knee : {70.0, 75.0, 80.0, 85.0, 90.0, 95.0})
                for (double scale : {1.0, 1.5}) {
                    double gh = scale * (101.0 - g * knee) / (99.0 - knee);
                    for (double lag : {0.045, 0.06, 0.08}) {
                        print_worst_row(Plant{g, knee, gh, lag});
                    }
                }
    } else if (mode == "basin" && argc >= 6) {
        // smallest stall / lateness that leaves the loop oscillating
        Plant p{std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5])};
        for (double v : {10.0, 20.0})
            for (Dist d : {D_STALL_L, D_STALL_R, D_LATE_VEL, D_LATE_SAMP, D_LATE_RUN}) {
                // one mark per size 20..400 ms: '.' settles, 'X' keeps oscillating
                std::string marks;
                for (int ms = 20; ms <= 400; ms += 20) {
                    g_stall_ms = g_late_ms = ms;
                    marks += stable(run(p, v, d)) ? '.' : 'X';
                }
                std::printf("v=%2.0f %-10s 20..400ms step 20: %s\n", v, kDistName[d],
                            marks.c_str());
            }
    } else if (mode == "robust") {
        // how many disturbances of several sizes leave each plant oscillating:
        // stalls and late periods of 20..320 ms, offsets of 1, 2 and 4 cm
        std::printf("%5s %4s %5s %5s %6s | %s\n", "gain", "knee", "g_hi", "lag", "vmaxL",
                    "unstable/66 (v10 v20)");
        for (double g : {0.4, 0.5, 0.6})
            for (double knee : {60.0, 75.0, 85.0, 90.0, 95.0})
                for (double vtop : {101.0, 110.0})
                    for (double lag : {0.045, 0.06, 0.07}) {
                        Plant p{g, knee, (vtop - g * knee) / (99.0 - knee), lag};
                        int bad[2] = {0, 0};
                        for (int vi = 0; vi < 2; ++vi) {
                            double v = vi ? 20.0 : 10.0;
                            for (Dist d :
                                 {D_STALL_L, D_STALL_R, D_LATE_VEL, D_LATE_SAMP, D_LATE_RUN})
                                for (int ms : {20, 60, 100, 160, 240, 320}) {
                                    g_stall_ms = g_late_ms = ms;
                                    bad[vi] += !stable(run(p, v, d));
                                }
                            for (double off : {1.0, 2.0, 4.0}) {
                                g_offset_cm = off;
                                bad[vi] += !stable(run(p, v, D_OFFSET));
                            }
                            g_offset_cm = 2.0;
                        }
                        g_stall_ms = 100;
                        g_late_ms = 60;
                        std::printf("%5.2f %4.0f %5.2f %5.3f %6.1f | %2d (%2d %2d)\n", g, knee,
                                    p.gain_high, lag, vmax_left(p), bad[0] + bad[1], bad[0],
                                    bad[1]);
                    }
    } else if (mode == "sweep") {
        std::printf("%5s %4s %5s %5s %6s | %5s %6s %6s %6s %6s %6s %s\n", "gain", "knee", "g_hi",
                    "lag", "vmaxL", "fails", "uLate", "duLate", "dLate", "head", "uAftr",
                    "first_fail");
        for (double g : {0.4, 0.5, 0.6, 0.7, 0.8, 1.0, 1.2})
            for (double knee : {30.0, 45.0, 60.0, 75.0, 99.0})
                for (double gh : {1.2, 1.7, 2.5}) {
                    Plant p0{g, knee, gh, 0.06};
                    if (knee >= 99 && gh != 1.2)
                        continue;  // gain_high unused without a knee
                    if (vmax_left(p0) < 100)
                        continue;
                    for (double lag : {0.02, 0.03, 0.045, 0.06, 0.08, 0.1, 0.14, 0.2}) {
                        print_worst_row(Plant{g, knee, gh, lag});
                    }
                }
    } else {
        std::fprintf(stderr,
                     "usage: study defaults [ps pv pr] | one G KNEE GH LAG | basin G KNEE GH LAG | "
                     "robust | linear | highknee [ps pv pr] | trace G KNEE GH LAG "
                     "SPEED DIST [MS] | sweep [ps pv pr]\n");
        return 2;
    }
    return 0;
}
