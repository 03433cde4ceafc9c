// Raw output test with the encoder readout: the two-byte frame every period,
// then the counts, the sums and the speeds they mean, for ever.
#pragma once

#include <cstdint>

void test_pwm_vel();

// Speed shown for a per-period count: count x 1.9356717 (cm/s per count per
// period, as a float), truncated toward zero; no balance factor on the left.
int test_pwm_vel_speed(int32_t count);
