// The helpers other tests stand on: if these break, every device-level test
// would report nonsense, so they get checked on their own first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "tests/support/emulated_devices.h"

TEST(EmulatedDevices, DirectoryIsExportedAndRemoved) {
    std::string path;
    {
        emu_device_dir dir;
        path = dir.path;
        ASSERT_NE(getenv("TAVI_DEVICE_DIR"), nullptr);
        EXPECT_EQ(path, getenv("TAVI_DEVICE_DIR"));
        int fd = emu_fifo_node(dir, "motor_dev");
        EXPECT_GE(fd, 0);
        EXPECT_EQ(access(dir.node("motor_dev").c_str(), F_OK), 0);
        close(fd);
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(EmulatedDevices, FifoCarriesBytesBothWays) {
    emu_device_dir dir;
    int test_end = emu_fifo_node(dir, "io_dev");
    int module_end = open(dir.node("io_dev").c_str(), O_RDWR);
    ASSERT_GE(module_end, 0);
    ASSERT_EQ(write(module_end, "\x01\x02\x03", 3), 3);
    EXPECT_EQ(emu_read_bytes(test_end, 3, 500), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(emu_read_bytes(test_end, 1, 30).empty());
    close(module_end);
    close(test_end);
}

TEST(EmulatedDevices, RawPtyDeliversPairsUntranslated) {
    emu_device_dir dir;
    emu_pty pty = emu_pty_node(dir, "encoder_dev", 2);
    int module_end = open(dir.node("encoder_dev").c_str(), O_RDWR);
    ASSERT_GE(module_end, 0);
    // Newline and 0xFF must pass as they are: no echo, no CR/LF translation.
    ASSERT_EQ(write(module_end, "\n", 1), 1);
    EXPECT_EQ(emu_read_bytes(pty.master, 1, 500), (std::vector<uint8_t>{'\n'}));
    ASSERT_TRUE(emu_write_bytes(pty.master, {0x0A, 0xFF}, 500));
    uint8_t reply[2] = {0, 0};
    EXPECT_EQ(read(module_end, reply, 2), 2);
    EXPECT_EQ(reply[0], 0x0A);
    EXPECT_EQ(reply[1], 0xFF);
    EXPECT_TRUE(emu_drain(pty.master, 20, 200).empty());
    close(module_end);
    emu_pty_close(&pty);
}

TEST(EmulatedDevices, ChildOutputStatusAndTimeout) {
    emu_child_result r = emu_run_func(
        [] {
            char line[32] = {0};
            if (fgets(line, sizeof line, stdin) == nullptr) {
                return 3;
            }
            printf("got %s", line);
            return 7;
        },
        5000, "abc\n");
    EXPECT_FALSE(r.timed_out);
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 7);
    EXPECT_EQ(r.output, "got abc\n");

    emu_child_result slow = emu_run_func(
        [] {
            pause();
            return 0;
        },
        100);
    EXPECT_TRUE(slow.timed_out);
    EXPECT_TRUE(WIFSIGNALED(slow.status));

    emu_child_result prog = emu_run_program({"/bin/sh", "-c", "echo hi; exit 4"}, 5000);
    ASSERT_TRUE(WIFEXITED(prog.status));
    EXPECT_EQ(WEXITSTATUS(prog.status), 4);
    EXPECT_EQ(prog.output, "hi\n");
}
