// The run controller's per-period arithmetic: one function per run mode,
// each reading the same way forward and backward.
#include <cmath>

#include "drive/calibration.h"
#include "drive/run_ctrl.h"

namespace {

// Straight runs and arcs slow down linearly over their last 12 cm: at
// 20 cm/s that is 0.6 s, some 30 periods, for wheels with a 70 ms lag.
constexpr double RAMP_CM = 12.0;
// The speed at the target: 2 cm/s is 0.04 cm a period, about one count, so
// a move passes its target by a count, not by a stretch of road.
constexpr double CREEP_SPEED = 2.0;
// The fast straight runs its last 45 cm at 40 cm/s whatever its speed: the
// 80 cm/s legs slow to the fastest speed the other moves use before the end.
constexpr double FAST_ZONE_CM = 45.0;
constexpr double FAST_FINISH = 40.0;  // cm/s
// A turn slows over its last 20 degrees: with the default gain 0.3 from
// 8 cm/s a wheel there down to the creep at the target.
constexpr double ROTATE_ZONE = 20.0;
// An arc drives the right wheel at 0.35 of the left: a radius of about 30 cm
// about the middle of the axle on the 28.8 cm track.
constexpr double ARC_INNER = 0.35;
// The balance correction, cm/s of split between the wheels: 15.5 per cm the
// left has gone further than the right, and 30 per cm that difference grew
// in the last period (the damping that keeps it from swinging at speed).
constexpr double BALANCE_P = 15.5;
constexpr double BALANCE_D = 30.0;

// The balance memory is the thread's own; a new move starts it at zero.
void apply_balance(double left, double right, run_ctrl_balance* b, run_ctrl_action* a) {
    double d = left - right;
    b->sum_diff_l_r = static_cast<float>(b->sum_diff_l_r + std::fabs(d));
    double c = BALANCE_P * d + BALANCE_D * (d - b->diff_l_r_prev);
    b->diff_l_r_prev = static_cast<float>(d);
    a->mod = true;
    a->mod_left = static_cast<float>(-c);
    a->mod_right = static_cast<float>(c);
}

void command(run_ctrl_action* a, double left, double right) {
    a->set = true;
    a->set_left = static_cast<float>(left);
    a->set_right = static_cast<float>(right);
}

run_ctrl_action ended() {
    run_ctrl_action a{};
    a.ended = true;
    return a;
}

// A forward move (s > 0) counts up to its target, any other down to it; at
// equality the target counts as not yet passed.
bool passed(double s, double progress, double target) {
    return s > 0.0 ? progress > target : progress < target;
}

// The last stretch before a target, seen in the direction of travel: a
// backward move's zone and creep speed are the forward ones mirrored
// (negated), so each rule below is written once for both directions.
struct final_stretch {
    double zone;   // the stretch begins this far before the target
    double creep;  // speed at the target
    bool inside;   // e (target - progress) lies within the stretch
};

final_stretch final_stretch_of(double s, double e, double zone, double creep) {
    if (s > 0.0) {
        return {zone, creep, e < zone};
    }
    return {-zone, -creep, e > -zone};
}

// s until zone before the target, then linearly down to creep at the target.
// Mirrored, the backward line c' + (s - c') e / z' is -c - (s + c) e / z to
// the last bit.
double ramp(double s, double e, double zone, double creep) {
    const final_stretch f = final_stretch_of(s, e, zone, creep);
    return f.inside ? f.creep + (s - f.creep) * e / f.zone : s;
}

double straight_speed(double s, double e) {
    return ramp(s, e, RAMP_CM, CREEP_SPEED);
}

// Forward: a fixed speed over the last stretch, whatever s is. Backward: the
// ordinary straight rule.
double fast_straight_speed(double s, double e) {
    if (s > 0.0) {
        return e < FAST_ZONE_CM ? FAST_FINISH : s;
    }
    return straight_speed(s, e);
}

// Straight and fast straight: progress is the mean of both wheels; both
// wheels at the speed of the rule, then the balance correction, which alone
// runs when no target is set (around the references run_ctrl_set gave).
run_ctrl_action straight_run(const run_ctrl_inputs& in, run_ctrl_balance* balance,
                             double (*speed)(double s, double e)) {
    run_ctrl_action a{};
    const double l = in.left;
    const double r = in.right;
    if (in.dist_flag == 1) {
        const double m = (l + r) * 0.5;
        if (passed(in.speed, m, in.dist)) {
            return ended();
        }
        const double v = speed(in.speed, in.dist - m);
        command(&a, v, v);
    }
    apply_balance(l, r, balance, &a);
    return a;
}

// Rotation: progress is the angle from the left-right difference; near the
// target the speed follows the gain Kf_r, not a line down from s. A pure
// turn keeps the centre still, so its drift is what accumulates.
run_ctrl_action rotation(const run_ctrl_inputs& in, run_ctrl_balance* balance) {
    run_ctrl_action a{};
    const double l = in.left;
    const double r = in.right;
    if (in.dist_flag == 1) {
        const double angle = (l - r) * DRIVE_ANGLE_FACTOR;
        if (passed(in.speed, angle, in.dist)) {
            return ended();
        }
        const double e = in.dist - angle;
        const final_stretch f = final_stretch_of(in.speed, e, ROTATE_ZONE, CREEP_SPEED);
        const double v =
            f.inside ? static_cast<double>(in.kfr) * e + f.creep : static_cast<double>(in.speed);
        command(&a, v, -v);
    }
    balance->sum_diff_l_r = static_cast<float>(balance->sum_diff_l_r + std::fabs(l + r));
    return a;
}

// Arc: the left wheel at V, the right at 0.35 x V; a forward arc is measured
// on the left wheel alone, a backward one on the right wheel alone.
run_ctrl_action arc(const run_ctrl_inputs& in) {
    run_ctrl_action a{};
    if (in.dist_flag != 1) {
        return a;
    }
    const double progress = in.speed > 0.0f ? in.left : in.right;
    if (passed(in.speed, progress, in.dist)) {
        return ended();
    }
    const double v = ramp(in.speed, in.dist - progress, RAMP_CM, CREEP_SPEED);
    command(&a, v, ARC_INNER * v);
    return a;
}

}  // namespace

