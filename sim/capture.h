// The capture socket: the uvccapture stand-in asks for a frame, the
// simulator renders what the robot's camera sees and writes the JPEG.
#pragma once

#include <string>

#include "sim/state.h"
#include "sim/world.h"

// Binds the Unix stream socket at path; 0, or -1 with a message.
int capture_open(const std::string& path, std::string* error);
// Answers requests until s->stop is set. Run on its own thread.
void capture_run(const sim_world& w, sim_shared* s);
// Closes and removes the socket.
void capture_close();

// Handles one request line (without the newline) and returns the reply line
// (with it). Public so tests can drive it without a socket.
std::string capture_handle(const sim_world& w, sim_shared* s, const std::string& line);
