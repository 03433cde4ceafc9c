// Evidence of a run: the CSV log (one state row every 20 ms plus one row per
// device event), the path of the robot, the summary file and the PNG map.
#pragma once

#include <string>

#include "sim/physics.h"
#include "sim/state.h"
#include "sim/world.h"

// Opens the log and writes its header; -1 when the file cannot be created.
// Reserves room for the path so recording it never allocates.
int record_open(const std::string& path);
// One log row stamped now, with the shared pose, speeds and commands; detail
// must contain no comma. Safe from any thread.
void record_event(const sim_shared& s, const char* event, const char* detail);
// Appends a path point (physics thread only); points beyond the reserve are
// dropped.
void record_path_point(double x, double y);
void record_close();

// Writes summary.txt from the final state.
int record_summary(const std::string& path, const sim_world& w, const sim_shared& s,
                   const sim_robot& r, double run_time);
// Draws the map: walls, boards with their digits, the path, start and end.
int record_map(const std::string& path, const sim_world& w, const sim_shared& s,
               const sim_robot& r);
