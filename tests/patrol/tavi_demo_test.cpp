// The short demonstration patrol (four steps, fast) against the recording stand-ins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/run_ctrl.h"
#include "patrol/patrol.h"
#include "tests/patrol/patrol_fakes.h"
#include "tests/support/emulated_devices.h"

namespace {

using events = std::vector<std::string>;

class TaviDemoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        patrol_fakes_reset();
        patrol_rec.readings = {{6}};
    }
    void run() {
        output = emu_capture_stdout([] { tavion_patrol(); });
    }

    std::string output;
};

TEST_F(TaviDemoTest, PrintsFourStepsAndOneReading) {
    run();
    EXPECT_EQ(patrol_lines(output, ""), (events{
                                            "sequence_num=1     style=0      value=348   ",
                                            "sequence_num=2     style=2      value=71   ",
                                            "sequence_num=3     style=0      value=124   ",
                                            "sequence_num=4     style=0      value=0   ",
                                            // One digit read: the right-hand side shows
                                            // the mark of a digit not read.
                                            "左数字=6、右数字=-1",
                                        }));
}

TEST_F(TaviDemoTest, DrivesFastAndCreepsBackOnTheZeroRecord) {
    run();
    ASSERT_EQ(patrol_rec.moves.size(), 4u);
    const int modes[] = {RUN_STRAIGHT, RUN_ARC, RUN_STRAIGHT, RUN_STRAIGHT};
    const float speeds[] = {80, 80, 80, -80};
    const float targets[] = {348, 71, 124, 0};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(patrol_rec.moves[i].mode, modes[i]);
        EXPECT_FLOAT_EQ(patrol_rec.moves[i].speed, speeds[i]);
        EXPECT_FLOAT_EQ(patrol_rec.moves[i].target, targets[i]);
    }
}

TEST_F(TaviDemoTest, SquaresUpThenReadsAfterTheLastStepOnly) {
    run();
    const events move = {"set", "dist", "create", "cancel"};
    events expected = {"nums 1"};
    for (int seq = 1; seq <= 4; ++seq) {
        expected.insert(expected.end(), move.begin(), move.end());
        if (seq < 4) {
            expected.push_back("pause 10000");
        }
    }
    const events tail = {"align 50", "detect 46", "get", "stop", "pause 1000000"};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(patrol_actions(), expected);
}

}  // namespace
