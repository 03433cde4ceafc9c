// The mission program: brings the drive up, runs the linked patrol once and
// leaves the robot standing with the motors stopped.
#include <cstdio>

#include "drive/device.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/stop_guard.h"
#include "drive/vel_ctrl.h"
#include "patrol/patrol.h"

int main() {
    // Before any thread exists, so Ctrl-C at any later moment ends in a stop frame.
    stop_guard_install();
    // Each line as it happens: the transcript is often read through a pipe,
    // interleaved with the capture command's own output.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    const int encoder = device_encoder_open();
    const int motor = device_motor_open();
    const int uss = device_uss_open();
    if (encoder != 0 || motor != 0 || uss != 0) {
        // Without odometry a move never ends while the speed loop pushes the
        // wheels ever harder, and without the rangers the first checkpoint
        // would end the process half way: better not to start at all.
        printf("patrol not started: a device did not open\n");
        motor_halt();
        return 1;
    }

    encoder_create();
    vel_ctrl_create();
    tavion_patrol();

    // The speed loop ends with a stop frame; the halt then locks this process
    // out of the motor device, so nothing can follow that frame.
    vel_ctrl_cancel();
    motor_halt();
    encoder_stop();
    return 0;
}
