// The worker loops run every 19 ms for as long as a program runs; a heap
// allocation in one of them is a lock and an unbounded delay in the middle of
// a period. These tests count allocations with the malloc replacement of
// alloc_counter.cpp: first that the counter sees what it must, then the
// per-period arithmetic and the running threads over many periods.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "drive/device.h"
#include "drive/distance.h"
#include "drive/encoder.h"
#include "drive/motor.h"
#include "drive/run_ctrl.h"
#include "drive/vel_ctrl.h"
#include "tests/drive/alloc_counter.h"
#include "tests/support/emulated_devices.h"

namespace {

constexpr int kPeriodMs = 19;
// Periods the threads are watched for.
constexpr int kWatchedPeriods = 100;

// Keeps the compiler from eliding an allocation whose block it can see unused.
std::atomic<void*> escaped{nullptr};
void* escape(void* p) {
    escaped.store(p, std::memory_order_relaxed);
    return p;
}

// The counter is the instrument of the two tests below: it must count
// allocations on threads it was not told about, of every kind, and leave out
// the threads that opted out.
TEST(AllocCounter, CountsOtherThreadsAndSkipsExcludedOnes) {
    std::atomic<bool> go{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!go.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        int* one = static_cast<int*>(escape(new int(7)));
        void* block = escape(std::malloc(64));
        void* zeroed = escape(std::calloc(4, 16));
        std::string text(200, 'x');  // beyond the short-string buffer
        std::vector<int> numbers(50, *one);
        escape(&text[0]);
        escape(numbers.data());
        std::free(zeroed);
        std::free(block);
        delete one;
        done.store(text.size() + numbers.size() > 0);
    });

    alloc_counter_exclude_this_thread(true);
    alloc_counter_arm();
    go.store(true);
    std::vector<std::string> mine(10, std::string(300, 'y'));  // excluded: not counted
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const long counted = alloc_counter_disarm();
    alloc_counter_exclude_this_thread(false);
    worker.join();

    EXPECT_EQ(counted, 5) << "new, malloc, calloc, string, vector on the worker thread";
    EXPECT_EQ(alloc_counter_first_size(), sizeof(int));
    EXPECT_EQ(mine.size(), 10u);

    // Disarmed, nothing is counted, on any thread.
    alloc_counter_arm();
    EXPECT_EQ(alloc_counter_disarm(), 0);
    std::vector<int> after(100, 1);
    alloc_counter_arm();
    EXPECT_EQ(alloc_counter_disarm(), 0);
    EXPECT_EQ(after.size(), 100u);
}

// What the three loops compute each period, with no thread or device: many
// periods of every move mode, with the speed loop fed the counts a moving
// robot would give.
TEST(WorkerAllocations, PerPeriodArithmeticAllocatesNothing) {
    constexpr int kPeriods = 5000;
    vel_ctrl_state vel{};
    run_ctrl_balance balance{0.0f, 0.0f};
    int commands_seen = 0;
    int actions_seen = 0;
    uint8_t frame[4] = {0, 0, 0, 0};

    alloc_counter_arm();
    for (int i = 0; i < kPeriods; ++i) {
        const encoder_increments inc =
            encoder_decode(static_cast<uint8_t>(i % 13), static_cast<uint8_t>(256 - i % 11));
        const distance_pair d = distance_from_sums(i * 9, i * 10);
        const float speed = i % 7 == 0 ? -15.0f : 20.0f;
        const run_ctrl_inputs in{.left = d.left,
                                 .right = d.right,
                                 .mode = static_cast<int32_t>(i % 4),
                                 .speed = speed,
                                 .dist = 4000.0f,
                                 .dist_flag = 1,
                                 .kfr = 0.3f};
        const run_ctrl_action a = run_ctrl_step(in, &balance);
        const vel_ctrl_refs refs{a.set_left + a.mod_left, a.set_right + a.mod_right, a.set_left,
                                 a.set_right};
        const vel_ctrl_output out = vel_ctrl_step(&vel, inc.left, inc.right, refs);
        motor_frame4(out.command_l, out.command_r, frame);
        commands_seen += out.command_l != 0 || out.command_r != 0;
        actions_seen += a.set || a.mod;
    }
    const long counted = alloc_counter_disarm();

    EXPECT_EQ(counted, 0) << "first allocation: " << alloc_counter_first_size() << " bytes";
    // The loop really exercised the controllers, not only their stopped paths.
    EXPECT_GT(commands_seen, kPeriods / 2);
    EXPECT_GT(actions_seen, kPeriods / 2);
}

