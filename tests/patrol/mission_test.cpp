// The mission program when the robot is not all there: it must refuse to
// start the patrol, say so, leave a stop frame and fail.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/support/emulated_devices.h"

namespace {

TEST(MissionProgram, RefusesToPatrolWithoutItsDevices) {
    for (const char* program : {"tavi_demo", "tavion_patrol"}) {
        SCOPED_TRACE(program);
        emu_device_dir dir;
        // Only the motor node exists: no encoder, no ultrasonic port.
        const int motor = emu_fifo_node(dir, "motor_dev");
        ASSERT_GE(motor, 0);
        emu_child_result r = emu_run_program({emu_bin_path(program)}, 10000);
        ASSERT_FALSE(r.timed_out) << r.output;
        ASSERT_TRUE(WIFEXITED(r.status)) << r.output;
        EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.output;
        EXPECT_NE(r.output.find("encoder_dev can't open !!!\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("uss_dev can't open !!!\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("patrol not started: a device did not open\n"), std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("sequence_num="), std::string::npos) << r.output;
        // Nothing but one stop frame reached the motors.
        EXPECT_EQ(emu_drain(motor, 50, 1000), (std::vector<uint8_t>{0, 0, 0, 0}));
    }
}

}  // namespace
