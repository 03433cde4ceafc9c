// Recording stand-ins for everything a patrol calls out to: the run
// controller (the shared recorder), the wall alignment, the number reader and
// the patrol's waits.
// A test executable links one patrol module with these instead of the real
// libraries, so every move, check and pause of a route can be checked exactly
// and at once (a move ends on the first look at its end flag, waits cost
// nothing).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "tests/support/run_ctrl_recorder.h"

// The run controller's events and moves, and besides them "align <cm>",
// "nums <n>", "detect <cm>", "get", "pause <us>".
struct patrol_record : run_ctrl_record {
    std::deque<std::vector<int>> readings;  // digits number_get hands out, per reading
    int digits_expected = 2;                // as number_set_nums left it
};

extern patrol_record patrol_rec;

// Clears the record; call at the start of every test.
void patrol_fakes_reset();

// The events with every "flag" and poll pause
// left out: what a route did apart from its waiting.
std::vector<std::string> patrol_actions();

// How often an event was recorded.
int patrol_count(const std::string& event);

// The lines of text (without their newline) that begin with prefix.
std::vector<std::string> patrol_lines(const std::string& text, const std::string& prefix);
