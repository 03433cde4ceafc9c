#include "sim/ultrasonic.h"

sim_uss_sample ultrasonic_measure(const sim_world& w, const uint8_t* present, const sim_pose& robot,
                                  int channel, double now) {
    sim_uss_sample none{false, 0};
    if (channel < 1 || channel > 4)
        return none;
    const sim_uss_mount& m = w.uss[channel - 1];
    if (!m.fitted || world_fault_due(w, world_fault_of(sim_fault::uss_no_echo_1, channel - 1), now))
        return none;
    sim_pose s = physics_mount_pose(robot, m.forward, m.left, m.angle);
    // The shortest echo inside the cone wins; a ray that meets its surface
    // too obliquely sends the sound away instead of back.
    bool echo = false;
    double best = 0;
    const double offsets[3] = {0.0, -w.uss_cone, w.uss_cone};
    for (double off : offsets) {
        double dist = 0, incidence = 0;
        if (!world_ray(w, present, s.x, s.y, s.heading + off, &dist, &incidence))
            continue;
        if (incidence > w.uss_grazing || dist > w.uss_max_range)
            continue;
        if (!echo || dist < best) {
            echo = true;
            best = dist;
        }
        if (w.uss_cone <= 0)
            break;
    }
    return sim_uss_sample{echo, best};
}
