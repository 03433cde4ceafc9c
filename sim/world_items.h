// The world file's words and its items with options (board, motor_curve,
// fault), shared by the line reader. Simulator-private.
#pragma once

#include <sstream>
#include <string>

#include "sim/world.h"

// Reads exactly `n` numbers from the stream; false when any is missing or
// not a finite number.
bool world_read_numbers(std::istringstream& in, double* out, int n);
// long long: the seed's range (up to 2^32 - 1) does not fit the 32-bit
// robot's long.
bool world_read_int(std::istringstream& in, long long lo, long long hi, long long* out);
bool world_rest_is_empty(std::istringstream& in);
void world_add_wall(sim_world* w, double x1, double y1, double x2, double y2, int board);

// Each reads the rest of its line; 0, or -1 with a message in *error.
int world_parse_board(sim_world* w, std::istringstream& in, std::string* error);
// "motor_curve left|right C S C S ...": the command magnitudes rise strictly
// within 0..127, the speeds are at least 0.
int world_parse_curve(sim_world* w, std::istringstream& in, std::string* error);
int world_parse_fault(sim_world* w, std::istringstream& in, std::string* error);
