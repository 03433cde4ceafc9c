// A small program of the real drive modules, run inside the simulator by the
// end-to-end tests: one straight run or one spot turn, then a stop.
// Usage: tavi_drive_driver s SPEED_CM_S DIST_CM | r SPEED_DEG_S ANGLE_DEG
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drive/device.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/run_ctrl.h"
#include "drive/stop_guard.h"
#include "drive/vel_ctrl.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "s") != 0 && std::strcmp(argv[1], "r") != 0)) {
        std::fprintf(stderr, "usage: %s s|r SPEED TARGET\n", argv[0]);
        return 2;
    }
    stop_guard_install();
    if (device_encoder_open() != 0 || device_motor_open() != 0)
        return 1;
    encoder_create();
    vel_ctrl_create();
    run_ctrl_set(argv[1][0] == 's' ? RUN_STRAIGHT : RUN_ROTATE,
                 static_cast<float>(std::atof(argv[2])));
    run_ctrl_set_dist(static_cast<float>(std::atof(argv[3])));
    run_ctrl_create();
    // Bounded: a move that never ends is a failure, not a hang.
    int waited = 0;
    while (run_ctrl_get_endflag() != 1 && waited < 60000) {
        usleep(20000);
        waited += 20;
    }
    int ended = run_ctrl_get_endflag();
    run_ctrl_cancel();
    // The speed loop brings the wheels to rest: leave once it has measured
    // them still for five looks in a row (bounded), not after a fixed pause
    // that a busy machine's stretched periods can outlast.
    for (int still = 0, looks = 0; still < 5 && looks < 150; ++looks) {
        usleep(20000);
        float left = 0, right = 0;
        vel_ctrl_get_speed(&left, &right);
        still = std::fabs(left) < 0.5f && std::fabs(right) < 0.5f ? still + 1 : 0;
    }
    motor_halt();
    std::printf("move %s\n", ended == 1 ? "ended" : "timed out");
    return ended == 1 ? 0 : 1;
}
