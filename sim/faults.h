// The drive faults a world can switch on (encoder_silent, encoder_dead,
// wheel_blocked, motor_reversed) as they come due on the simulator's clock,
// and the moments the report and the map mark: the first injection and the
// first stop frame after it.
#pragma once

#include "sim/physics.h"
#include "sim/state.h"
#include "sim/world.h"

// What of the timed faults has taken effect so far (physics thread only).
struct sim_fault_clock {
    bool silent, dead[2], blocked[2];
};

// Physics thread, every step: switches on the faults due at `now` (held
// wheels on *r, the encoder flags on *s) and logs a `fault` row for each.
void faults_due(const sim_world& w, double now, sim_fault_clock* c, sim_robot* r, sim_shared* s);
// The command a motor really gets: its opposite when its leads are swapped.
int faults_motor_command(const sim_world& w, int wheel, int command);
// Devices thread, after each motor frame is logged: a reversed motor's fault
// is logged at the first frame that drives it (before that it cannot show),
// and the first stop frame after an injection is logged as `fault_stop`
// unless the command was being ended by a signal.
void faults_motor_frame(const sim_world& w, sim_shared* s, int left, int right);
