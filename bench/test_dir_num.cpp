#include "bench/test_dir_num.h"

#include <cstdio>

#include "bench/test_input.h"
#include "drive/encoder.h"
#include "drive/vel_ctrl.h"
#include "sensors/direction.h"
#include "vision/number_detect.h"

void test_dir_num() {
    encoder_create();
    vel_ctrl_create();
    printf("正体補正する距離[cm] = ");
    int distance = 0;
    if (!test_input_int(&distance)) {
        return;
    }
    // A failed alignment still gets its reading: the operator wants both results.
    if (direction_correct(distance) == 1) {
        printf("正体補正 成功！");
    } else {
        printf("正体補正 失敗！");
    }
    number_set_nums(1);
    // The camera sits 4 cm ahead of the ultrasonic sensors.
    number_detect(distance - 4);
    int digit[1] = {-1};
    number_get(digit);
    printf("数字=%d\n", digit[0]);
    printf("Program stopped\n");
}
