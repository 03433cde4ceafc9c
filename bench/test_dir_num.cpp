#include "bench/test_dir_num.h"

#include <cstdio>

#include "bench/test_direction.h"
#include "vision/number_detect.h"

void test_dir_num() {
    int distance = 0;
    // A failed alignment still gets its reading: the operator wants both results.
    if (!test_direction_align(&distance)) {
        return;
    }
    number_set_nums(1);
    // The camera sits 4 cm ahead of the ultrasonic sensors.
    number_detect(distance - 4);
    int digit[1] = {-1};
    number_get(digit);
    printf("数字=%d\n", digit[0]);
    printf("Program stopped\n");
}
