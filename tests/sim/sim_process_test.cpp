// tavi-sim as a process: the bytes on its device nodes, their timing, the
// fault switches and the capture socket.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sim/sim_process.h"
#include "tests/support/emulated_devices.h"

namespace {

using bytes = std::vector<uint8_t>;

int open_node(const sim_process& p, const char* name, int flags = O_RDWR) {
    return open((p.dir + "/dev/" + name).c_str(), flags | O_NOCTTY);
}

void open_drive_nodes(const sim_process& p, int* enc, int* mot) {
    *enc = open_node(p, "encoder_dev");
    *mot = open_node(p, "motor_dev");
    ASSERT_GE(*enc, 0);
    ASSERT_GE(*mot, 0);
}

double ms_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

TEST(SimDevices, EncoderAndMotorFramesDriveTheRobot) {
    sim_process p = sim_start({});
    int enc = -1, mot = -1;
    ASSERT_NO_FATAL_FAILURE(open_drive_nodes(p, &enc, &mot));
    ASSERT_TRUE(emu_write_bytes(enc, {0x55}, 1000));
    EXPECT_EQ(emu_read_bytes(enc, 2, 1000), (bytes{0, 0}));
    // 30 units above each dead band, forward on both wheels.
    ASSERT_TRUE(emu_write_bytes(mot, {28 + 30, 18 + 30, 18 + 30, 18 + 30}, 1000));
    int64_t left = 0, right = 0;
    emu_wait_until(
        [&] {
            emu_write_bytes(enc, {0}, 1000);
            bytes r = emu_read_bytes(enc, 2, 1000);
            if (r.size() == 2) {
                left += static_cast<int8_t>(r[0]);
                right += static_cast<int8_t>(r[1]);
            }
            return left > 100 && right < -100;
        },
        5000);
    EXPECT_GT(left, 100);
    // The right wheel runs forward too, so its wire sign is negative.
    EXPECT_LT(right, -100);
    // drivehalt's stop frame merged behind a motor_drive frame still counts.
    ASSERT_TRUE(emu_write_bytes(mot, {28 + 30, 18 + 30, 18 + 30, 18 + 30, 0, 0}, 1000));
    close(enc);
    close(mot);
    auto s = sim_stop(&p);
    EXPECT_EQ(s["motor_frames"], "3");
    EXPECT_EQ(s["last_motor_frame"], "00 00");
    EXPECT_EQ(s["last_motor_frame_len"], "2");
    EXPECT_GT(std::stod(s["x"]), 3.0);
    EXPECT_GE(std::stoll(s["encoder_left"]), left);
    EXPECT_EQ(s["encoder_wraps"], "0");
}

// A sampler that falls behind asks after more than 127 counts have passed:
// the 8-bit reply wraps as the real board's would, and the log says so.
TEST(SimDevices, EncoderReplyWrapsAfterALongGapAndIsLogged) {
    sim_process p = sim_start({});
    int enc = -1, mot = -1;
    ASSERT_NO_FATAL_FAILURE(open_drive_nodes(p, &enc, &mot));
    ASSERT_TRUE(emu_write_bytes(enc, {0}, 1000));
    ASSERT_EQ(emu_read_bytes(enc, 2, 1000).size(), 2u);
    // Full command forward on both wheels (sign bit clear, 127).
    ASSERT_TRUE(emu_write_bytes(mot, {127, 127, 127, 127}, 1000));
    usleep(400 * 1000);
    ASSERT_TRUE(emu_write_bytes(enc, {0}, 1000));
    ASSERT_EQ(emu_read_bytes(enc, 2, 1000).size(), 2u);
    ASSERT_TRUE(emu_write_bytes(mot, {0, 0, 0, 0}, 1000));
    close(enc);
    close(mot);
    std::string log_text;
    auto s = sim_stop(&p, &log_text);
    // 0.4 s at well over 30 cm/s is several hundred counts of 0.039 cm.
    EXPECT_EQ(s["encoder_requests"], "2");
    EXPECT_EQ(s["encoder_wraps"], "1");
    std::istringstream log(log_text);
    std::string line, wrap_line;
    while (std::getline(log, line)) {
        if (line.find(",wrap,") != std::string::npos) {
            wrap_line = line;
        }
    }
    ASSERT_FALSE(wrap_line.empty());
    long long left = 0, right = 0;
    ASSERT_EQ(std::sscanf(wrap_line.substr(wrap_line.rfind(',') + 1).c_str(),
                          "left %lld right %lld", &left, &right),
              2)
        << wrap_line;
    // The log gives the wheels' own counts, before the wire inverts the right one.
    EXPECT_GT(left, 127);
    EXPECT_GT(right, 127);
}

TEST(SimDevices, IoDeviceGivesItsStateOnEveryRead) {
    sim_process p = sim_start({"--io", "101100111000"});
    for (int round = 0; round < 2; ++round) {
        int io = open_node(p, "io_dev", O_RDONLY);
        ASSERT_GE(io, 0);
        for (int i = 0; i < 3; ++i) {
            bytes got = emu_read_bytes(io, 12, 1000);
            EXPECT_EQ(std::string(got.begin(), got.end()), "101100111000");
        }
        close(io);
    }
    sim_stop(&p);
}

TEST(SimUltrasonic, RangeOf320ReadsAs2C01AfterTheSoundsTravel) {
    // Sensors sit 12 cm ahead of the centre: the wall is 320 cm from them.
    sim_process p = sim_start({"--set", "wall 332 -100 332 100", "--set", "uss_max_range 400"});
    int tty = open_node(p, "ttyS0", O_RDWR | O_NONBLOCK);
    ASSERT_GE(tty, 0);
    auto t = std::chrono::steady_clock::now();
    ASSERT_TRUE(emu_write_bytes(tty, {0x01}, 1000));
    bytes reply = emu_read_bytes(tty, 2, 1000);
    double took = ms_since(t);
    EXPECT_EQ(reply, (bytes{0x2C, 0x01}));
    // 640 cm of sound at 343 m/s alone is 18.7 ms.
    EXPECT_GE(took, 18.0);
    // Channel 3 is not fitted; a byte outside 1..4 gets no answer.
    ASSERT_TRUE(emu_write_bytes(tty, {0x03}, 1000));
    EXPECT_EQ(emu_read_bytes(tty, 2, 1000), (bytes{0xFF, 0xFF}));
    ASSERT_TRUE(emu_write_bytes(tty, {0x09}, 1000));
    EXPECT_TRUE(emu_read_bytes(tty, 1, 150).empty());
    close(tty);
    auto s = sim_stop(&p);
    EXPECT_EQ(s["uss_queries"], "2");
    EXPECT_EQ(s["uss1_reading"], "300");
}

TEST(SimUltrasonic, SilentBoardAndLateReply) {
    {
        sim_process p = sim_start({"--set", "wall 100 -100 100 100", "--fault", "uss_silent"});
        int tty = open_node(p, "ttyS0", O_RDWR | O_NONBLOCK);
        ASSERT_TRUE(emu_write_bytes(tty, {0x01}, 1000));
        EXPECT_TRUE(emu_read_bytes(tty, 1, 200).empty());
        close(tty);
        sim_stop(&p);
    }
    {
        sim_process p = sim_start({"--set", "wall 100 -100 100 100", "--fault", "uss_late"});
        int tty = open_node(p, "ttyS0", O_RDWR | O_NONBLOCK);
        ASSERT_TRUE(emu_write_bytes(tty, {0x02}, 1000));
        auto t = std::chrono::steady_clock::now();
        // Nothing inside the program's first 50 ms wait...
        EXPECT_TRUE(emu_read_bytes(tty, 1, 50).empty());
        // ...then the whole answer: 88 cm reads 68.
        bytes reply = emu_read_bytes(tty, 2, 1000);
        EXPECT_EQ(reply, (bytes{68, 0}));
        EXPECT_GE(ms_since(t), 60.0);
        close(tty);
        sim_stop(&p);
    }
}

std::string ask(const std::string& socket_path, const std::string& line) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket_path.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return "connect failed";
    }
    emu_write_bytes(fd, bytes(line.begin(), line.end()), 1000);
    std::string reply;
    while (reply.empty() || reply.back() != '\n') {
        bytes b = emu_read_bytes(fd, 1, 5000);
        if (b.empty())
            break;
        reply += static_cast<char>(b[0]);
    }
    close(fd);
    return reply;
}

