#include "bench/test_pwm_vel.h"

#include <unistd.h>

#include <cstdio>

#include "bench/test_pwm.h"
#include "bench/test_scratch.h"
#include "drive/calibration.h"
#include "drive/encoder.h"
#include "drive/motor.h"

int test_pwm_vel_speed(int32_t count) {
    const float speed = static_cast<float>(count) * DRIVE_CMS_PER_COUNT;
    // A reply holds at most 8 bits per wheel, but a count from anywhere else
    // must not turn into an out-of-range conversion.
    if (speed >= 2147483520.0f) {
        return 2147483520;
    }
    if (speed <= -2147483648.0f) {
        return -2147483647 - 1;
    }
    return static_cast<int>(speed);
}

void test_pwm_vel() {
    test_scratch_open();
    uint8_t left_duty = 0;
    uint8_t right_duty = 0;
    if (!test_pwm_read_duties(&left_duty, &right_duty)) {
        return;
    }
    encoder_create();
    printf("enc_left \t enc_right \t  enc_left_sum \t enc_right_sum\n");
    for (;;) {
        motor_send_frame2(left_duty, right_duty);
        wheel_counts c;
        encoder_get(&c);
        printf("left=%5d    right=%5d    left_sum=%5d    right_sum=%5d\n", c.left, c.right,
               c.left_sum, c.right_sum);
        printf("vel_l=%5d[cm/s], vel_r=%5d[cm/s]\n", test_pwm_vel_speed(c.left),
               test_pwm_vel_speed(c.right));
        usleep(DRIVE_PERIOD_US);
    }
}
