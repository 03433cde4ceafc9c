#include "bench/test_encoder.h"

#include <unistd.h>

#include <cstdio>

#include "bench/test_scratch.h"
#include "drive/calibration.h"
#include "drive/encoder.h"

void test_encoder() {
    test_scratch_open();
    printf("enc_left \t enc_right \t  enc_left_sum \t enc_right_sum\n");
    encoder_create();
    for (;;) {
        wheel_counts c;
        encoder_get(&c);
        printf("left=%5d    right=%5d   left_sum=%5d   right_sum=%5d\n", c.left, c.right,
               c.left_sum, c.right_sum);
        usleep(DRIVE_PERIOD_US);
    }
}
