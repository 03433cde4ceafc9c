// The drive faults (encoder_silent, encoder_dead, wheel_blocked,
// motor_reversed) as they come due on the simulator's clock: the held wheels
// and the reversed commands they make, and the moments the report and the map
// mark, the first injection and the first stop frame after it. Whether a
// fault is due is the world's fault table's to say (world_fault_due).
#pragma once

#include "sim/physics.h"
#include "sim/state.h"
#include "sim/world.h"

// Which faults have been logged as taken effect so far (physics thread only).
struct sim_fault_clock {
    bool logged[kWorldFaults];
};

// Physics thread, every step: holds the wheels whose blocking is due at
// `now` (on *r) and logs a `fault` row for each timed drive fault as it comes
// due.
void faults_due(const sim_world& w, double now, sim_fault_clock* c, sim_robot* r, sim_shared* s);
// The command a motor really gets at `now`: its opposite when its leads are
// swapped.
int faults_motor_command(const sim_world& w, int wheel, int command, double now);
// Devices thread, after each motor frame is logged: a reversed motor's fault
// is logged at the first frame that drives it (before that it cannot show),
// and the first stop frame after an injection is logged as `fault_stop`
// unless the command was being ended by a signal.
void faults_motor_frame(const sim_world& w, sim_shared* s, int left, int right);
