// Motor command encoding and the motor device's two frame forms.
#pragma once

#include <cstdint>

// Signed command per wheel (expected -127..127, any int accepted): the wheel's
// dead-band offset (left 28, right 18) is added away from 0, the result is
// clamped to -127..127 and encoded sign-and-magnitude; one 4-byte write
// (left, right, right, right) to the motor handle.
void motor_drive(int left, int right);

// Writes a two-byte frame (left byte, right byte) as given, in one write: the
// frame of the bench PWM tests.
void motor_send_frame2(uint8_t left, uint8_t right);

// Safety stop for program end and interrupts: writes a stop frame and locks
// this process out of sending anything else, so the stop frame stays the last
// frame on the device whatever other threads are still doing.
void motor_halt();

// The same stop for a crash signal's handler: one write of the stop frame,
// no lock, async-signal-safe; every later frame of this process is dropped.
void motor_halt_from_signal();

// Job-control stop: writes a stop frame and holds every other frame back
// until motor_resume, so the wheels stay stopped while the process is
// suspended. The frames of the running loops flow again after the resume.
void motor_suspend();
void motor_resume();

// Motor command byte of one wheel for motor_drive: offset (28 left, 18 right)
// added away from 0, clamp to -127..127, sign-and-magnitude. Any int is safe.
uint8_t motor_command_byte(int command, int dead_band);
constexpr int MOTOR_LEFT_DEAD_BAND = 28;
constexpr int MOTOR_RIGHT_DEAD_BAND = 18;

// The four-byte frame motor_drive writes: left, right, right, right.
void motor_frame4(int left, int right, uint8_t frame[4]);

// The stop frame motor_halt writes: the four zero bytes of motor_drive(0, 0),
// so a stream of four-byte frames stays aligned for whoever reads it.
constexpr int MOTOR_HALT_FRAME_SIZE = 4;

// 1 once motor_halt has run in this process, else 0.
int motor_halted();
