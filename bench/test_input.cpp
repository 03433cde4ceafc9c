#include "bench/test_input.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>

#include "drive/motor.h"
#include "drive/vel_ctrl.h"

namespace {

int status = 0;

// The prompt before the failed read ended without a newline; the reason goes
// on a line of its own.
bool give_up(const char* why, int exit_status) {
    motor_halt();
    printf("\n%s: motors stopped, program ends\n", why);
    fflush(stdout);
    status = exit_status;
    return false;
}

bool not_a_number() {
    return give_up("not a number", 1);
}

// An answer ends where its word ends: "12abc" or "1e39" read as "%d" would
// otherwise pass for 12 or 1 and leave the rest to the next prompt.
bool at_word_end() {
    int c = getchar();
    if (c == EOF) {
        return true;
    }
    ungetc(c, stdin);
    return isspace(c) != 0;
}

// White space, then what "%d" takes: an optional sign and digits. 1 with the
// value, 0 when no digit came (or it overflowed), EOF at the end of input.
int scan_whole(long long* value) {
    int c = getchar();
    while (c != EOF && isspace(c)) {
        c = getchar();
    }
    if (c == EOF) {
        return EOF;
    }
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = getchar();
    }
    if (!isdigit(c)) {
        if (c != EOF) {
            ungetc(c, stdin);
        }
        return 0;
    }
    bool too_big = false;
    long long v = 0;
    // Every digit is consumed, as "%d" does, however many there are.
    for (; isdigit(c); c = getchar()) {
        if (v > (LLONG_MAX - 9) / 10) {
            too_big = true;
        } else {
            v = v * 10 + (c - '0');
        }
    }
    if (c != EOF) {
        ungetc(c, stdin);
    }
    *value = negative ? -v : v;
    return too_big ? 0 : 1;
}

}  // namespace

bool test_input_int(int* value) {
    return test_input_int_at_least(value, INT_MIN);
}

bool test_input_int_at_least(int* value, int lowest) {
    fflush(stdout);
    long long v = 0;
    int got = scan_whole(&v);
    if (got == EOF) {
        return give_up("end of input", 0);
    }
    if (got != 1 || v < lowest || v > INT_MAX || !at_word_end()) {
        return not_a_number();
    }
    *value = static_cast<int>(v);
    return true;
}

bool test_input_float(float* value) {
    fflush(stdout);
    // Read wide, so a value beyond float is seen as such instead of arriving
    // as an infinity.
    double v = 0.0;
    int got = scanf("%lf", &v);
    if (got == EOF) {
        return give_up("end of input", 0);
    }
    // Beyond the range of a whole answer is no speed either: one bound for the
    // operator at every prompt, and 1e11 cm/s never reaches the loop as full drive.
    if (got != 1 || !std::isfinite(v) || std::fabs(v) > INT_MAX || !at_word_end()) {
        return not_a_number();
    }
    *value = static_cast<float>(v);
    return true;
}

bool test_input_char(char* value) {
    fflush(stdout);
    int c = getchar();
    if (c == EOF) {
        return give_up("end of input", 0);
    }
    *value = static_cast<char>(c);
    return true;
}

void test_input_skip_char() {
    (void)getchar();
}

bool test_input_pwm_values(int* left, int* right) {
    printf("PWM value [left]= ");
    if (!test_input_int(left)) {
        return false;
    }
    printf("PWM value [right]= ");
    return test_input_int(right);
}

bool test_input_drive_ok() {
    return vel_ctrl_fault() == SUPERVISOR_OK || give_up("the drive stopped on a fault", 1);
}

int test_input_status() {
    return status;
}
