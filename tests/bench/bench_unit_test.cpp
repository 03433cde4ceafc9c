// The bench program's own arithmetic: speed statistics, raw frame bytes, the
// speed readout, the input display and the prompt reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bench/test_input.h"
#include "bench/test_io.h"
#include "bench/test_pwm.h"
#include "bench/test_pwm_vel.h"
#include "bench/test_vel_ctrl.h"
#include "tests/support/emulated_devices.h"

namespace {

std::string shown(float value) {
    char text[32];
    snprintf(text, sizeof text, "%5.1f", static_cast<double>(value));
    return text;
}

// A whole run at one constant speed, fed sample by sample as the routine does
// (samples 2 to 201; the first is never added).
test_vel_ctrl_summary constant_run(float speed) {
    test_vel_ctrl_stats stats{0.0f, 0.0f, 0.0f, 0.0f};
    for (int n = 2; n <= TEST_VEL_CTRL_SAMPLES; ++n) {
        test_vel_ctrl_add(&stats, n, speed, speed);
    }
    return test_vel_ctrl_summarize(stats);
}

TEST(VelCtrlStatistics, ConstantSpeedsGiveTheKnownFigures) {
    struct {
        float speed;
        const char* mean;
        const char* var;
    } cases[] = {{10.0f, " 10.1", " 24.7"}, {20.0f, " 20.1", " 98.9"}, {0.0f, "  0.0", "  0.0"}};
    for (const auto& c : cases) {
        const test_vel_ctrl_summary s = constant_run(c.speed);
        EXPECT_EQ(shown(s.mean_l), c.mean) << c.speed;
        EXPECT_EQ(shown(s.mean_r), c.mean) << c.speed;
        EXPECT_EQ(shown(s.var_l), c.var) << c.speed;
        EXPECT_EQ(shown(s.var_r), c.var) << c.speed;
    }
}

TEST(VelCtrlStatistics, SamplesBeforeFiftyOneAreIgnoredAndWheelsApart) {
    test_vel_ctrl_stats stats{0.0f, 0.0f, 0.0f, 0.0f};
    for (int n = 2; n < TEST_VEL_CTRL_FIRST_COUNTED; ++n) {
        test_vel_ctrl_add(&stats, n, 1000.0f, -1000.0f);
    }
    EXPECT_EQ(stats.sum_l, 0.0f);
    EXPECT_EQ(stats.sq_r, 0.0f);
    // Sample 51 alone: deviation 30 - 30/51 on the left, nothing on the right.
    test_vel_ctrl_add(&stats, 51, 30.0f, 0.0f);
    EXPECT_FLOAT_EQ(stats.sum_l, 30.0f);
    EXPECT_FLOAT_EQ(stats.sq_l, static_cast<float>((30.0 - 30.0 / 51) * (30.0 - 30.0 / 51)));
    EXPECT_EQ(stats.sum_r, 0.0f);
    EXPECT_EQ(stats.sq_r, 0.0f);
    const test_vel_ctrl_summary s = test_vel_ctrl_summarize(stats);
    EXPECT_FLOAT_EQ(s.mean_l, 30.0f / 150.0f);
}

TEST(PwmFrame, OperatorValueToCommandByte) {
    struct {
        int value;
        int byte;
    } cases[] = {{-30, 158}, {0, 0},     {300, 44}, {-128, 0},   {-20, 148}, {30, 30},
                 {200, 200}, {127, 127}, {-1, 129}, {-127, 255}, {256, 0},   {-129, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(test_pwm_duty(c.value), c.byte) << c.value;
    }
    // Extreme values stay defined (no signed overflow), low byte only.
    EXPECT_EQ(test_pwm_duty(-2147483647 - 1), 128);
    EXPECT_EQ(test_pwm_duty(2147483647), 255);
}

TEST(PwmVelSpeed, TruncatesTowardZeroWithoutBalanceFactor) {
    EXPECT_EQ(test_pwm_vel_speed(10), 19);
    EXPECT_EQ(test_pwm_vel_speed(-3), -5);
    EXPECT_EQ(test_pwm_vel_speed(0), 0);
    EXPECT_EQ(test_pwm_vel_speed(1), 1);
    EXPECT_EQ(test_pwm_vel_speed(-1), -1);
    EXPECT_EQ(test_pwm_vel_speed(127), 245);
    EXPECT_EQ(test_pwm_vel_speed(-128), -247);
    EXPECT_GT(test_pwm_vel_speed(2147483647), 0);
    EXPECT_LT(test_pwm_vel_speed(-2147483647 - 1), 0);
}

TEST(IoDisplay, OnlyDeliveredBytesAreShown) {
    const char buffer[12] = {'1', '0', '1', '1', '0', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(test_io_shown(buffer, 5, i), buffer[i]) << i;
    }
    for (int i = 5; i < 12; ++i) {
        EXPECT_EQ(test_io_shown(buffer, 5, i), '?') << i;
    }
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(test_io_shown(buffer, -1, i), '?') << i;
        EXPECT_EQ(test_io_shown(buffer, 0, i), '?') << i;
        EXPECT_EQ(test_io_shown(buffer, 12, i), buffer[i]) << i;
    }
}

// The reads run in a child, each with its own standard input.
std::string reads_of(const std::string& input, int* status) {
    emu_child_result r = emu_run_func(
        [] {
            for (;;) {
                int number = -1;
                if (!test_input_int(&number)) {
                    return test_input_status();
                }
                printf("[%d]", number);
                char c = 0;
                if (!test_input_char(&c)) {
                    return test_input_status();
                }
                printf("[%c]", c == '\n' ? '$' : c);
            }
        },
        5000, input);
    EXPECT_FALSE(r.timed_out);
    EXPECT_TRUE(WIFEXITED(r.status));
    *status = WEXITSTATUS(r.status);
    return r.output;
}

TEST(PromptReads, EndOfInputAndBadNumbersEndTheDialogue) {
    int status = -1;
    // A number takes what "%d" takes and no more: the character after it is
    // the next read's, and several answers may share a line.
    EXPECT_EQ(reads_of("12 7 -3\n", &status),
              "[12][ ][7][ ][-3][$]\nend of input: motors stopped, program ends\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reads_of("12 7x-3\n", &status),
              "[12][ ]\nnot a number: motors stopped, program ends\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(reads_of("12\n7 \n\n", &status),
              "[12][$][7][ ]\nend of input: motors stopped, program ends\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reads_of("", &status), "\nend of input: motors stopped, program ends\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reads_of("5q\n", &status), "\nnot a number: motors stopped, program ends\n");
    EXPECT_EQ(status, 1);
    // A number with no newline after it is still a complete answer.
    EXPECT_EQ(reads_of("-4", &status), "[-4]\nend of input: motors stopped, program ends\n");
    EXPECT_EQ(status, 0);
}

// Nothing that is not a finite number fitting its type may reach a motor
// frame: every such answer ends the dialogue, at an int and at a float prompt.
TEST(PromptReads, OutOfRangeAndNonFiniteAnswersAreNotNumbers) {
    const char* answers[] = {
        "nan",        "inf",         "-inf",  "1e39", "99999999999",
        "2147483648", "-2147483649", "12abc", "1.5",  "99999999999999999999999"};
    for (const char* answer : answers) {
        for (bool as_float : {false, true}) {
            if (as_float && (std::string(answer) == "1.5")) {
                continue;  // a fine float
            }
            emu_child_result r = emu_run_func(
                [as_float] {
                    int i = 0;
                    float f = 0.0f;
                    bool ok = as_float ? test_input_float(&f) : test_input_int(&i);
                    printf("%d", ok ? 1 : 0);
                    return test_input_status();
                },
                5000, std::string(answer) + "\n");
            ASSERT_TRUE(WIFEXITED(r.status)) << answer;
            EXPECT_EQ(WEXITSTATUS(r.status), 1) << answer << (as_float ? " float" : " int");
            EXPECT_EQ(r.output, "\nnot a number: motors stopped, program ends\n0") << answer;
        }
    }
}

TEST(PromptReads, FloatAnswers) {
    emu_child_result r = emu_run_func(
        [] {
            float a = 0.0f;
            float b = 0.0f;
            if (test_input_float(&a) && test_input_float(&b)) {
                printf("%.2f %.2f\n", static_cast<double>(a), static_cast<double>(b));
            }
            float c = 1.0f;
            bool third = test_input_float(&c);
            printf("%d %.1f\n", third ? 1 : 0, static_cast<double>(c));
            return test_input_status();
        },
        5000, "12.5\n-3\nx\n");
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 1);
    EXPECT_EQ(r.output, "12.50 -3.00\n\nnot a number: motors stopped, program ends\n0 1.0\n");
}

}  // namespace