run_ctrl_action run_ctrl_step(const run_ctrl_inputs& in, run_ctrl_balance* balance) {
    switch (in.mode) {
        case RUN_STRAIGHT:
            return straight_run(in, balance, straight_speed);
        case RUN_FAST_STRAIGHT:
            return straight_run(in, balance, fast_straight_speed);
        case RUN_ROTATE:
            return rotation(in, balance);
        case RUN_ARC:
            return arc(in);
        default:
            return run_ctrl_action{};
    }
}

bool run_ctrl_overdue(const run_ctrl_inputs& in, int32_t periods) {
    // The rules above are what make a move slow: the final stretch, which
    // may be crept through at the creep speed, and an arc's inner wheel.
    const double zone = in.mode == RUN_ROTATE ? ROTATE_ZONE : RAMP_CM;
    const double share = in.mode == RUN_ARC ? ARC_INNER : 1.0;
    // At the move's own speed, however slow (a speed of 0 creeps only in the
    // final stretch, so the whole way is counted at the creep speed); the
    // final stretch at the slower of that speed and the creep.
    const double magnitude = std::fabs(static_cast<double>(in.speed));
    const double speed = magnitude > 0.0 ? magnitude : CREEP_SPEED;
    const double honest_s = std::fabs(static_cast<double>(in.dist)) / (speed * share) +
                            zone / (std::fmin(speed, CREEP_SPEED) * share);
    // Periods, not a clock: the speed loop holds a wheel to so many counts a
    // period, so a move's progress per period does not depend on how long a
    // period really lasts (19 ms plus the exchange), and each lasts at least
    // the sleep: a loaded machine can only make the net fire later.
    const double elapsed_s = periods * (DRIVE_PERIOD_US / 1e6);
    return elapsed_s > 2.0 * honest_s + DRIVE_OVERDUE_MARGIN_S;
}
