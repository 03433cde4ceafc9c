#include "bench/test_io.h"

#include <unistd.h>

#include <cstdio>

#include "drive/io.h"

char test_io_shown(const char* buffer, int got, int i) {
    return (i >= 0 && i < got) ? buffer[i] : '?';
}

void test_io() {
    char buffer[IO_INPUTS] = {};
    for (;;) {
        const int got = io_get(buffer);
        for (int i = 0; i < static_cast<int>(IO_INPUTS); ++i) {
            printf("I/O[%d] = %c\n", i + 1, test_io_shown(buffer, got, i));
        }
        printf("\n");
        sleep(1);
    }
}
