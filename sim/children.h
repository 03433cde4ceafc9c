// The processes tavi-sim starts: the command it runs as its child (and
// whatever that leaves behind), and the report program after the run.
#pragma once

#include <signal.h>

#include <string>

#include "sim/options.h"
#include "sim/state.h"

// Runs the command, passing on signals meant for us (and marking the run as
// interrupted), with its standard output relayed to ours and logged line by
// line; its exit code.
int children_run_command(const sim_options& o, const sigset_t& sigs, const std::string& dev,
                         const std::string& sock, sim_shared* shared);
// Runs `program RUNDIR` once the log, summary and map are written (the
// run's report and plot); its failure is reported and changes nothing else.
void children_run_report(const std::string& program, const std::string& dir);