bytes file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SimCapture, FrameWrittenAndBoardTakenAwayAfterItsCaptures) {
    sim_process p = sim_start(
        {"--set", "wall 100 -100 100 100", "--set", "board 66 0 180 42 remove_after_captures 2"});
    const std::string sock = p.dir + "/sim.sock";
    EXPECT_EQ(ask(sock, "ping\n"), "ok\n");
    EXPECT_EQ(ask(sock, "pose\n"), "pose 0.00 0.00 0.00\n");
    std::string img = p.dir + "/img/input.jpg";
    EXPECT_EQ(ask(sock, "capture " + img + " 320 240\n"), "ok\n");
    bytes jpeg = file_bytes(img);
    ASSERT_GT(jpeg.size(), 500u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);  // a complete JPEG ends with EOI
    EXPECT_EQ(ask(sock, "capture relative.jpg 320 240\n"), "fail bad request\n");
    // A run folder whose name holds blanks, a quote and non-ASCII letters.
    const std::string odd = p.dir + "/img/a  b 'é.jpg";
    EXPECT_EQ(ask(sock, "capture " + odd + " 320 240\n"), "ok\n");
    EXPECT_GT(file_bytes(odd).size(), 500u);
    auto s = sim_stop(&p);
    EXPECT_EQ(s["captures"], "2");
    EXPECT_EQ(s["captures_failed"], "1");
    EXPECT_EQ(s["boards_removed"], "1");
    // With the board gone the sensors see the wall behind it.
    EXPECT_EQ(s["uss1_range"], "88.0");
    EXPECT_EQ(s["board_ahead"], "none");
}

