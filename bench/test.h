// The bench program's routine table: which test a program start runs.
#pragma once

#include <cstdio>

// One bench routine, selected by name on the command line.
struct test_routine {
    const char* name;
    const char* what;  // one line for the list
    void (*run)();
    // Closes the speed loop on the wheel encoders: without them the loop reads
    // zero speed for ever and drives the wheels to full command, so such a
    // routine must not start when the encoder node did not open.
    bool needs_encoder;
};

// The routine called name, or null. A null name selects the drive console.
const test_routine* test_find(const char* name);
// Prints "usage" and one line per routine to stream.
void test_list(FILE* stream);
