// State a program finds before it has opened or started anything. This test
// binary never opens a device or starts a worker, so the values are pristine.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "drive/device.h"

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

}  // namespace
