// Encoder sampler: a background thread that asks the encoder device for the
// wheel increments every period and publishes per-period counts and running sums.
#pragma once

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
// True when the last published period came from a complete reply; false
// once a reply did not come within DRIVE_REPLY_DEADLINE_MS (the period then
// counts 0 and the sampler asks again). True before the first sample.
bool encoder_fresh();
// Restarts the sums and clears the per-period counts; the sampler keeps running.
void encoder_reset();

// The increments of one reply, as published: left = byte 0, right = byte 1
// negated, both sign-extended from 8 bits.
struct encoder_increments {
    int32_t left;
    int32_t right;
};
encoder_increments encoder_decode(uint8_t byte0, uint8_t byte1);

// Ends the sampler thread and waits for it (orderly shutdown, tests). The
// values stay as they were; encoder_create may start a sampler again.
void encoder_stop();
