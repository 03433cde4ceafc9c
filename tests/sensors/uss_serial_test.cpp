// The serial layer on its own, against a pseudo-terminal standing in for the
// board's port: the test holds the master end and plays the board.
#include "sensors/uss_serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/sensors/test_clock.h"
#include "tests/support/emulated_devices.h"

namespace {

class UssSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pty = emu_pty_node(dir, "ttyS0", 2);
        // Opened as the device registry opens the port.
        fd = open(dir.node("ttyS0").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) {
            close(fd);
        }
        emu_pty_close(&pty);
    }

    emu_device_dir dir;
    emu_pty pty;
    int fd = -1;
};

TEST_F(UssSerialTest, SetPortSavesOldSettingsAndProgramsRawNineSixHundred) {
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    before.c_iflag = ICRNL;
    before.c_oflag = OPOST | ONLCR;
    before.c_cc[VMIN] = 7;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

    termios saved{};
    EXPECT_EQ(uss_set_serial_port(fd, &saved), 0);
    EXPECT_EQ(saved.c_iflag, static_cast<tcflag_t>(ICRNL));
    EXPECT_EQ(saved.c_oflag, static_cast<tcflag_t>(OPOST | ONLCR));
    EXPECT_EQ(saved.c_cc[VMIN], 7);

    termios now{};
    ASSERT_EQ(tcgetattr(fd, &now), 0);
    EXPECT_EQ(now.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(now.c_oflag, 0u);
    EXPECT_EQ(now.c_cflag, 0x8BDu);
    EXPECT_EQ(now.c_lflag, 0u);
    EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B9600));
    EXPECT_EQ(now.c_cc[VMIN], 1);
    EXPECT_EQ(now.c_cc[VTIME], 0);
    EXPECT_EQ(now.c_cc[VINTR], 0);
}

TEST_F(UssSerialTest, SetPortDropsInputThatArrivedBefore) {
    ASSERT_TRUE(emu_write_bytes(pty.master, {0x55, 0x66, 0x77}, 500));
    ASSERT_TRUE(emu_wait_readable(fd, 1000));
    termios saved{};
    uss_set_serial_port(fd, &saved);
    EXPECT_FALSE(emu_wait_readable(fd, 30));

    // What comes after the flush is delivered as it is.
    ASSERT_TRUE(emu_write_bytes(pty.master, {0x0A}, 500));
    EXPECT_EQ(uss_get_serial_char(fd), 0x0A);
}

TEST_F(UssSerialTest, PutWritesExactlyTheBytesGiven) {
    termios saved{};
    uss_set_serial_port(fd, &saved);  // raw output: no newline translation
    EXPECT_EQ(uss_put_serial_string(fd, "\x03"), 0);
    EXPECT_EQ(emu_drain(pty.master, 30, 500), (std::vector<uint8_t>{0x03}));
    EXPECT_EQ(uss_put_serial_string(fd, "A\nB"), 0);
    EXPECT_EQ(emu_drain(pty.master, 30, 500), (std::vector<uint8_t>{'A', '\n', 'B'}));
    EXPECT_EQ(uss_put_serial_char(fd, '\0'), 0);
    EXPECT_EQ(uss_put_serial_char(fd, static_cast<char>(0xFE)), 0);
    EXPECT_EQ(emu_drain(pty.master, 30, 500), (std::vector<uint8_t>{0x00, 0xFE}));
}

TEST_F(UssSerialTest, PutReportsAFailedWrite) {
    EXPECT_EQ(uss_put_serial_string(-1, "\x01"), -1);
    EXPECT_EQ(uss_put_serial_char(-1, 'x'), -1);
}

TEST_F(UssSerialTest, GetReturnsBytesAsUnsignedValuesInOrder) {
    termios saved{};
    uss_set_serial_port(fd, &saved);
    ASSERT_TRUE(emu_write_bytes(pty.master, {0xFF, 0x00, 0x80, 0x2C}, 500));
    EXPECT_EQ(uss_get_serial_char(fd), 255);
    EXPECT_EQ(uss_get_serial_char(fd), 0);
    EXPECT_EQ(uss_get_serial_char(fd), 128);
    EXPECT_EQ(uss_get_serial_char(fd), 0x2C);
}

TEST_F(UssSerialTest, GetWaitsAboutFiftyMillisecondsThenGivesZero) {
    termios saved{};
    uss_set_serial_port(fd, &saved);
    auto start = test_clock::now();
    EXPECT_EQ(uss_get_serial_char(fd), 0);
    long waited = elapsed_ms(start);
    EXPECT_GE(waited, 48);
    EXPECT_LT(waited, 250);
}

TEST_F(UssSerialTest, GetTakesAByteThatArrivesDuringTheWait) {
    termios saved{};
    uss_set_serial_port(fd, &saved);
    std::thread board([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        emu_write_bytes(pty.master, {0x42}, 500);
    });
    int got = uss_get_serial_char(fd);
    board.join();
    EXPECT_EQ(got, 0x42);
}

TEST_F(UssSerialTest, GetReportsAFailedWaitOrReadAsNoReading) {
    auto start = test_clock::now();
    EXPECT_EQ(uss_get_serial_char(-1), 255);
    int closed = dup(fd);
    ASSERT_GE(closed, 0);
    close(closed);
    EXPECT_EQ(uss_get_serial_char(closed), 255);
    // These fail at once rather than waiting out the 50 ms.
    EXPECT_LT(elapsed_ms(start), 45);
}

TEST_F(UssSerialTest, GetOnAHungUpPortFailsAtOnce) {
    close(pty.master);  // the board's side goes away: reads report an error
    pty.master = -1;
    auto start = test_clock::now();
    EXPECT_EQ(uss_get_serial_char(fd), 255);
    EXPECT_LT(elapsed_ms(start), 45);
}

TEST_F(UssSerialTest, GetRefusesAHandleBeyondWhatSelectCanWatch) {
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
    const int high = FD_SETSIZE + 10;
    if (old_limit.rlim_max != RLIM_INFINITY && old_limit.rlim_max <= static_cast<rlim_t>(high)) {
        GTEST_SKIP() << "descriptor limit too low to place one beyond FD_SETSIZE";
    }
    rlimit raised = old_limit;
    raised.rlim_cur = high + 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    ASSERT_EQ(dup2(fd, high), high);
    ASSERT_TRUE(emu_write_bytes(pty.master, {0x11}, 500));
    // The byte is there, but watching it would overrun the descriptor set.
    EXPECT_EQ(uss_get_serial_char(high), 255);
    close(high);
    setrlimit(RLIMIT_NOFILE, &old_limit);
}

TEST_F(UssSerialTest, CloseRestoresTheGivenSettingsAndCloses) {
    termios saved{};
    uss_set_serial_port(fd, &saved);
    saved.c_cc[VMIN] = 5;
    EXPECT_EQ(uss_close_serial_port(fd, &saved), 0);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    fd = -1;
    termios now{};
    ASSERT_EQ(tcgetattr(pty.slave_keep, &now), 0);
    EXPECT_EQ(now.c_cc[VMIN], 5);

    EXPECT_EQ(uss_close_serial_port(-1, &saved), -1);
}

}  // namespace
