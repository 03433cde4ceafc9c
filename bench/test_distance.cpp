#include "bench/test_distance.h"

#include <unistd.h>

#include <cstdio>

#include "drive/calibration.h"
#include "drive/distance.h"
#include "drive/encoder.h"

void test_distance() {
    encoder_create();
    for (;;) {
        distance_pair d;
        distance_get(&d);
        printf("distance_l=%8.3f    distance_l=%8.3f\n", static_cast<double>(d.left),
               static_cast<double>(d.right));
        usleep(DRIVE_PERIOD_US);
    }
}
