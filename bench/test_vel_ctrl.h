// Speed-control run of fixed length: both wheels at the entered references for
// 201 samples, then the motors stopped and the speed statistics printed.
#pragma once

void test_vel_ctrl();

// Samples in a run; the statistics take samples 51 to 201.
constexpr int TEST_VEL_CTRL_SAMPLES = 201;
constexpr int TEST_VEL_CTRL_FIRST_COUNTED = 51;
// The statistics divide by 150, one less than the 151 counted samples.
constexpr float TEST_VEL_CTRL_DIVISOR = 150.0f;

// Speed sums and squared-deviation sums, cm/s and (cm/s)^2, 32-bit floats.
struct test_vel_ctrl_stats {
    float sum_l;
    float sum_r;
    float sq_l;
    float sq_r;
};

// Adds sample number n (1-based, counted from the run's first sample) with its
// speeds to stats when n >= 51: the sum first, then the squared deviation from
// that sum divided by n, each step in double precision and stored as float.
void test_vel_ctrl_add(test_vel_ctrl_stats* stats, int n, float v_l, float v_r);

// What the statistics line shows: sums and squared sums divided by 150.
struct test_vel_ctrl_summary {
    float mean_l;
    float mean_r;
    float var_l;
    float var_r;
};
test_vel_ctrl_summary test_vel_ctrl_summarize(const test_vel_ctrl_stats& stats);
