// The route interpreter both patrol variants run: one run-controller move per
// record, then wall alignment and/or a number reading at the listed steps.
// The variants differ only in the constants and tables they hand in here.
#pragma once

#include <cstdint>

#include "patrol/patrol.h"

// A checkpoint list: ascending sequence numbers, ended by the first 0 entry or
// by the end of its slots, whichever comes first.
struct pt_list {
    const int32_t* entries;
    int slots;
};

struct pt_route {
    const pt_record* records;  // PT_RECORDS records
    int steps;                 // sequence numbers 1..steps are run (at most PT_RECORDS)
    float straight_speed;      // cm/s, magnitude used for straight records
    float rotation_speed;      // deg/s, magnitude used for rotation records
    int align_distance;        // cm from the surface, argument of direction_correct
    int read_distance;         // cm from the board, argument of number_detect
    int digits;                // digits per reading, 1 or 2
    pt_list align_at;          // steps after which the robot squares up to the wall
    pt_list read_at;           // steps after which the numbers are read
    long step_pause_us;        // pause after each step but the last, µs
    long final_pause_us;       // pause after the final stop, µs
    // How a step's record is read: through the variant's own accessor (style
    // and value of record index), or, when null, straight from records.
    void (*get_record)(int index, int32_t* style, int32_t* value);
};

// Runs the route once from sequence number 1; returns after the final pause.
void pt_route_run(const pt_route& route);

// Speed of a move, cm/s (deg/s for a rotation): a straight record gets the
// straight speed, a rotation the rotation speed, each positive for a value
// > 0 and negative otherwise. Any other style keeps the previous step's speed;
// the first step (has_previous false) has none and then moves like a straight
// record of the same value would, so a route that opens with an arc still
// runs it in the direction its value says.
float pt_route_speed(int style, int value, bool has_previous, float previous,
                     const pt_route& route);

// True when the list entry at *pos is seq; only then *pos moves on by one.
// A position at the end of the slots or at a 0 entry never matches, so a list
// without its closing 0 is not read past its end.
bool pt_route_checkpoint(const pt_list& list, int* pos, int seq);

// Wait between two looks at the run controller's end flag, µs.
constexpr long PT_ROUTE_POLL_US = 20000;

// What the right-hand digit of the reading line shows when the reading did
// not provide one: a one-digit reading fills only the left value, and -1 is
// the mark the reader itself uses for a digit that was not read.
constexpr int PT_ROUTE_NO_DIGIT = -1;
