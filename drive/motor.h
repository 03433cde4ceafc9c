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
