#include "bench/test_motor.h"

#include <unistd.h>

#include "bench/test_input.h"
#include "bench/test_scratch.h"
#include "drive/calibration.h"
#include "drive/motor.h"

void test_motor() {
    int left = 0;
    int right = 0;
    if (!test_input_pwm_values(&left, &right)) {
        return;
    }
    test_scratch_open();
    for (;;) {
        motor_drive(left, right);
        usleep(DRIVE_PERIOD_US);
    }
}
