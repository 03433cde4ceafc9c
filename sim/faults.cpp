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

bool due(double at, double now) {
    return at >= 0 && now >= at;
}

}  // namespace

void faults_due(const sim_world& w, double now, sim_fault_clock* c, sim_robot* r, sim_shared* s) {
    if (!c->silent && due(w.encoder_silent_at, now)) {
        c->silent = true;
        s->encoder_silent.store(true, std::memory_order_relaxed);
        injected(s, "encoder_silent");
    }
    for (int i = 0; i < 2; ++i) {
        if (!c->dead[i] && due(w.encoder_dead_at[i], now)) {
            c->dead[i] = true;
            (i == 0 ? s->encoder_dead_left : s->encoder_dead_right)
                .store(true, std::memory_order_relaxed);
            injected(s, i == 0 ? "encoder_dead left" : "encoder_dead right");
        }
    }
    bool newly[2] = {false, false};
    for (int i = 0; i < 2; ++i)
        newly[i] = !c->blocked[i] && due(w.wheel_blocked_at[i], now);
    if (newly[0] || newly[1]) {
        // Both wheels held from the same moment is one obstacle, one row.
        injected(s, newly[0] && newly[1] ? "wheel_blocked both"
                    : newly[0]           ? "wheel_blocked left"
                                         : "wheel_blocked right");
        c->blocked[0] = c->blocked[0] || newly[0];
        c->blocked[1] = c->blocked[1] || newly[1];
        r->held_left = c->blocked[0];
        r->held_right = c->blocked[1];
    }
}

int faults_motor_command(const sim_world& w, int wheel, int command) {
    return w.motor_reversed[wheel] ? -command : command;
}

void faults_motor_frame(const sim_world& w, sim_shared* s, int left, int right) {
    constexpr auto rx = std::memory_order_relaxed;
    const int cmd[2] = {left, right};
    for (int i = 0; i < 2; ++i) {
        if (w.motor_reversed[i] && cmd[i] != 0 && !s->reversed_shown[i].exchange(true, rx)) {
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