// The sampler, the speed loop and the run controller as they run in a
// program, against emulated nodes: the encoder answers every request with
// uneven wheel counts (so the balance correction works every period) and the
// motor node collects the frames.
TEST(WorkerAllocations, RunningLoopsAllocateNothingOverManyPeriods) {
    emu_device_dir devices;
    const int motor = emu_fifo_node(devices, "motor_dev");
    ASSERT_GE(motor, 0);
    emu_pty encoder = emu_pty_node(devices, "encoder_dev", 2);
    ASSERT_GE(encoder.master, 0);
    // Replies for the warm-up, the watched periods and the shutdown; device
    // right is negated. The robot sees left 10 counts a period and right 10,
    // or 9 in four periods of 25: 9.84 on average, what the smaller left
    // wheel's 10 counts are worth. So the two distances stay within a few
    // counts of each other, as on a robot whose wheels follow their commands,
    // and the balance correction works every period (a wheel ahead for good
    // would have the correction drive it backwards, and the supervisor stop it).
    std::vector<uint8_t> replies;
    for (int i = 0; i < 3 * kWatchedPeriods; ++i) {
        replies.push_back(10);
        replies.push_back(static_cast<uint8_t>(i % 25 % 6 == 0 && i % 25 < 24 ? -9 : -10));
    }
    ASSERT_TRUE(emu_write_bytes(encoder.master, replies, 2000));

    int opened = -1;
    emu_capture_stdout([&] {
        opened = device_encoder_open() + device_motor_open();
        encoder_create();
        vel_ctrl_create();
        run_ctrl_set(RUN_STRAIGHT, 20.0f);
        run_ctrl_set_dist(100000.0f);
        run_ctrl_create();
    });
    ASSERT_EQ(opened, 0);

    // Warm-up: every loop past its first periods before counting starts.
    alloc_counter_exclude_this_thread(true);
    EXPECT_GE(emu_read_bytes(motor, 4 * 5, 2000).size(), 4u * 5);
    emu_drain(motor, 0, 10);
    distance_pair before;
    distance_get(&before);

    alloc_counter_arm();
    std::this_thread::sleep_for(std::chrono::milliseconds(kWatchedPeriods * kPeriodMs));
    const long counted = alloc_counter_disarm();

    distance_pair after;
    distance_get(&after);
    // A read between the run controller's set and its correction sees the
    // base speed in use, so read until a correction shows.
    vel_ctrl_refs refs{};
    const bool corrected = emu_wait_until(
        [&] {
            vel_ctrl_get_refs(&refs);
            return refs.left_org == 20.0f && refs.left != refs.left_org;
        },
        500);
    const std::size_t frame_bytes = emu_drain(motor, 0, 10).size();
    const int move_ended = run_ctrl_get_endflag();
    emu_capture_stdout([] {
        run_ctrl_cancel();
        vel_ctrl_cancel();
        encoder_stop();
    });
    device_encoder_close();
    device_motor_close();
    emu_pty_close(&encoder);
    close(motor);
    alloc_counter_exclude_this_thread(false);

    EXPECT_EQ(counted, 0) << "first allocation: " << alloc_counter_first_size() << " bytes";
    // Evidence that all three loops ran through the watched time. Speed loop:
    // a frame a period (half of them would do on a loaded machine).
    const std::size_t frames = frame_bytes / 4;
    EXPECT_GE(frames, static_cast<std::size_t>(kWatchedPeriods / 2)) << frame_bytes << " bytes";
    // Sampler: 10 counts a period on the left wheel, a little over 0.38 cm.
    const double cm_per_period = 0.38;
    EXPECT_GE(after.left - before.left, kWatchedPeriods / 2 * cm_per_period);
    // Run controller: the balance correction moves the left wheel's
    // reference off the base speed.
    EXPECT_TRUE(corrected) << "in use " << refs.left << ", base " << refs.left_org;
    EXPECT_EQ(move_ended, 0);
    std::printf("worker loops: %ld heap allocations in %d ms (%zu motor frames)\n", counted,
                kWatchedPeriods * kPeriodMs, frames);
}

}  // namespace
