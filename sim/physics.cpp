#include "sim/physics.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

double wrap_heading(double h) {
    h = std::remainder(h, 360.0);
    return h <= -180.0 ? h + 360.0 : h;
}

// Moves the wheel speed towards its target with the motor's time constant;
// the exact exponential keeps the lag stable at any step size.
double lag_towards(double v, double target, double dt, double tau) {
    if (tau <= 0)
        return target;
    return target + (v - target) * std::exp(-dt / tau);
}

}  // namespace

sim_robot physics_start(const sim_world& w) {
    sim_robot r{};
    r.pose = sim_pose{w.start_x, w.start_y, wrap_heading(w.start_heading)};
    return r;
}

int physics_decode_byte(uint8_t b) {
    int magnitude = b & 0x7F;
    return (b & 0x80) ? -magnitude : magnitude;
}

double physics_target_speed(int command, double deadband, double gain, double knee,
                            double gain_high) {
    double magnitude = std::fabs(static_cast<double>(command));
    if (magnitude <= deadband)
        return 0;
    double e = magnitude - deadband;
    double speed = e <= knee ? gain * e : gain * knee + gain_high * (e - knee);
    return command < 0 ? -speed : speed;
}

double physics_curve_speed(int command, const sim_motor_curve& curve) {
    double m = std::fabs(static_cast<double>(command));
    double speed = 0;
    if (m >= curve.command[curve.points - 1]) {
        speed = curve.speed[curve.points - 1];
    } else if (m >= curve.command[0]) {
        int i = 1;
        while (curve.command[i] <= m)
            ++i;
        double f = (m - curve.command[i - 1]) / (curve.command[i] - curve.command[i - 1]);
        speed = curve.speed[i - 1] + f * (curve.speed[i] - curve.speed[i - 1]);
    }
    return command < 0 ? -speed : speed;
}

int64_t physics_counts(double travel, double cm_per_count) {
    // A small tolerance keeps whole multiples of the count length from
    // losing a count to rounding.
    return static_cast<int64_t>(std::floor(travel / cm_per_count + 1e-9));
}

void physics_step(const sim_world& w, const uint8_t* present, sim_robot* r, int cmd_left,
                  int cmd_right, double dt, std::mt19937* rng) {
    double tl = w.curve_left.points > 0
                    ? physics_curve_speed(cmd_left, w.curve_left)
                    : physics_target_speed(cmd_left, w.deadband_left, w.motor_gain, w.motor_knee,
                                           w.motor_gain_high);
    double tr = w.curve_right.points > 0
                    ? physics_curve_speed(cmd_right, w.curve_right)
                    : physics_target_speed(cmd_right, w.deadband_right, w.motor_gain, w.motor_knee,
                                           w.motor_gain_high);
    r->v_left = lag_towards(r->v_left, tl, dt, w.lag);
    r->v_right = lag_towards(r->v_right, tr, dt, w.lag);
    if (r->held_left)
        r->v_left = 0;
    if (r->held_right)
        r->v_right = 0;

    double vl = r->v_left, vr = r->v_right;
    if (w.noise > 0) {
        std::normal_distribution<double> n(0.0, w.noise);
        vl *= 1.0 + n(*rng);
        vr *= 1.0 + n(*rng);
    }
    double wheel_l = vl * dt, wheel_r = vr * dt;
    double ground_l = wheel_l, ground_r = wheel_r;
    if (w.slip > 0) {
        std::uniform_real_distribution<double> u(0.0, w.slip);
        ground_l *= 1.0 - u(*rng);
        ground_r *= 1.0 - u(*rng);
    }

    // Exact arc for constant wheel speeds over the step.
    double ds = (ground_l + ground_r) / 2;
    double dth = (ground_r - ground_l) / w.track;  // rad
    double h = r->pose.heading * kPi / 180.0;
    double nx, ny;
    if (std::fabs(dth) < 1e-9) {
        nx = r->pose.x + ds * std::cos(h);
        ny = r->pose.y + ds * std::sin(h);
    } else {
        double radius = ds / dth;
        nx = r->pose.x + radius * (std::sin(h + dth) - std::sin(h));
        ny = r->pose.y - radius * (std::cos(h + dth) - std::cos(h));
    }

    // A step that pushes the body into a wall is refused; moving away from
    // it, along it or spinning in place stays possible.
    double before = world_clearance(w, present, r->pose.x, r->pose.y);
    double after = world_clearance(w, present, nx, ny);
    if (after < kWorldBodyRadius && after < before - 1e-9) {
        r->v_left = r->v_right = 0;
        r->blocked = r->blocked_ever = true;
        return;
    }
    r->blocked = false;
    r->travel_left += wheel_l;
    r->travel_right += wheel_r;
    r->count_left = physics_counts(r->travel_left, w.cm_per_count * w.left_correction);
    r->count_right = physics_counts(r->travel_right, w.cm_per_count);
    r->distance += std::hypot(nx - r->pose.x, ny - r->pose.y);
    r->heading_turned += dth * 180.0 / kPi;
    r->pose.x = nx;
    r->pose.y = ny;
    r->pose.heading = wrap_heading(r->pose.heading + dth * 180.0 / kPi);
}

sim_pose physics_mount_pose(const sim_pose& robot, double forward, double left, double angle) {
    double h = robot.heading * kPi / 180.0;
    return sim_pose{robot.x + forward * std::cos(h) - left * std::sin(h),
                    robot.y + forward * std::sin(h) + left * std::cos(h),
                    wrap_heading(robot.heading + angle)};
}
