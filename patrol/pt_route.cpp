#include "patrol/pt_route.h"

#include <cstdio>

#include "drive/pause.h"
#include "drive/run_ctrl.h"
#include "drive/vel_ctrl.h"
#include "sensors/direction.h"
#include "vision/number_detect.h"

namespace {

// Signed magnitude: forward for a positive value, backward for zero or less,
// so a zero record creeps backward like the run controller's own rule for a
// speed that is not positive.
float signed_speed(float magnitude, int value) {
    return value > 0 ? magnitude : -magnitude;
}

// One complete move: set up, start, wait for the controller to end it.
void run_move(int style, float speed, int value) {
    run_ctrl_set(style, speed);
    run_ctrl_set_dist(static_cast<float>(value));
    run_ctrl_create();
    while (run_ctrl_get_endflag() != 1) {
        pause_us(PT_ROUTE_POLL_US);
    }
    run_ctrl_cancel();
}

void read_numbers(const pt_route& route) {
    // The reading's result is not needed: whatever the store holds is shown,
    // and a failed reading leaves the patrol going.
    number_detect(route.read_distance);
    int digits[2] = {PT_ROUTE_NO_DIGIT, PT_ROUTE_NO_DIGIT};
    number_get(digits);
    printf("左数字=%d、右数字=%d\n", digits[0], digits[1]);
}

}  // namespace

float pt_route_speed(int style, int value, bool has_previous, float previous,
                     const pt_route& route) {
    if (style == RUN_ROTATE) {
        return signed_speed(route.rotation_speed, value);
    }
    if (style == RUN_STRAIGHT || !has_previous) {
        return signed_speed(route.straight_speed, value);
    }
    return previous;
}

bool pt_route_checkpoint(const pt_list& list, int* pos, int seq) {
    // The closing 0 ends the list for good: nothing after it is looked at.
    if (*pos < 0 || *pos >= list.slots || list.entries[*pos] == 0 || list.entries[*pos] != seq) {
        return false;
    }
    ++*pos;
    return true;
}

void pt_route_run(const pt_route& route) {
    number_set_nums(route.digits);
    const int steps = route.steps < PT_RECORDS ? route.steps : PT_RECORDS;
    int align_pos = 0;
    int read_pos = 0;
    float speed = 0.0f;
    for (int seq = 1; seq <= steps; ++seq) {
        int32_t style = route.records[seq - 1].style;
        int32_t value = route.records[seq - 1].value;
        if (route.get_record != nullptr) {
            route.get_record(seq - 1, &style, &value);
        }
        printf("sequence_num=%d     style=%d      value=%d   \n", seq, style, value);
        speed = pt_route_speed(style, value, seq > 1, speed, route);
        run_move(style, speed, value);
        // Squared up first, so the reading is taken square to the board.
        if (pt_route_checkpoint(route.align_at, &align_pos, seq)) {
            direction_correct(route.align_distance);
        }
        // A drive fault ends the patrol at this step: the next move would
        // only end at once, and a robot that cannot drive reads nothing new.
        if (vel_ctrl_fault() != SUPERVISOR_OK) {
            printf("patrol stopped at step %d: the drive stopped on a fault\n", seq);
            break;
        }
        if (pt_route_checkpoint(route.read_at, &read_pos, seq)) {
            read_numbers(route);
        }
        if (seq < steps) {
            pause_us(route.step_pause_us);
        }
    }
    run_ctrl_stop();
    pause_us(route.final_pause_us);
}
