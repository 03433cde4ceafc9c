#include "drive/distance.h"

#include "drive/encoder.h"

namespace {

// cm per count, kept as the 32-bit value the odometry has always used
constexpr float CM_PER_COUNT = 0.038713433f;
// the left wheel is slightly smaller; the correction is a double on purpose
constexpr double LEFT_CORRECTION = 0.9842;

}  // namespace

distance_pair distance_from_sums(int32_t left_sum, int32_t right_sum) {
    // Formed in double and rounded once, so a long run does not pick up the
    // error of an intermediate float product.
    distance_pair d;
    d.left = static_cast<float>(static_cast<double>(left_sum) * static_cast<double>(CM_PER_COUNT) *
                                LEFT_CORRECTION);
    d.right =
        static_cast<float>(static_cast<double>(right_sum) * static_cast<double>(CM_PER_COUNT));
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
