// Starting and stopping tavi-sim from a test, and reading its summary.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/emulated_devices.h"

struct sim_process {
    std::string dir;  // a fresh run directory
    emu_child child;
};

// Starts tavi-sim in a fresh directory with the extra arguments and waits
// (bounded) until it serves its nodes.
sim_process sim_start(const std::vector<std::string>& extra);
// Stops it with SIGTERM, waits for it and returns its summary; with log, also
// the run's log.csv as it was at the end (the directory is removed).
std::map<std::string, std::string> sim_stop(sim_process* p, std::string* log = nullptr);
// key=value lines of a summary file.
std::map<std::string, std::string> sim_read_summary(const std::string& path);
// A fresh temporary directory.
std::string sim_temp_dir();