TEST(SimCapture, FaultSwitches) {
    {
        sim_process p = sim_start({"--fault", "capture_fail"});
        EXPECT_EQ(ask(p.dir + "/sim.sock", "capture " + p.dir + "/img/a.jpg 320 240\n"),
                  "fail injected\n");
        EXPECT_NE(access((p.dir + "/img/a.jpg").c_str(), F_OK), 0);
        sim_stop(&p);
    }
    {
        sim_process p = sim_start({"--fault", "capture_nofile"});
        EXPECT_EQ(ask(p.dir + "/sim.sock", "capture " + p.dir + "/img/a.jpg 320 240\n"), "ok\n");
        EXPECT_NE(access((p.dir + "/img/a.jpg").c_str(), F_OK), 0);
        sim_stop(&p);
    }
    {
        sim_process p = sim_start({"--fault", "capture_truncated"});
        EXPECT_EQ(ask(p.dir + "/sim.sock", "capture " + p.dir + "/img/a.jpg 320 240\n"), "ok\n");
        bytes jpeg = file_bytes(p.dir + "/img/a.jpg");
        ASSERT_GT(jpeg.size(), 2u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_FALSE(jpeg[jpeg.size() - 2] == 0xFF && jpeg[jpeg.size() - 1] == 0xD9);
        sim_stop(&p);
    }
}

TEST(SimOptions, BadWorldLineIsRefused) {
    emu_child_result r = emu_run_program(
        {emu_bin_path("tavi-sim"), "--dir", "/tmp/tavi-sim-never", "--set", "wall 1 2"}, 10000);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 2);
}

}  // namespace
