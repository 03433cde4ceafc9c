// Offline study of the left/right balance loop, to choose the simulated motor
// curve on which it behaves as on a plausible robot: tables of runs over
// plants, speeds and disturbances (see balance_run.h for one run).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchmarks/balance/balance_run.h"

namespace {

void detail(const Plant& p) {
    std::printf("plant gain=%.2f knee=%.0f gain_high=%.2f lag=%.3f  vmax_left=%.1f cm/s\n", p.gain,
                p.knee, p.gain_high, p.lag, balance_vmax_left(p));
    std::printf("%-5s %-10s %5s %6s | %6s %6s %4s | %6s %6s %6s | %6s %7s %4s %s\n", "v", "dist",
                "ended", "t_end", "u10s", "d10s", "sat", "uLate", "duLate", "dLate", "uAfter",
                "head", "trip", "verdict");
    for (double v : {10.0, 20.0})
        for (int d = 0; d < D_N; ++d) {
            Result r = balance_run(p, v, static_cast<Dist>(d));
            std::printf(
                "%-5.0f %-10s %5d %6.2f | %6.0f %6.2f %4d | %6.0f %6.1f %6.2f | %6.0f %7.2f %4d "
                "%s\n",
                v, kDistName[d], r.ended, r.t_end, r.peak_u_win, r.peak_d_win, r.sat_periods,
                r.peak_u_late, r.peak_du_late, r.peak_d_late, r.peak_u_after, r.heading, r.trip,
                balance_stable(r) ? "stable" : "UNSTABLE");
        }
}

// Worst case over both speeds and all disturbances.
struct Worst {
    int fails;
    double u_late, du_late, d_late, head, u_after;
    std::string first_fail;
};
Worst worst(const Plant& p) {
    Worst wc{0, 0, 0, 0, 0, 0, ""};
    for (double v : {10.0, 20.0})
        for (int d = 0; d < D_N; ++d) {
            Result r = balance_run(p, v, static_cast<Dist>(d));
            if (!balance_stable(r)) {
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
                p.knee, p.gain_high, p.lag, balance_vmax_left(p), wc.fails, wc.u_late, wc.du_late,
                wc.d_late, wc.head, wc.u_after, wc.first_fail.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "defaults";
    // STUDY_PHASES="ps pv pr": ms offsets of the sampler, speed loop and run loop
    int phase_s = 0, phase_v = 6, phase_r = 12;
    if (const char* ph = std::getenv("STUDY_PHASES"))
        std::sscanf(ph, "%d %d %d", &phase_s, &phase_v, &phase_r);
    if (argc > 4 && (mode == "defaults" || mode == "sweep" || mode == "highknee")) {
        phase_s = std::atoi(argv[2]);
        phase_v = std::atoi(argv[3]);
        phase_r = std::atoi(argv[4]);
    }
    balance_set_phases(phase_s, phase_v, phase_r);
    // STUDY_TICK=1: the drive's tick instead of free-running phases.
    if (const char* tick = std::getenv("STUDY_TICK"))
        balance_set_tick(std::string(tick) == "1");
    if (mode == "defaults") {
        detail(Plant{0.6, 60, 1.7, 0.06});
    } else if (mode == "one" && argc >= 6) {
        detail(
            Plant{std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5])});
    } else if (mode == "trace" && argc >= 8) {
        Plant p{std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5])};
        if (argc >= 9)
            balance_set_stall_late(std::atoi(argv[8]), std::atoi(argv[8]));
        Result r = balance_run(p, std::atof(argv[6]), static_cast<Dist>(std::atoi(argv[7])), true);
        std::printf("verdict %s, heading %.2f\n", balance_stable(r) ? "stable" : "UNSTABLE",
                    r.heading);
    } else if (mode == "linear") {
        // boundary of a plain linear plant (no knee), plausible or not
        std::printf("%5s %5s %6s | %5s %6s %6s %s\n", "gain", "lag", "vmaxL", "fails", "duLate",
                    "dLate", "first_fail");
        for (double lag : {0.02, 0.03, 0.045, 0.06, 0.08, 0.1, 0.14})
            for (double g = 0.3; g < 1.26; g += 0.05) {
                Plant p{g, 99, 1, lag};
                Worst wc = worst(p);
                std::printf("%5.2f %5.3f %6.1f | %5d %6.1f %6.2f %s\n", g, lag,
                            balance_vmax_left(p), wc.fails, wc.du_late, wc.d_late,
                            wc.first_fail.c_str());
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
                    balance_set_stall_late(ms, ms);
                    marks += balance_stable(balance_run(p, v, d)) ? '.' : 'X';
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
                                    balance_set_stall_late(ms, ms);
                                    bad[vi] += !balance_stable(balance_run(p, v, d));
                                }
                            for (double off : {1.0, 2.0, 4.0}) {
                                balance_set_offset(off);
                                bad[vi] += !balance_stable(balance_run(p, v, D_OFFSET));
                            }
                            balance_set_offset(2.0);
                        }
                        balance_set_stall_late(100, 60);
                        std::printf("%5.2f %4.0f %5.2f %5.3f %6.1f | %2d (%2d %2d)\n", g, knee,
                                    p.gain_high, lag, balance_vmax_left(p), bad[0] + bad[1], bad[0],
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
                    if (balance_vmax_left(p0) < 100)
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
