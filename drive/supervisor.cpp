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

// Names the side of a pair of per-wheel verdicts.
supervisor_fault side(bool left, bool right, supervisor_fault l, supervisor_fault r,
                      supervisor_fault both) {
    if (left && right) {
        return both;
    }
    return left ? l : r;
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
    const bool stall_l = st->still_l >= DRIVE_STALL_PERIODS;
    const bool stall_r = st->still_r >= DRIVE_STALL_PERIODS;
    if (stall_l || stall_r) {
        return side(stall_l, stall_r, SUPERVISOR_STALL_LEFT, SUPERVISOR_STALL_RIGHT,
                    SUPERVISOR_STALL_BOTH);
    }
    const bool against_l = st->against_l >= DRIVE_AGAINST_PERIODS;
    const bool against_r = st->against_r >= DRIVE_AGAINST_PERIODS;
    if (against_l || against_r) {
        return side(against_l, against_r, SUPERVISOR_AGAINST_LEFT, SUPERVISOR_AGAINST_RIGHT,
                    SUPERVISOR_AGAINST_BOTH);
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
