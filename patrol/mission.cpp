// The mission program: brings the drive up, runs the linked patrol once and
// leaves the robot standing with the motors stopped.
#include <cstdio>

#include "drive/device.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/pause.h"
#include "drive/run_ctrl.h"
#include "drive/stop_guard.h"
#include "drive/vel_ctrl.h"
#include "patrol/patrol.h"

namespace {

// The speed loop already sends stop frames when the patrol ends, but a wheel
// still coasts for a moment (the last move may have ended on a kick). Ending
// the loop only once both wheels have settled means the robot is left
// standing, not rolling; bounded, so a wheel the encoder misreads cannot keep
// the program alive.
void wait_for_rest() {
    constexpr float REST_SPEED = 0.5f;  // cm/s
    constexpr int QUIET_LOOKS = 3;
    constexpr int MAX_LOOKS = 100;  // 2 s
    int quiet = 0;
    for (int look = 0; look < MAX_LOOKS && quiet < QUIET_LOOKS; ++look) {
        pause_us(20000);
        float left = 0.0f;
        float right = 0.0f;
        vel_ctrl_get_speed(&left, &right);
        const bool still =
            left < REST_SPEED && left > -REST_SPEED && right < REST_SPEED && right > -REST_SPEED;
        quiet = still ? quiet + 1 : 0;
    }
}

}  // namespace

int main() {
    // Before any thread exists, so Ctrl-C at any later moment ends in a stop frame.
    device_std_streams_reserve();
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
    wait_for_rest();

    // A patrol that ends on a wall alignment leaves that alignment's last,
    // finished rotation to be reclaimed by a next move, and there is none.
    run_ctrl_cancel();
    // The speed loop ends with a stop frame; the halt then locks this process
    // out of the motor device, so nothing can follow that frame.
    vel_ctrl_cancel();
    motor_halt();
    encoder_stop();
    // A patrol the drive stopped on a fault did not do its round.
    return vel_ctrl_fault() == SUPERVISOR_OK ? 0 : 1;
}
