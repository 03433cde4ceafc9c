// Starting and stopping tavi-sim from a test, and reading its summary.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

struct sim_process {
    std::string dir;  // a fresh run folder (sim_run_folder)
    emu_child child;
};

// Starts tavi-sim in a fresh folder with the extra arguments and waits
// (bounded) until it serves its nodes.
sim_process sim_start(const std::vector<std::string>& extra);
// Stops it with SIGTERM, waits for it and returns its summary; with log, also
// the run's log.csv as it was at the end.
std::map<std::string, std::string> sim_stop(sim_process* p, std::string* log = nullptr);
