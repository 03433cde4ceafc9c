// Encoder sampler: a background thread that asks the encoder device for the
// wheel increments every period and publishes per-period counts and running sums.
#pragma once

#include <time.h>

#include <cstdint>

// Wheel pair counts, in this order. Counts grow when a wheel turns forward.
struct wheel_counts {
    int32_t left;       // left count of the last sample period
    int32_t right;      // right count of the last period (device sign already inverted)
    int32_t left_sum;   // left counts since the last reset
    int32_t right_sum;  // right counts since the last reset
};
// Same layout on the 32-bit robot and a 64-bit development machine: the
// record is copied whole between threads and printed field by field with %d.
static_assert(sizeof(wheel_counts) == 16, "wheel_counts is four 32-bit counts");

// Clears all four values, then starts the sampler thread (encoder_read) by the
// real-time recipe; prints "policy = %s, priority =%d\n" and "thread_id=%d\n".
void encoder_create();
// Copies the four published values, field by field, into *out.
void encoder_get(wheel_counts* out);
// Restarts the sums and clears the per-period counts; the sampler keeps running.
void encoder_reset();

// The increments of one reply, as published: left = byte 0, right = byte 1
// negated, both sign-extended from 8 bits.
struct encoder_increments {
    int32_t left;
    int32_t right;
};
encoder_increments encoder_decode(uint8_t byte0, uint8_t byte1);

// Ends the sampler thread, also one blocked in the driver's read or write,
// and waits for it (at most about half a second: a driver whose calls cannot
// be interrupted keeps its thread until the process ends). The values stay as
// they were; encoder_create may start a sampler again.
void encoder_stop();

// ---- The drive's clock. Every period starts with one completed exchange:
// the run controller and the speed loop wait for it rather than keep time of
// their own, so they act on each sample once, in the same order on one core
// as on two, and judge the sampler by the exchanges it completes (nothing the
// driver has to promise beyond a blocking read and write).

// True while a sampler runs; without one the loops keep their own 19 ms.
bool encoder_running();
// Exchanges completed since the program started (wraps; compare by difference).
uint32_t encoder_samples();
// Waits until an exchange after `seen` has completed, or until `deadline`
// (CLOCK_MONOTONIC, as std::chrono::steady_clock). Returns the newest count,
// `seen` itself on a time-out; *out gets the values published with it (a
// whole sample, both wheels of the same period).
uint32_t encoder_wait(uint32_t seen, const timespec& deadline, wheel_counts* out);
