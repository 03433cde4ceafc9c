// The drive modules against emulated device nodes: what the registry prints
// and stores, where descriptors land when a standard stream is closed, the I/O
// port's single read, the encoder sampler's request/reply exchange and the
// motor frames on the wire. Module state is process-global and descriptors
// are shared with the test framework, so every case that opens a device runs
// in a child process: the child reports what it saw on its standard output
// and the assertions are made here on that report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "drive/device.h"
#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/io.h"
#include "drive/motor.h"
#include "drive/vel_ctrl.h"
#include "tests/support/emulated_devices.h"

namespace {

// Generous: two shared cores and sanitizer builds make children slow to start.
constexpr int kChildTimeoutMs = 20000;
constexpr int kExchangeTimeoutMs = 5000;

void expect_clean_exit(const emu_child_result& r) {
    EXPECT_FALSE(r.timed_out) << r.output;
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << "status " << r.status << "\n"
                                                                   << r.output;
}

// The number printed after `key=` (first occurrence), or -99 when absent.
int printed_value(const std::string& output, const std::string& key) {
    std::smatch m;
    if (std::regex_search(output, m, std::regex(key + "=(-?[0-9]+)\n"))) {
        return std::stoi(m[1].str());
    }
    return -99;
}

bool same_file(int fd, const std::string& path) {
    struct stat a {};
    struct stat b {};
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

const char* access_mode(int fd) {
    const int fl = fcntl(fd, F_GETFL);
    if (fl == -1) {
        return "closed";
    }
    switch (fl & O_ACCMODE) {
        case O_RDONLY:
            return "rdonly";
        case O_WRONLY:
            return "wronly";
        default:
            return "rdwr";
    }
}

int is_nonblocking(int fd) {
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0 ? 1 : 0;
}

struct device_ops {
    const char* name;  // node name
    int (*open)();
    int (*get)();
    int (*close)();
};
const device_ops kDevices[] = {
    {"encoder_dev", device_encoder_open, device_encoder_get, device_encoder_close},
    {"motor_dev", device_motor_open, device_motor_get, device_motor_close},
    {"ttyS0", device_uss_open, device_uss_get, device_uss_close},
    {"io_dev", device_io_open, device_io_get, device_io_close},
};

// ---------------------------------------------------------------------------

TEST(DriveDeviceRegistry, MissingNodesReportAndStoreFailure) {
    emu_device_dir devices;  // empty: no node exists
    const emu_child_result r = emu_run_func(
        [] {
            for (const device_ops& d : kDevices) {
                const int result = d.open();
                const int stored = d.get();
                const int closed = d.close();
                // Closing must not reset the handle either.
                printf("result=%d get=%d close=%d get=%d\n", result, stored, closed, d.get());
            }
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);
    EXPECT_EQ(r.output,
              "fd_encoder=-1\nencoder_dev can't open !!!\nresult=-1 get=-1 close=0 get=-1\n"
              "fd_motor=-1\nmotor_dev can't open !!!\nresult=-1 get=-1 close=0 get=-1\n"
              "fd_uss=-1\nuss_dev can't open !!!\nresult=-1 get=-1 close=0 get=-1\n"
              "fd_io=-1\nio device can't open !!!\nresult=-1 get=-1 close=0 get=-1\n");
}

TEST(DriveDeviceRegistry, OpensNodesInDeviceDirWithTheirModes) {
    emu_device_dir devices;
    emu_pty encoder = emu_pty_node(devices, "encoder_dev", 2);
    const int motor = emu_fifo_node(devices, "motor_dev");
    emu_pty uss = emu_pty_node(devices, "ttyS0", 1);
    const int io = emu_fifo_node(devices, "io_dev");
    ASSERT_GE(encoder.master, 0);
    ASSERT_GE(motor, 0);
    ASSERT_GE(uss.master, 0);
    ASSERT_GE(io, 0);

    const std::string dir = devices.path;
    const emu_child_result r = emu_run_func(
        [&dir] {
            for (const device_ops& d : kDevices) {
                const int result = d.open();
                const int fd = d.get();
                printf("%s result=%d get=%d same_node=%d mode=%s nonblock=%d\n", d.name, result, fd,
                       same_file(fd, dir + "/" + d.name) ? 1 : 0, access_mode(fd),
                       is_nonblocking(fd));
            }
            for (const device_ops& d : kDevices) {
                const int fd = d.get();
                const int closed = d.close();
                printf("%s close=%d kept=%d released=%d\n", d.name, closed, d.get() == fd ? 1 : 0,
                       fcntl(fd, F_GETFD) == -1 ? 1 : 0);
            }
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);

    const char* keys[] = {"fd_encoder", "fd_motor", "fd_uss", "fd_io"};
    const char* modes[] = {"rdwr", "rdwr", "rdwr", "rdonly"};
    const int nonblock[] = {0, 0, 1, 0};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(kDevices[i].name);
        const int fd = printed_value(r.output, keys[i]);
        EXPECT_GT(fd, 2) << r.output;
        // The printed descriptor is the one stored, it refers to the node in
        // the device directory, opened with the device's own flags.
        const std::string line =
            std::string(kDevices[i].name) + " result=0 get=" + std::to_string(fd) +
            " same_node=1 mode=" + modes[i] + " nonblock=" + std::to_string(nonblock[i]) + "\n";
        EXPECT_NE(r.output.find(line), std::string::npos) << "want " << line << r.output;
        const std::string closed = std::string(kDevices[i].name) + " close=0 kept=1 released=1\n";
        EXPECT_NE(r.output.find(closed), std::string::npos) << r.output;
    }
    // Four distinct descriptors.
    EXPECT_NE(printed_value(r.output, "fd_encoder"), printed_value(r.output, "fd_motor"));
    EXPECT_NE(printed_value(r.output, "fd_uss"), printed_value(r.output, "fd_io"));
    EXPECT_NE(printed_value(r.output, "fd_encoder"), printed_value(r.output, "fd_io"));

    emu_pty_close(&encoder);
    emu_pty_close(&uss);
    close(motor);
    close(io);
}

TEST(DriveDeviceRegistry, NodePathFollowsDeviceDirVariable) {
    const emu_child_result r = emu_run_func(
        [] {
            setenv("TAVI_DEVICE_DIR", "/tmp/some where", 1);
            printf("%s\n", device_node_path("motor_dev").c_str());
            setenv("TAVI_DEVICE_DIR", "", 1);
            printf("%s\n", device_node_path("ttyS0").c_str());
            unsetenv("TAVI_DEVICE_DIR");
            printf("%s\n", device_node_path("io_dev").c_str());
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);
    EXPECT_EQ(r.output, "/tmp/some where/motor_dev\n/dev/ttyS0\n/dev/io_dev\n");
}

// ---------------------------------------------------------------------------

// In a child: saves a reporting descriptor, closes the standard descriptors in
// `closed_mask` (bit n = descriptor n), reserves them when asked, opens the
// motor and encoder nodes and reports where they landed and what now sits on
// each closed standard descriptor.
std::string run_with_closed_streams(unsigned closed_mask, bool reserve) {
    const emu_child_result r = emu_run_func(
        [closed_mask, reserve] {
            const int report = dup(STDOUT_FILENO);
            if (report < 0) {
                return 3;
            }
            fflush(stdout);
            for (int fd = 0; fd <= 2; ++fd) {
                if ((closed_mask & (1u << fd)) != 0) {
                    close(fd);
                }
            }
            if (reserve) {
                device_std_streams_reserve();
            }
            const int motor_result = device_motor_open();
            const int encoder_result = device_encoder_open();
            fflush(stdout);
            dprintf(report, "motor=%d encoder=%d results=%d,%d", device_motor_get(),
                    device_encoder_get(), motor_result, encoder_result);
            for (int fd = 0; fd <= 2; ++fd) {
                if ((closed_mask & (1u << fd)) != 0) {
                    dprintf(report, " std%d=%s", fd, same_file(fd, "/dev/null") ? "null" : "other");
                }
            }
            dprintf(report, "\n");
            device_motor_close();
            device_encoder_close();
            return 0;
        },
        kChildTimeoutMs);
    EXPECT_FALSE(r.timed_out);
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.status;
    return r.output;
}

TEST(DriveDeviceStdStreams, ReservedStreamsKeepDevicesAboveTwo) {
    emu_device_dir devices;
    const int motor = emu_fifo_node(devices, "motor_dev");
    emu_pty encoder = emu_pty_node(devices, "encoder_dev", 2);
    ASSERT_GE(motor, 0);
    ASSERT_GE(encoder.master, 0);

    const std::regex report("motor=(-?[0-9]+) encoder=(-?[0-9]+) results=0,0(.*)\n");
    struct stream_case {
        unsigned mask;
        const char* reserved;  // what the report shows for the closed streams
    };
    const stream_case cases[] = {
        {1u, " std0=null"},
        {2u, " std1=null"},
        {4u, " std2=null"},
        {7u, " std0=null std1=null std2=null"},
    };
    for (const stream_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "closed mask " << c.mask);
        const std::string out = run_with_closed_streams(c.mask, true);
        std::smatch m;
        // Only the report line: with standard output left open the child
        // prints the registry lines too.
        ASSERT_TRUE(std::regex_search(out, m, report)) << out;
        EXPECT_GT(std::stoi(m[1].str()), 2) << out;
        EXPECT_GT(std::stoi(m[2].str()), 2) << out;
        EXPECT_EQ(m[3].str(), c.reserved) << out;
        if ((c.mask & 2u) == 0) {
            // Standard output stayed the child's own: the registry's line
            // names the same descriptor as the one it stored.
            EXPECT_NE(out.find("fd_motor=" + m[1].str() + "\n"), std::string::npos) << out;
        }
    }

    // Without the reservation the lowest free number is taken: the check
    // above is what tells the two apart.
    {
        SCOPED_TRACE("standard input closed, not reserved");
        const std::string out = run_with_closed_streams(1u, false);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, report)) << out;
        EXPECT_EQ(m[1].str(), "0") << out;
    }

    emu_pty_close(&encoder);
    close(motor);
}

// ---------------------------------------------------------------------------

// Printable form of a 12-byte input record plus two guard bytes past its end.
std::string record_text(const char* buffer) {
    return std::string(buffer, IO_INPUTS + 2);
}

TEST(DriveDeviceIo, SingleReadOfTwelveInputs) {
    emu_device_dir devices;
    const int io = emu_fifo_node(devices, "io_dev");
    ASSERT_GE(io, 0);
    const emu_child_result r = emu_run_func(
        [io] {
            if (device_io_open() != 0) {
                return 2;
            }
            char buffer[IO_INPUTS + 2];
            // A short delivery: only what came is written, the rest of the
            // record keeps the caller's bytes.
            memset(buffer, '.', sizeof buffer);
            emu_write_bytes(io, {'1', '0', '1', '1', '0'}, kExchangeTimeoutMs);
            int n = io_get(buffer);
            printf("short=%d [%s]\n", n, record_text(buffer).c_str());
            // More than a record waiting: exactly twelve are taken, the
            // next read gets the remainder.
            memset(buffer, '.', sizeof buffer);
            emu_write_bytes(io,
                            {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n'},
                            kExchangeTimeoutMs);
            n = io_get(buffer);
            printf("full=%d [%s]\n", n, record_text(buffer).c_str());
            memset(buffer, '.', sizeof buffer);
            n = io_get(buffer);
            printf("rest=%d [%s]\n", n, record_text(buffer).c_str());
            device_io_close();
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);
    const std::string fd = std::to_string(printed_value(r.output, "fd_io"));
    EXPECT_EQ(r.output, "fd_io=" + fd +
                            "\n"
                            "short=5 [10110.........]\n"
                            "full=12 [abcdefghijkl..]\n"
                            "rest=2 [mn............]\n");
    close(io);
}

TEST(DriveDeviceIo, FailedOpenReadsNothing) {
    emu_device_dir devices;  // no io_dev
    const emu_child_result r = emu_run_func(
        [] {
            device_io_open();
            char buffer[IO_INPUTS + 2];
            memset(buffer, '#', sizeof buffer);
            const int n = io_get(buffer);
            printf("read=%d [%s]\n", n, record_text(buffer).c_str());
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);
    EXPECT_EQ(r.output, "fd_io=-1\nio device can't open !!!\nread=-1 [##############]\n");
}

// ---------------------------------------------------------------------------

// One request answered in a child that runs the sampler: waits for the
// request byte, sends the two reply bytes, waits until the published values
// are the expected ones (bounded) and prints what it then reads. False when
// they never became the expected ones, so the scenario ends at the first
// wrong step instead of waiting out every later one.
bool answer_and_report(int master, uint8_t b0, uint8_t b1, const wheel_counts& want) {
    const std::vector<uint8_t> request = emu_read_bytes(master, 1, kExchangeTimeoutMs);
    const bool sent = emu_write_bytes(master, {b0, b1}, kExchangeTimeoutMs);
    wheel_counts c{};
    const bool reached = emu_wait_until(
        [&] {
            encoder_get(&c);
            return c.left == want.left && c.right == want.right && c.left_sum == want.left_sum &&
                   c.right_sum == want.right_sum;
        },
        kExchangeTimeoutMs);
    distance_pair d{};
    distance_get(&d);
    printf("%02x %02x: request=%zu sent=%d counts %d %d sums %d %d cm %.5f %.5f\n", b0, b1,
           request.size(), sent ? 1 : 0, c.left, c.right, c.left_sum, c.right_sum, d.left, d.right);
    fflush(stdout);  // kept even if the child is killed later
    return reached && request.size() == 1 && sent;
}

TEST(DriveDeviceEncoder, SamplerExchangeAndSums) {
    emu_device_dir devices;
    emu_pty encoder = emu_pty_node(devices, "encoder_dev", 2);
    ASSERT_GE(encoder.master, 0);
    const int master = encoder.master;

    const emu_child_result r = emu_run_func(
        [master] {
            if (device_encoder_open() != 0) {
                return 2;
            }
            encoder_create();
            bool ok = answer_and_report(master, 0x05, 0xFB, {5, 5, 5, 5}) &&
                      answer_and_report(master, 0x05, 0xFB, {5, 5, 10, 10});
            // A reset while the sampler waits for its reply: both sums and
            // both counts start again from 0.
            distance_reset();
            wheel_counts c{9, 9, 9, 9};
            encoder_get(&c);
            printf("reset: %d %d %d %d\n", c.left, c.right, c.left_sum, c.right_sum);
            ok = ok && answer_and_report(master, 0xFF, 0x01, {-1, -1, -1, -1}) &&
                 answer_and_report(master, 0x80, 0x80, {-128, 128, -129, 127}) &&
                 answer_and_report(master, 0x7F, 0x81, {127, 127, -2, 254});
            if (!ok) {
                encoder_stop();
                return 1;
            }
            // A reply split far across the period: its second byte 60 ms
            // after the first still completes that reply, and no new request
            // goes out meanwhile, so the next reply cannot be read out of step.
            const uint32_t before = encoder_samples();
            const std::size_t split_request = emu_read_bytes(master, 1, kExchangeTimeoutMs).size();
            emu_write_bytes(master, {0x03}, kExchangeTimeoutMs);
            usleep(60000);
            const std::size_t early = emu_read_bytes(master, 1, 100).size();
            emu_write_bytes(master, {0xFD}, kExchangeTimeoutMs);
            ok = answer_and_report(master, 0x01, 0xFF, {1, 1, 2, 258});
            // With no reply coming, the sampler keeps waiting for it: no
            // second request, no exchange counted. The speed loop, not the
            // sampler, calls that silence.
            const uint32_t answered = encoder_samples();
            const std::size_t pending = emu_read_bytes(master, 2, 200).size();
            const bool still = encoder_samples() == answered;
            // A signal that interrupts that wait must not end it: the read
            // goes on. Only the sampler leaves the signal unblocked, so it is
            // the one to get it.
            struct sigaction on_usr1 {};
            on_usr1.sa_handler = [](int) {};
            sigaction(SIGUSR1, &on_usr1, nullptr);
            sigset_t usr1;
            sigemptyset(&usr1);
            sigaddset(&usr1, SIGUSR1);
            pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
            kill(getpid(), SIGUSR1);
            usleep(100000);
            const std::size_t after_signal = emu_read_bytes(master, 1, 100).size();
            // The stop ends the sampler blocked in its read.
            encoder_stop();
            encoder_get(&c);
            printf("split: request=%zu early=%zu exchanges=%u\n", split_request, early,
                   answered - before);
            printf("asked again=%zu still=%d after signal=%zu\n", pending, still ? 1 : 0,
                   after_signal);
            printf("stopped: %d %d %d %d ok=%d\n", c.left, c.right, c.left_sum, c.right_sum,
                   ok ? 1 : 0);
            // A new sampler starts from zero and asks at once.
            encoder_create();
            encoder_get(&c);
            const std::size_t asked = emu_read_bytes(master, 1, kExchangeTimeoutMs).size();
            printf("restart: %d %d %d %d asked=%zu\n", c.left, c.right, c.left_sum, c.right_sum,
                   asked);
            encoder_stop();
            device_encoder_close();
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);

    const std::regex policy("policy = [A-Z_?]+, priority =-?[0-9]+\nthread_id=-?[0-9]+\n");
    std::string exchange = std::regex_replace(r.output, policy, "<started>\n");
    const std::string fd = std::to_string(printed_value(r.output, "fd_encoder"));
    EXPECT_EQ(exchange,
              "fd_encoder=" + fd +
                  "\n<started>\n"
                  "05 fb: request=1 sent=1 counts 5 5 sums 5 5 cm 0.19051 0.19357\n"
                  "05 fb: request=1 sent=1 counts 5 5 sums 10 10 cm 0.38102 0.38713\n"
                  "reset: 0 0 0 0\n"
                  "ff 01: request=1 sent=1 counts -1 -1 sums -1 -1 cm -0.03810 -0.03871\n"
                  "80 80: request=1 sent=1 counts -128 128 sums -129 127 cm -4.91513 4.91661\n"
                  "7f 81: request=1 sent=1 counts 127 127 sums -2 254 cm -0.07620 9.83321\n"
                  "01 ff: request=1 sent=1 counts 1 1 sums 2 258 cm 0.07620 9.98807\n"
                  "split: request=1 early=0 exchanges=2\n"
                  "asked again=1 still=1 after signal=0\n"
                  "stopped: 1 1 2 258 ok=1\n"
                  "<started>\n"
                  "restart: 0 0 0 0 asked=1\n");
    emu_pty_close(&encoder);
}

// ---------------------------------------------------------------------------

TEST(DriveDeviceMotor, FramesOnTheWire) {
    emu_device_dir devices;
    const int motor = emu_fifo_node(devices, "motor_dev");
    ASSERT_GE(motor, 0);
    const emu_child_result r = emu_run_func(
        [] {
            motor_drive(40, 40);  // not opened yet: must go nowhere
            if (device_motor_open() != 0) {
                return 2;
            }
            motor_drive(0, 0);
            motor_drive(1, 1);        // both dead-band offsets added
            motor_drive(-1, 0);       // exact 0 keeps magnitude 0
            motor_drive(50, -50);     // sign bit on the right wheel only
            motor_drive(98, 108);     // both at 126, just below the clamp
            motor_drive(-100, 1000);  // clamped after the offset
            motor_send_frame2(148, 30);
            device_motor_close();
            motor_drive(60, 60);  // closed: lost
            if (device_motor_open() != 0) {
                return 3;
            }
            motor_drive(-127, -127);
            motor_halt();
            motor_drive(20, 20);  // after the stop frame nothing more goes out
            motor_send_frame2(1, 1);
            printf("halted=%d\n", motor_halted());
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);
    // Only the two opens print; the lost frames leave no trace on the console.
    EXPECT_TRUE(
        std::regex_match(r.output, std::regex("fd_motor=[0-9]+\nfd_motor=[0-9]+\nhalted=1\n")))
        << r.output;

    const std::vector<uint8_t> wire = emu_drain(motor, 200, kExchangeTimeoutMs);
    const std::vector<uint8_t> expected = {
        0,   0,   0,   0,    // 0, 0
        29,  19,  19,  19,   // 1, 1
        157, 0,   0,   0,    // -1, 0
        78,  196, 196, 196,  // 50, -50
        126, 126, 126, 126,  // 98, 108
        255, 127, 127, 127,  // -100, 1000
        148, 30,             // two-byte frame as given
        255, 255, 255, 255,  // -127, -127 after reopening
        0,   0,   0,   0,    // stop frame
    };
    EXPECT_EQ(wire, expected);
    close(motor);
}

// ---------------------------------------------------------------------------

// The speed loop with no wheel turning: the error of a 20 cm/s reference piles
// up until the left wheel's command sits at the clamp. vel_ctrl_reset must
// clear that pile, so a fresh 20 cm/s starts from a moderate command; and
// vel_ctrl_cancel reports whether it ended a loop. (Left at the clamp for
// half a second, the wheel would count as stalled: the reset comes first.)
TEST(DriveDeviceSpeedLoop, ResetClearsTheAccumulatedErrorAndCancelReports) {
    emu_device_dir devices;
    const int motor = emu_fifo_node(devices, "motor_dev");
    ASSERT_GE(motor, 0);
    const emu_child_result r = emu_run_func(
        [motor] {
            if (device_motor_open() != 0) {
                return 2;
            }
            vel_ctrl_set(20, 20);
            vel_ctrl_create();
            // Frame by frame until the left command sits at the clamp; then at
            // once, long before a wheel that still does not turn counts as
            // stalled, the reset.
            int piled = -1;
            for (int frame = 0; frame < 200 && piled != 127; ++frame) {
                const std::vector<uint8_t> one = emu_read_bytes(motor, 4, kExchangeTimeoutMs);
                piled = one.size() == 4 ? one[0] : -1;
            }
            vel_ctrl_reset();
            vel_ctrl_set(20, 20);
            // Frames of a period that began before the reset may still come.
            usleep(60000);
            emu_drain(motor, 0, kExchangeTimeoutMs);
            const std::vector<uint8_t> wire = emu_read_bytes(motor, 4, kExchangeTimeoutMs);
            const int fresh = wire.size() == 4 ? wire[0] : -1;
            const int cancelled = vel_ctrl_cancel();
            const int again = vel_ctrl_cancel();
            printf("left byte piled=%d fresh=%d cancel=%d again=%d\n", piled, fresh, cancelled,
                   again);
            device_motor_close();
            return 0;
        },
        kChildTimeoutMs);
    expect_clean_exit(r);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m,
                                  std::regex("piled=(-?[0-9]+) fresh=(-?[0-9]+) "
                                             "cancel=(-?[0-9]+) again=(-?[0-9]+)\n")))
        << r.output;
    EXPECT_EQ(std::stoi(m[1].str()), 127) << r.output;
    // 20 cm/s from a cleared error: about 40 units plus the dead-band offset.
    EXPECT_GT(std::stoi(m[2].str()), 0) << r.output;
    EXPECT_LT(std::stoi(m[2].str()), 100) << r.output;
    EXPECT_EQ(std::stoi(m[3].str()), 0) << r.output;
    EXPECT_NE(std::stoi(m[4].str()), 0) << r.output;
    close(motor);
}

}  // namespace
