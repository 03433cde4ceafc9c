#include "bench/test_vel_ctrl.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "bench/test_input.h"
#include "bench/test_scratch.h"
#include "drive/calibration.h"
#include "drive/command.h"
#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/vel_ctrl.h"

namespace {

struct sample {
    float speed_l;
    float speed_r;
    distance_pair dist;
};

sample take_sample() {
    sample s;
    vel_ctrl_get_speed(&s.speed_l, &s.speed_r);
    distance_get(&s.dist);
    return s;
}

float squared_deviation_step(float sq, float v, float sum, int n) {
    const double dev = static_cast<double>(v) - static_cast<double>(sum) / n;
    return static_cast<float>(static_cast<double>(sq) + dev * dev);
}

}  // namespace

void test_vel_ctrl_add(test_vel_ctrl_stats* stats, int n, float v_l, float v_r) {
    if (n < TEST_VEL_CTRL_FIRST_COUNTED) {
        return;
    }
    stats->sum_l = static_cast<float>(static_cast<double>(stats->sum_l) + v_l);
    stats->sum_r = static_cast<float>(static_cast<double>(stats->sum_r) + v_r);
    stats->sq_l = squared_deviation_step(stats->sq_l, v_l, stats->sum_l, n);
    stats->sq_r = squared_deviation_step(stats->sq_r, v_r, stats->sum_r, n);
}

test_vel_ctrl_summary test_vel_ctrl_summarize(const test_vel_ctrl_stats& stats) {
    return {stats.sum_l / TEST_VEL_CTRL_DIVISOR, stats.sum_r / TEST_VEL_CTRL_DIVISOR,
            stats.sq_l / TEST_VEL_CTRL_DIVISOR, stats.sq_r / TEST_VEL_CTRL_DIVISOR};
}

void test_vel_ctrl() {
    test_scratch_open();
    float left = 0.0f;
    float right = 0.0f;
    printf("left speed value [cm/s]= ");
    if (!test_input_float(&left)) {
        test_scratch_close();
        return;
    }
    printf("right speed value [cm/s]= ");
    if (!test_input_float(&right)) {
        test_scratch_close();
        return;
    }
    encoder_create();
    // The references are in place before the controller's first period.
    vel_ctrl_set(left, right);
    vel_ctrl_create();

    sample s = take_sample();
    test_vel_ctrl_stats stats{0.0f, 0.0f, 0.0f, 0.0f};
    for (int j = 1;; ++j) {
        printf("left_speed=%5.1f     right speed=%5.1f     dis_left=%5.1f    dis_right=%5.1f\n",
               static_cast<double>(s.speed_l), static_cast<double>(s.speed_r),
               static_cast<double>(s.dist.left), static_cast<double>(s.dist.right));
        usleep(DRIVE_PERIOD_US);
        if (!test_input_drive_ok()) {
            test_scratch_close();
            return;
        }
        if (j == TEST_VEL_CTRL_SAMPLES) {
            break;
        }
        s = take_sample();
        test_vel_ctrl_add(&stats, j + 1, s.speed_l, s.speed_r);
    }

    // drivehalt prints its own line; ours must reach the terminal before it.
    fflush(stdout);
    int status = command_run("./drivehalt");
    (void)status;

    const test_vel_ctrl_summary sum = test_vel_ctrl_summarize(stats);
    printf("mean_left=%5.1f    mean_right=%5.1f  var_left=%5.1f var_right=%5.1f \n",
           static_cast<double>(sum.mean_l), static_cast<double>(sum.mean_r),
           static_cast<double>(sum.var_l), static_cast<double>(sum.var_r));
    test_scratch_close();
}
