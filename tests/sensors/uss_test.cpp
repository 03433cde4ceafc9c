// Range queries through the device registry against an emulated board: a raw
// pseudo-terminal linked as ttyS0 in a private device directory. The board
// side runs on a helper thread that answers one request as scripted.
#include "sensors/uss.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "drive/device.h"
#include "sensors/uss_serial.h"
#include "tests/sensors/test_clock.h"
#include "tests/support/emulated_devices.h"

namespace {

using bytes = std::vector<uint8_t>;
class UssBoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pty = emu_pty_node(dir, "ttyS0", 2);
        int opened = 0;
        emu_capture_stdout([&] { opened = device_uss_open(); });
        ASSERT_EQ(opened, 0);
    }
    void TearDown() override {
        device_uss_close();
        emu_pty_close(&pty);
    }

    // One query of channel; the board waits for the request, then after
    // delay_ms sends reply in one piece. *request gets what the board saw
    // within the query (plus a short quiet period after it).
    int query(int channel, const bytes& reply, int delay_ms, bytes* request = nullptr) {
        bytes seen;
        std::thread board([&] {
            seen = emu_read_bytes(pty.master, 1, 1000);
            if (seen.empty()) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            emu_write_bytes(pty.master, reply, 500);
        });
        int range = uss_get(channel);
        board.join();
        bytes more = emu_drain(pty.master, 20, 200);
        seen.insert(seen.end(), more.begin(), more.end());
        if (request != nullptr) {
            *request = seen;
        }
        return range;
    }

    emu_device_dir dir;
    emu_pty pty;
};

TEST_F(UssBoardTest, DecodesLowThenHighBytePlusTwenty) {
    struct row {
        bytes reply;
        int range;
    };
    const row rows[] = {
        {{0x2C, 0x01}, 320},   {{0x00, 0x00}, 20},    {{0xFF, 0xFE}, 65299}, {{0x01, 0x00}, 21},
        {{0x00, 0xFF}, 99999}, {{0x7B, 0xFF}, 99999}, {{0xFF, 0xFF}, 99999}, {{0x00, 0x01}, 276},
    };
    int channel = 1;
    for (const row& r : rows) {
        SCOPED_TRACE(::testing::PrintToString(r.reply) + " on channel " + std::to_string(channel));
        EXPECT_EQ(query(channel, r.reply, 0), r.range);
        channel = channel % 4 + 1;  // every channel, all with offset 0
    }
}

TEST_F(UssBoardTest, RequestIsTheSingleChannelByte) {
    for (int channel = 1; channel <= 4; ++channel) {
        bytes request;
        query(channel, {0x10, 0x00}, 0, &request);
        EXPECT_EQ(request, bytes{static_cast<uint8_t>(channel)}) << "channel " << channel;
    }
}

TEST_F(UssBoardTest, OnlyTheLowByteArriving) {
    EXPECT_EQ(query(2, {0x2C}, 0), 0x2C + 20);
}

TEST_F(UssBoardTest, SilentBoardGivesTwentyAfterBothWaits) {
    auto start = test_clock::now();
    EXPECT_EQ(uss_get(1), 20);
    long waited = elapsed_ms(start);
    EXPECT_GE(waited, 95);
    EXPECT_LT(waited, 400);
    EXPECT_EQ(emu_drain(pty.master, 20, 200), bytes{0x01});
}

// What each 50 ms wait of a query gets, scripted, so no real time has to
// pass: a late reply is one whose bytes land a wait later than they should.
std::vector<int> waits;
int scripted_wait(int) {
    const int got = waits.empty() ? USS_SERIAL_TIMEOUT : waits.front();
    waits.erase(waits.begin());
    return got;
}

TEST_F(UssBoardTest, ReplyAfterTheFirstWaitIsReadAsTheHighByte) {
    // The first wait passes without a byte; the reply's low byte then lands in
    // the second wait and is taken for the high byte.
    waits = {USS_SERIAL_TIMEOUT, 0x2C};
    EXPECT_EQ(uss_query(device_uss_get(), 1, scripted_wait), 0x2C * 256 + 20);
    EXPECT_FALSE(uss_last_answered());
    EXPECT_EQ(emu_drain(pty.master, 20, 200), bytes{0x01});
}

TEST_F(UssBoardTest, LeftoverBytesDoNotShiftTheNextAnswer) {
    // The board sends more than the query reads: two bytes stay behind.
    EXPECT_EQ(query(1, {0x2C, 0x01, 0x55, 0x66}, 0), 320);
    ASSERT_TRUE(emu_wait_readable(device_uss_get(), 500));
    EXPECT_EQ(query(2, {0x10, 0x00}, 0), 36);
    EXPECT_TRUE(uss_last_answered());
}

TEST_F(UssBoardTest, OtherChannelsLeaveThePortAlone) {
    int fd = device_uss_get();
    // Pending input and the current settings (VMIN 2 from the emulated node,
    // where a query would program 1) must both survive.
    ASSERT_TRUE(emu_write_bytes(pty.master, {0x5A, 0x5B}, 500));
    ASSERT_TRUE(emu_wait_readable(fd, 500));
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);

    for (int channel : {0, 5, -1, 256 + 1}) {
        EXPECT_EQ(uss_get(channel), -1) << channel;
    }
    EXPECT_TRUE(emu_drain(pty.master, 30, 200).empty());
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_TRUE(emu_wait_readable(fd, 0));
}

TEST_F(UssBoardTest, HungUpBoardReportsNoEcho) {
    close(pty.master);
    pty.master = -1;
    auto start = test_clock::now();
    EXPECT_EQ(uss_get(1), USS_NO_ECHO);
    EXPECT_LT(elapsed_ms(start), 90);
}

// A port that never opened, or failed to: the query ends the program with
// status -1 and says nothing. Run in a fresh process so its handle is untouched.
TEST(UssNoPortTest, EndsTheProcessSilently) {
    emu_device_dir empty;  // no ttyS0 in it: the registry's open fails
    for (const char* mode : {"unopened", "failed"}) {
        SCOPED_TRACE(mode);
        emu_child_result r = emu_run_program({emu_bin_path("uss_noport_probe"), mode}, 5000);
        ASSERT_FALSE(r.timed_out);
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(WEXITSTATUS(r.status), 255);
        EXPECT_EQ(r.output, "");
    }
}

TEST(UssNoPortTest, StopsTheWheelsBeforeEnding) {
    emu_device_dir dir;
    int motor = emu_fifo_node(dir, "motor_dev");
    ASSERT_GE(motor, 0);
    emu_child_result r = emu_run_program({emu_bin_path("uss_noport_probe"), "motor"}, 5000);
    ASSERT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 255);
    EXPECT_EQ(r.output, "");
    // The stop frame is the last (here the only) frame on the motor device.
    EXPECT_EQ(emu_drain(motor, 20, 500), (bytes{0, 0, 0, 0}));
    close(motor);
}

}  // namespace
