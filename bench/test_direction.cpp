#include "bench/test_direction.h"

#include <cstdio>

#include "bench/test_input.h"
#include "drive/encoder.h"
#include "drive/vel_ctrl.h"
#include "sensors/direction.h"

void test_direction() {
    encoder_create();
    vel_ctrl_create();
    printf("正体補正する距離[cm] = ");
    int distance = 0;
    if (!test_input_int(&distance)) {
        return;
    }
    if (direction_correct(distance) == 1) {
        printf("正体補正 成功！");
    } else {
        printf("正体補正 失敗！");
    }
    printf("Program stopped\n");
}
