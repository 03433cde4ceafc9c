#include "drive/supervisor.h"

#include "drive/calibration.h"

namespace {

bool hard(int32_t command) {
    return command >= DRIVE_HARD_COMMAND || command <= -DRIVE_HARD_COMMAND;
}

// Counts a wheel's two patterns on by one period.
void judge_wheel(int32_t command, int32_t count, int32_t* still, int32_t* against) {
    if (!hard(command)) {
        *still = 0;
        *against = 0;
        return;
    }
    const bool is_still = count <= DRIVE_STILL_COUNTS && count >= -DRIVE_STILL_COUNTS;
    const int32_t along = command > 0 ? count : -count;
    *still = is_still ? *still + 1 : 0;
    *against = along <= -DRIVE_AGAINST_COUNTS ? *against + 1 : 0;
}

// Names the side of a verdict: both wheels when the other one has shown the
// same pattern for at least half the time (a robot against a wall: the
// right wheel's higher gains take it to a hard command a few periods before
// the left), else the wheel that tripped.
supervisor_fault side(int32_t left, int32_t right, int32_t periods, supervisor_fault l,
                      supervisor_fault r, supervisor_fault both) {
    if (left >= periods / 2 && right >= periods / 2) {
        return both;
    }
    return left >= periods ? l : r;
}

}  // namespace

supervisor_fault supervisor_step(supervisor_state* st, const supervisor_period& p) {
    if (!p.fresh) {
        ++st->stale;
        return st->stale >= DRIVE_SILENT_PERIODS ? SUPERVISOR_ENCODER_SILENT : SUPERVISOR_OK;
    }
    st->stale = 0;
    if (!p.regulating) {
        st->still_l = st->still_r = st->against_l = st->against_r = 0;
        return SUPERVISOR_OK;
    }
    judge_wheel(p.command_l, p.count_l, &st->still_l, &st->against_l);
    judge_wheel(p.command_r, p.count_r, &st->still_r, &st->against_r);
    if (st->still_l >= DRIVE_STALL_PERIODS || st->still_r >= DRIVE_STALL_PERIODS) {
        return side(st->still_l, st->still_r, DRIVE_STALL_PERIODS, SUPERVISOR_STALL_LEFT,
                    SUPERVISOR_STALL_RIGHT, SUPERVISOR_STALL_BOTH);
    }
    if (st->against_l >= DRIVE_AGAINST_PERIODS || st->against_r >= DRIVE_AGAINST_PERIODS) {
        return side(st->against_l, st->against_r, DRIVE_AGAINST_PERIODS, SUPERVISOR_AGAINST_LEFT,
                    SUPERVISOR_AGAINST_RIGHT, SUPERVISOR_AGAINST_BOTH);
    }
    return SUPERVISOR_OK;
}

const char* supervisor_text(supervisor_fault fault) {
    switch (fault) {
        case SUPERVISOR_OK:
            return "drive: no fault";
        case SUPERVISOR_ENCODER_SILENT:
            return "drive fault: encoder_dev stopped answering, motors stopped";
        case SUPERVISOR_STALL_LEFT:
            return "drive fault: left wheel stalled, motors stopped";
        case SUPERVISOR_STALL_RIGHT:
            return "drive fault: right wheel stalled, motors stopped";
        case SUPERVISOR_STALL_BOTH:
            return "drive fault: both wheels stalled, motors stopped";
        case SUPERVISOR_AGAINST_LEFT:
            return "drive fault: left wheel turning against its command, motors stopped";
        case SUPERVISOR_AGAINST_RIGHT:
            return "drive fault: right wheel turning against its command, motors stopped";
        case SUPERVISOR_AGAINST_BOTH:
            return "drive fault: both wheels turning against their command, motors stopped";
        case SUPERVISOR_MOVE_OVERDUE:
            return "drive fault: move not ended in time, motors stopped";
    }
    return "drive fault: unknown, motors stopped";
}
