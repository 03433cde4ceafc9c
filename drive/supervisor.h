// Drive supervision: the speed loop's judge of whether the wheels and the
// encoder still do what the loop commands. A pure step, called once a period
// with what the loop commanded and what the encoder said; the thresholds are
// in drive/calibration.h, each with the figure behind it.
#pragma once

#include <cstdint>

// A verdict. Anything but SUPERVISOR_OK latches in the speed loop: stop
// frames from then on, the running move ended.
enum supervisor_fault : int32_t {
    SUPERVISOR_OK = 0,
    SUPERVISOR_ENCODER_SILENT,  // no complete encoder reply for too long
    SUPERVISOR_STALL_LEFT,      // hard command, no motion
    SUPERVISOR_STALL_RIGHT,
    SUPERVISOR_STALL_BOTH,
    SUPERVISOR_AGAINST_LEFT,  // hard command, clear motion the other way
    SUPERVISOR_AGAINST_RIGHT,
    SUPERVISOR_AGAINST_BOTH,
    SUPERVISOR_MOVE_OVERDUE,  // a move still running long after its time
};

// Consecutive periods of each suspicious pattern (all 0 at the start).
struct supervisor_state {
    int32_t stale;    // periods without fresh counts
    int32_t still_l;  // hard command, no motion, left
    int32_t still_r;
    int32_t against_l;  // hard command, motion the other way, left
    int32_t against_r;
};

// One speed-loop period as the supervisor sees it.
struct supervisor_period {
    int32_t count_l;  // this period's counts (forward positive)
    int32_t count_r;
    bool fresh;         // the counts come from a complete reply of this period
    bool regulating;    // the loop drives the wheels (a base reference is not 0)
    int32_t command_l;  // the command the wheels had while the counts were taken
    int32_t command_r;  //   (-127..127, before the dead-band offset)
};

// One period: counts the patterns on, SUPERVISOR_OK or the fault found. A
// stale period says nothing about the wheels and leaves their counts alone;
// a period that does not regulate clears them (stop frames are no stall).
supervisor_fault supervisor_step(supervisor_state* state, const supervisor_period& period);

// The line the speed loop prints once when a fault latches, e.g. "drive
// fault: left wheel stalled, motors stopped" (no newline).
const char* supervisor_text(supervisor_fault fault);
