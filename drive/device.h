// Device registry: the one place that opens the robot's four device nodes and
// hands the descriptors out. Handles are 0 until opened, the descriptor after a
// successful open and -1 after a failed one; closing leaves the value alone.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// Call first in main. Opens /dev/null on any of the standard descriptors 0, 1
// and 2 that is closed, so a device node opened later never takes one of their
// numbers: otherwise a program started with standard output closed would print
// its console lines into the motor driver, and one without standard input
// would read its answers from the encoder.
void device_std_streams_reserve();

// Opens "<dir>/encoder_dev" read-write (blocking). Prints "fd_encoder=%d\n" and,
// on failure, "encoder_dev can't open !!!\n". 0 on success, -1 on failure.
int device_encoder_open();
// Opens "<dir>/motor_dev" read-write (blocking); lines "fd_motor=%d\n" / "motor_dev can't open
// !!!\n".
int device_motor_open();
// Opens "<dir>/ttyS0" read-write, no controlling tty, non-blocking;
// lines "fd_uss=%d\n" / "uss_dev can't open !!!\n".
int device_uss_open();
// Opens "<dir>/io_dev" read-only; lines "fd_io=%d\n" / "io device can't open !!!\n".
int device_io_open();

// The stored handles, unchecked.
int device_encoder_get();
int device_motor_get();
int device_uss_get();
int device_io_get();

// Close the stored descriptor, ignore the result, keep the handle value; always 0.
int device_encoder_close();
int device_motor_close();
int device_uss_close();
int device_io_close();

// The motor handle's one write path. Every frame, the handle's open and
// close, and every change of the gate below go under one lock, and the gate
// is one word: a frame reaches the descriptor only while none of its bits is
// set and the handle has been opened.
constexpr unsigned DEVICE_MOTOR_CLOSED = 1;  // device_motor_close ran; an open clears it
constexpr unsigned DEVICE_MOTOR_HALTED = 2;  // shut for good (motor_halt)
constexpr unsigned DEVICE_MOTOR_HELD = 4;    // held back while the process is suspended
constexpr unsigned DEVICE_MOTOR_ANY = 7;

// One write of a whole frame to the motor handle when it is open and the
// gate has none of the bits in `unless` (a closed handle is never written);
// then the bits in `shut` are set, under the same lock, so a frame that shuts
// the gate is the last one through it. The write's result, or -1 when
// nothing was written.
ssize_t device_motor_write(const void* bytes, std::size_t size, unsigned unless = DEVICE_MOTOR_ANY,
                           unsigned shut = 0);
// The same without the lock, for a crash signal's handler, which must not
// wait for a lock the crashed thread may hold: sets `shut` first, then writes
// unless the handle is closed. Async-signal-safe.
ssize_t device_motor_write_from_signal(const void* bytes, std::size_t size, unsigned shut);
// Clears gate bits, under the lock.
void device_motor_gate_lift(unsigned bits);
// The gate's bits as they stand.
unsigned device_motor_gate();

// Full path of a device node: "$TAVI_DEVICE_DIR/<name>" when the variable is
// set and not empty, else "/dev/<name>". Lets tests and the simulator run the
// unchanged programs against emulated nodes. The first path taken from the
// variable is announced on standard error.
std::string device_node_path(const char* name);
