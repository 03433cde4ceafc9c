#include "drive/distance.h"

#include "drive/calibration.h"
#include "drive/encoder.h"

distance_pair distance_from_sums(int32_t left_sum, int32_t right_sum) {
    // Formed in double and rounded once, so a long run does not pick up the
    // error of an intermediate float product.
    distance_pair d;
    d.left = static_cast<float>(static_cast<double>(left_sum) *
                                static_cast<double>(DRIVE_CM_PER_COUNT) * DRIVE_LEFT_CORRECTION);
    d.right = static_cast<float>(static_cast<double>(right_sum) *
                                 static_cast<double>(DRIVE_CM_PER_COUNT));
    return d;
}

void distance_get(distance_pair* out) {
    wheel_counts c;
    encoder_get(&c);
    *out = distance_from_sums(c.left_sum, c.right_sum);
}

void distance_reset() {
    encoder_reset();
}
