#include "bench/test_dir_num.h"

#include <climits>
#include <cstdio>

#include "bench/test_direction.h"
#include "vision/number_detect.h"

namespace {

// The camera sits 4 cm ahead of the ultrasonic sensors.
constexpr int CAMERA_AHEAD_CM = 4;

}  // namespace

void test_dir_num() {
    int distance = 0;
    // A failed alignment still gets its reading: the operator wants both
    // results. A distance the camera's offset would overflow is refused at
    // the prompt, like any other unreadable answer.
    if (!test_direction_align(&distance, INT_MIN + CAMERA_AHEAD_CM)) {
        return;
    }
    number_set_nums(1);
    number_detect(distance - CAMERA_AHEAD_CM);
    int digit[1] = {-1};
    number_get(digit);
    printf("数字=%d\n", digit[0]);
    printf("Program stopped\n");
}
