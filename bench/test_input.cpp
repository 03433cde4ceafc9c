#include "bench/test_input.h"

#include <cstdio>

#include "drive/motor.h"

namespace {

int status = 0;

void drop_rest_of_line() {
    int c = getchar();
    while (c != '\n' && c != EOF) {
        c = getchar();
    }
}

// The prompt before the failed read ended without a newline; the reason goes
// on a line of its own.
bool give_up(const char* why, int exit_status) {
    motor_halt();
    printf("\n%s: motors stopped, program ends\n", why);
    fflush(stdout);
    status = exit_status;
    return false;
}

bool after_scan(int got) {
    if (got == 1) {
        drop_rest_of_line();
        return true;
    }
    if (got == EOF) {
        return give_up("end of input", 0);
    }
    return give_up("not a number", 1);
}

}  // namespace

bool test_input_int(int* value) {
    return after_scan(scanf("%d", value));
}

bool test_input_float(float* value) {
    return after_scan(scanf("%f", value));
}

bool test_input_char(char* value) {
    if (scanf("%c", value) != 1) {
        return give_up("end of input", 0);
    }
    if (*value != '\n') {
        drop_rest_of_line();
    }
    return true;
}

int test_input_status() {
    return status;
}
