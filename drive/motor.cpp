#include "drive/motor.h"

#include "drive/device.h"

// Every frame goes through the device registry's one motor write path (one
// lock, one gate); the halts and the job-control stop are stop frames that
// shut that gate behind them. The write's result is not checked: a lost
// command leaves the motors at the previous one, and the next period sends a
// fresh frame anyway.

namespace {

const uint8_t stop_frame[MOTOR_HALT_FRAME_SIZE] = {0, 0, 0, 0};

}  // namespace

uint8_t motor_command_byte(int command, int dead_band) {
    // Widened first so that adding the offset to a huge command cannot overflow.
    long long v = command;
    if (v > 0) {
        v += dead_band;
    } else if (v < 0) {
        v -= dead_band;
    }
    if (v > 127) {
        v = 127;
    } else if (v < -127) {
        v = -127;
    }
    return static_cast<uint8_t>(v < 0 ? 128 - v : v);
}

void motor_frame4(int left, int right, uint8_t frame[4]) {
    frame[0] = motor_command_byte(left, MOTOR_LEFT_DEAD_BAND);
    frame[1] = motor_command_byte(right, MOTOR_RIGHT_DEAD_BAND);
    frame[2] = frame[1];
    frame[3] = frame[1];
}

void motor_drive(int left, int right) {
    uint8_t frame[4];
    motor_frame4(left, right, frame);
    (void)device_motor_write(frame, sizeof frame);
}

void motor_send_frame2(uint8_t left, uint8_t right) {
    const uint8_t frame[2] = {left, right};
    (void)device_motor_write(frame, sizeof frame);
}

void motor_halt() {
    // Also while the process is held: the halt is for good.
    (void)device_motor_write(stop_frame, sizeof stop_frame, DEVICE_MOTOR_HALTED,
                             DEVICE_MOTOR_HALTED);
}

void motor_halt_from_signal() {
    // The frame goes out even when an earlier halt sent one (the driver may
    // have been written to since by a crashed thread's last act).
    (void)device_motor_write_from_signal(stop_frame, sizeof stop_frame, DEVICE_MOTOR_HALTED);
}

void motor_suspend() {
    // Held already, or halted: the last frame is a stop frame already.
    (void)device_motor_write(stop_frame, sizeof stop_frame, DEVICE_MOTOR_HALTED | DEVICE_MOTOR_HELD,
                             DEVICE_MOTOR_HELD);
}

void motor_resume() {
    device_motor_gate_lift(DEVICE_MOTOR_HELD);
}

int motor_halted() {
    return (device_motor_gate() & DEVICE_MOTOR_HALTED) != 0 ? 1 : 0;
}
