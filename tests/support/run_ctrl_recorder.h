// A recording stand-in for the run controller, for the tests that link one of
// its callers (the wall alignment, a patrol) without the drive library. Every
// call is noted in order and every move kept as it was set up; a move ends on
// the first look at its end flag unless the test asks for more, so a sequence
// of moves runs at once.
#pragma once

#include <string>
#include <vector>

struct recorded_move {
    int mode;
    float speed;
    float target;
};

// A test's record derives from this; its other stand-ins note their calls in
// the same events, so one list shows the whole sequence.
struct run_ctrl_record {
    // "set", "dist", "create", "flag", "cancel", "stop", "reset_Kfr", "reset"
    // for the run controller's calls, in order with the test's own events.
    std::vector<std::string> events;
    std::vector<recorded_move> moves;  // one per run_ctrl_create, as set up before it
    int polls_before_end = 0;          // end-flag looks that answer 0 after each create
};

// Makes the stand-in note into *record from now on, with no move set up.
void run_ctrl_recorder_use(run_ctrl_record* record);
