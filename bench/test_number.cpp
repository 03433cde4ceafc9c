#include "bench/test_number.h"

#include <unistd.h>

#include <cstdio>

#include "bench/test_input.h"
#include "vision/number_detect.h"

int test_number() {
    printf("数字認識テストプログラムスタート！\n");
    printf("数字認識ボードまでの距離[cm] = ");
    int distance = 0;
    if (!test_input_int(&distance)) {
        return -1;
    }
    number_set_nums(2);
    for (int n = 1;; ++n) {
        number_detect(distance);
        int digits[2] = {-1, -1};
        number_get(digits);
        printf("%d 回目：左数字=%d、右数字=%d\n", n, digits[0], digits[1]);
        if (digits[0] != -1 && digits[1] != -1) {
            printf("画像認識完了しました\n");
            printf("メインwhileの終了\n");
            return 0;
        }
        if (n == TEST_NUMBER_ATTEMPTS) {
            printf("数字認識に%d回失敗しました。\n", TEST_NUMBER_ATTEMPTS);
            return -1;
        }
        sleep(1);
    }
}
