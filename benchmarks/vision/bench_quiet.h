// What both reading benchmarks need around the readings: a private working
// directory with img/ (the reading's fixed file names), and standard output
// out of the way (the reading prints its console lines there).
#pragma once

#include <string>

// Makes a fresh directory under /tmp named from prefix, with img/ in it, and
// makes it the working directory. Its path, or "" (the reason printed).
std::string bench_enter_workdir(const char* prefix);

// Sends standard output to /dev/null and returns a descriptor of the original
// output for the figures, or -1 (the reason printed).
int bench_quiet_stdout();
