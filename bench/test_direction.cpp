#include "bench/test_direction.h"

#include <climits>
#include <cstdio>

#include "bench/test_input.h"
#include "drive/encoder.h"
#include "drive/vel_ctrl.h"
#include "sensors/direction.h"

bool test_direction_align(int* distance, int lowest) {
    encoder_create();
    vel_ctrl_create();
    printf("正体補正する距離[cm] = ");
    if (!test_input_int_at_least(distance, lowest)) {
        return false;
    }
    if (direction_correct(*distance) == 1) {
        printf("正体補正 成功！");
    } else {
        printf("正体補正 失敗！");
    }
    return test_input_drive_ok();
}

void test_direction() {
    int distance = 0;
    if (test_direction_align(&distance, INT_MIN)) {
        printf("Program stopped\n");
    }
}
