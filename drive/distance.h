// Odometry: the encoder running sums as distances in cm.
#pragma once

// Distance pair: cm travelled since the last reset, negative backwards.
struct distance_pair {
    float left;
    float right;
};
static_assert(sizeof(distance_pair) == 8, "distance_pair is two 32-bit floats");

// One encoder_get, then left = left_sum x DRIVE_CM_PER_COUNT x DRIVE_LEFT_CORRECTION,
// right = right_sum x DRIVE_CM_PER_COUNT (drive/calibration.h).
void distance_get(distance_pair* out);
// Same as encoder_reset: sums and per-period counts to 0.
void distance_reset();

#include <cstdint>

// The conversion distance_get applies to the two running sums.
distance_pair distance_from_sums(int32_t left_sum, int32_t right_sum);
