#include "bench/test_run_ctrl.h"

#include <unistd.h>

#include <cstdio>

#include "bench/test_input.h"
#include "drive/calibration.h"
#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/run_ctrl.h"
#include "drive/vel_ctrl.h"

namespace {

// One answer of the console: a whole number and the one character after it,
// so "20 100" on one line answers both prompts of a move.
bool read_answer(const char* prompt, int* value) {
    printf("%s", prompt);
    if (!test_input_int(value)) {
        return false;
    }
    test_input_skip_char();
    return true;
}

// Reads the speed and the target of a move after their two prompts.
bool read_move(const char* speed_prompt, const char* target_prompt, int* speed, int* target) {
    return read_answer(speed_prompt, speed) && read_answer(target_prompt, target);
}

// Shows speeds and distances every period until the move has ended; always
// at least one line, even for a move that ends within its first period.
void show_move() {
    for (;;) {
        float speed_l = 0.0f;
        float speed_r = 0.0f;
        vel_ctrl_get_speed(&speed_l, &speed_r);
        distance_pair d;
        distance_get(&d);
        printf("speed_l=%5.1f   speed_r=%5.1f     dis_left=%6.1f    dis_right=%6.1f\n",
               static_cast<double>(speed_l), static_cast<double>(speed_r),
               static_cast<double>(d.left), static_cast<double>(d.right));
        if (run_ctrl_get_endflag() == 1) {
            return;
        }
        usleep(DRIVE_PERIOD_US);
    }
}

}  // namespace

void test_run_ctrl() {
    encoder_create();
    vel_ctrl_create();
    for (;;) {
        printf("run mode (s or r) = ");
        char mode = 0;
        if (!test_input_char(&mode)) {
            return;
        }
        // The newline after the letter; an empty line has none left to drop.
        if (mode != '\n') {
            test_input_skip_char();
        }
        int speed = 0;
        int target = 0;
        if (mode == 's') {
            if (!read_move("speed value [cm/s]= ", "distance [cm]= ", &speed, &target)) {
                return;
            }
            run_ctrl_set(RUN_STRAIGHT, static_cast<float>(speed));
            run_ctrl_set_dist(static_cast<float>(target));
        } else if (mode == 'r') {
            if (!read_move("rataiton speed [deg/s]= ", "rataiton angle [deg]= ", &speed, &target)) {
                return;
            }
            run_ctrl_set(RUN_ROTATE, static_cast<float>(speed));
            run_ctrl_set_dist(static_cast<float>(target));
        }
        // Any other letter repeats the previous move, measured afresh from 0.
        run_ctrl_create();
        show_move();
        if (!test_input_drive_ok()) {
            return;
        }
    }
}
