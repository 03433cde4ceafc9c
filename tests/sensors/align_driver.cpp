// Runs one wall alignment on whatever the device nodes are (the simulator in
// the end-to-end test): brings the drive up, aligns to the distance given as
// the first argument (default 50 cm), prints the result and leaves the motors
// stopped.
#include <cstdio>
#include <cstdlib>

#include "drive/device.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/run_ctrl.h"
#include "drive/stop_guard.h"
#include "drive/vel_ctrl.h"
#include "sensors/direction.h"

int main(int argc, char** argv) {
    // Before any thread exists, so an interrupt at any moment ends in a stop frame.
    stop_guard_install();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int ref_dist = argc > 1 ? std::atoi(argv[1]) : 50;

    const int encoder = device_encoder_open();
    const int motor = device_motor_open();
    const int uss = device_uss_open();
    if (encoder != 0 || motor != 0 || uss != 0) {
        std::printf("alignment not started: a device did not open\n");
        motor_halt();
        return 1;
    }

    encoder_create();
    vel_ctrl_create();
    const int result = direction_correct(ref_dist);
    std::printf("direction_correct=%d\n", result);

    // The alignment's last rotation has ended but its thread is reclaimed only
    // by the next move or a cancel; there is no next move.
    run_ctrl_cancel();
    vel_ctrl_cancel();
    motor_halt();
    encoder_stop();
    return 0;
}
