#include "bench/test_pwm.h"

#include <unistd.h>

#include <cstdio>

#include "bench/test_input.h"
#include "bench/test_scratch.h"
#include "drive/calibration.h"
#include "drive/motor.h"

uint8_t test_pwm_duty(int v) {
    // Unsigned arithmetic keeps 128 - v defined for every int; only the low
    // byte goes on the wire anyway.
    unsigned int u = static_cast<unsigned int>(v);
    unsigned int byte = v < 0 ? 128u - u : u;
    return static_cast<uint8_t>(byte & 0xffu);
}

bool test_pwm_read_duties(uint8_t* left_duty, uint8_t* right_duty) {
    int left = 0;
    int right = 0;
    if (!test_input_pwm_values(&left, &right)) {
        return false;
    }
    *left_duty = test_pwm_duty(left);
    *right_duty = test_pwm_duty(right);
    return true;
}

void test_pwm() {
    uint8_t left_duty = 0;
    uint8_t right_duty = 0;
    if (!test_pwm_read_duties(&left_duty, &right_duty)) {
        return;
    }
    test_scratch_open();
    for (int count = 1;; ++count) {
        printf("%5d left_duty=%5d  right_duty=%5d\n", count, left_duty, right_duty);
        motor_send_frame2(left_duty, right_duty);
        usleep(DRIVE_PERIOD_US);
    }
}
