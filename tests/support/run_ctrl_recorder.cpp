#include "tests/support/run_ctrl_recorder.h"

#include "drive/run_ctrl.h"
#include "drive/supervisor.h"
#include "drive/vel_ctrl.h"

namespace {

run_ctrl_record* record = nullptr;
// What run_ctrl_set and run_ctrl_set_dist stored, taken over by create.
recorded_move pending{};
int polls_left = 0;

void note(const char* event) {
    record->events.push_back(event);
}

}  // namespace

void run_ctrl_recorder_use(run_ctrl_record* r) {
    record = r;
    pending = recorded_move{};
    polls_left = 0;
}

void run_ctrl_set(int mode, float speed) {
    pending.mode = mode;
    pending.speed = speed;
    note("set");
}

void run_ctrl_set_dist(float dist) {
    pending.target = dist;
    note("dist");
}

void run_ctrl_create() {
    record->moves.push_back(pending);
    polls_left = record->polls_before_end;
    note("create");
}

int run_ctrl_get_endflag() {
    note("flag");
    if (polls_left > 0) {
        --polls_left;
        return 0;
    }
    return 1;
}

void run_ctrl_cancel() {
    note("cancel");
}

void run_ctrl_stop() {
    note("stop");
}

void run_ctrl_reset_Kfr() {
    note("reset_Kfr");
}

void run_ctrl_reset() {
    note("reset");
}

// The callers ask the speed loop after each move whether it stopped on a
// fault; here the drive is always healthy.
supervisor_fault vel_ctrl_fault() {
    return SUPERVISOR_OK;
}
