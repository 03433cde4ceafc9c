#include "bench/test_uss.h"

#include <unistd.h>

#include <cstdio>

#include "sensors/uss.h"

void test_uss() {
    printf("Test_USS thread created!  \n");
    for (;;) {
        for (int channel = 1; channel <= 2; ++channel) {
            printf("uss[%d]=%3d    ", channel, uss_get(channel));
            usleep(50000);
        }
        printf("\n");
        sleep(1);
    }
}
