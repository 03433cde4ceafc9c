#include "sim/faults.h"

#include <cstdio>

#include "sim/record.h"

namespace {

const char* const kWheelNames[2] = {"left", "right"};

void injected(sim_shared* s, const char* detail) {
    constexpr auto rx = std::memory_order_relaxed;
    double none = -1;
    if (s->fault_time.compare_exchange_strong(none, state_now(*s), rx)) {
        s->fault_x.store(s->x.load(rx), rx);
        s->fault_y.store(s->y.load(rx), rx);
    }
    record_event(*s, "fault", detail);
}

}  // namespace

void faults_due(const sim_world& w, double now, sim_fault_clock* c, sim_robot* r, sim_shared* s) {
    // Newly due: due now, not logged yet.
    auto newly = [&](sim_fault f) {
        bool& logged = c->logged[static_cast<int>(f)];
        if (logged || !world_fault_due(w, f, now))
            return false;
        logged = true;
        return true;
    };
    if (newly(sim_fault::encoder_silent))
        injected(s, "encoder_silent");
    if (newly(sim_fault::encoder_dead_left))
        injected(s, "encoder_dead left");
    if (newly(sim_fault::encoder_dead_right))
        injected(s, "encoder_dead right");
    const bool left = newly(sim_fault::wheel_blocked_left);
    const bool right = newly(sim_fault::wheel_blocked_right);
    // Both wheels held from the same moment is one obstacle, one row.
    if (left || right)
        injected(s, left && right ? "wheel_blocked both"
                    : left        ? "wheel_blocked left"
                                  : "wheel_blocked right");
    r->held_left = world_fault_due(w, sim_fault::wheel_blocked_left, now);
    r->held_right = world_fault_due(w, sim_fault::wheel_blocked_right, now);
}

int faults_motor_command(const sim_world& w, int wheel, int command, double now) {
    return world_fault_due(w, world_fault_of(sim_fault::motor_reversed_left, wheel), now) ? -command
                                                                                          : command;
}

void faults_motor_frame(const sim_world& w, sim_shared* s, int left, int right) {
    constexpr auto rx = std::memory_order_relaxed;
    const int cmd[2] = {left, right};
    for (int i = 0; i < 2; ++i) {
        if (world_fault_due(w, world_fault_of(sim_fault::motor_reversed_left, i), state_now(*s)) &&
            cmd[i] != 0 && !s->reversed_shown[i].exchange(true, rx)) {
            char detail[32];
            std::snprintf(detail, sizeof detail, "motor_reversed %s", kWheelNames[i]);
            injected(s, detail);
        }
    }
    if (left == 0 && right == 0 && s->fault_time.load(rx) >= 0 && s->fault_stop_time.load(rx) < 0 &&
        !s->interrupted.load(rx)) {
        s->fault_stop_time.store(state_now(*s), rx);
        s->fault_stop_x.store(s->x.load(rx), rx);
        s->fault_stop_y.store(s->y.load(rx), rx);
        record_event(*s, "fault_stop", "first stop frame after the fault");
    }
}
