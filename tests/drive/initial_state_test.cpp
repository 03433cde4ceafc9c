// State a program finds before it has opened or started anything. This test
// binary never opens a device or starts a worker, so the values are pristine.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "drive/device.h"
#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/vel_ctrl.h"

namespace {

TEST(InitialState, HandlesAreZeroBeforeOpen) {
    EXPECT_EQ(device_io_get(), 0);
    EXPECT_EQ(device_encoder_get(), 0);
    EXPECT_EQ(device_motor_get(), 0);
    EXPECT_EQ(device_uss_get(), 0);
    // closing a never-opened handle must not close standard input (fd 0)
    EXPECT_EQ(device_io_close(), 0);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
}

TEST(InitialState, NothingMeasuredYet) {
    wheel_counts c{1, 2, 3, 4};
    encoder_get(&c);
    EXPECT_EQ(c.left, 0);
    EXPECT_EQ(c.right, 0);
    EXPECT_EQ(c.left_sum, 0);
    EXPECT_EQ(c.right_sum, 0);
    distance_pair d{1, 1};
    distance_get(&d);
    EXPECT_EQ(d.left, 0.0f);
    EXPECT_EQ(d.right, 0.0f);
    float l = 1, r = 1;
    vel_ctrl_get_speed(&l, &r);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(r, 0.0f);
}

}  // namespace
