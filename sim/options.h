// tavi-sim's command line: the run directory, the world and the lines that
// amend it, the clock rate, and the command to run as the child.
#pragma once

#include <string>
#include <vector>

struct sim_options {
    std::string dir, world, socket, host_dir, report;
    std::vector<std::string> sets;
    double rate = 1000;
    double duration = 0;
    std::vector<std::string> command;
};

// 0, or the exit status 2 after the usage line on standard error.
int options_parse(int argc, char** argv, sim_options* o);
