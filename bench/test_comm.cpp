#include "bench/test_comm.h"

#include <unistd.h>

#include <cstdio>

#include "bench/test_input.h"
#include "comm/comm.h"

void test_comm() {
    const char send_name[100] = "number1602.data";
    const char fetch_name[100] = "info.data";
    for (;;) {
        printf("input number 0-9:  ");
        int number = 0;
        if (!test_input_int(&number)) {
            return;
        }
        // The range the prompt names is only a hint; any number is sent.
        comm_put_number(number, send_name);
        sleep(1);
        comm_get_file(fetch_name);
        sleep(1);
    }
}
