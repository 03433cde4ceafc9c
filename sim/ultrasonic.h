// What an ultrasonic channel measures: the distance from the sensor along a
// narrow cone (its axis and one ray either side) to the nearest wall or
// present board; no echo beyond the maximum range, at grazing incidence or on
// a channel that is not fitted or switched to never echo.
#pragma once

#include <cstdint>

#include "sim/physics.h"
#include "sim/world.h"

struct sim_uss_sample {
    bool echo;
    double range;  // cm, meaningful only with an echo
};

// channel 1..4; other channels give no echo. `now` on the simulator's clock
// (for the no-echo fault).
sim_uss_sample ultrasonic_measure(const sim_world& w, const uint8_t* present, const sim_pose& robot,
                                  int channel, double now);
