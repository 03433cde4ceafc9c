// The four device nodes as raw pseudo-terminals, and the loop that serves
// them: encoder replies, motor frames, io state, the ultrasonic board.
#pragma once

#include <string>

#include "sim/state.h"
#include "sim/world.h"

// Creates the ptys and the links "<dir>/encoder_dev", "motor_dev", "io_dev",
// "ttyS0" (dir must exist). 0, or -1 with a message.
int devices_open(const std::string& dir, std::string* error);
// Serves the nodes until s->stop is set, then takes in what is still queued
// (a last stop frame) and returns. Run on its own thread.
void devices_run(const sim_world& w, sim_shared* s);
// Removes the links and closes the ptys.
void devices_close();
