#include "drive/encoder.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "drive/calibration.h"
#include "drive/device.h"
#include "drive/rt_thread.h"

namespace {

std::atomic<int32_t> encoder_left{0};
std::atomic<int32_t> encoder_right{0};
std::atomic<int32_t> encoder_left_sum{0};
std::atomic<int32_t> encoder_right_sum{0};

rt_worker sampler;
std::atomic<bool> sampler_running{false};

// Held by the sampler while it publishes one period and by a reset, so a reset
// lands before or after a period, never between its two wheels: otherwise one
// sum would start again from 0 and the other keep a stray period. Never held
// across a device call, so a driver that blocks cannot hold up a reset.
// encoder_get takes no lock (a copy may mix two periods, which every reader
// of it tolerates); encoder_wait copies under it, so the loops get whole samples.
std::mutex publish_lock;
// Never destroyed: a program may end with exit() while the sampler still
// runs (a range query on a port that did not open ends the process), and a
// condition variable destroyed under a thread that uses it is undefined.
std::condition_variable& published = *new std::condition_variable;
uint32_t samples = 0;  // completed exchanges; under publish_lock
std::atomic<uint32_t> samples_seen{0};

void clear_values() {
    encoder_left_sum.store(0, std::memory_order_relaxed);
    encoder_right_sum.store(0, std::memory_order_relaxed);
    encoder_left.store(0, std::memory_order_relaxed);
    encoder_right.store(0, std::memory_order_relaxed);
}

void copy_values(wheel_counts* out) {
    out->left = encoder_left.load(std::memory_order_relaxed);
    out->right = encoder_right.load(std::memory_order_relaxed);
    out->left_sum = encoder_left_sum.load(std::memory_order_relaxed);
    out->right_sum = encoder_right_sum.load(std::memory_order_relaxed);
}

// Reads the two reply bytes, however long the driver takes to give them: a
// reply is never given up, so a late byte can never be taken for the first
// byte of the next reply, and the replies stay in step with the requests.
// Whether the encoder is still answering is the speed loop's judgement (it
// counts the periods without a completed exchange). False when the sampler
// is being ended (the stop interrupts the read) or the device fails.
bool read_reply(int fd, uint8_t reply[2]) {
    std::size_t got = 0;
    while (got < 2) {
        const ssize_t n = read(fd, reply + got, 2 - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR && !rt_worker_stopping(sampler)) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

void send_request(int fd) {
    // The request byte's value means nothing to the device.
    const uint8_t request = 0;
    ssize_t n = write(fd, &request, 1);
    (void)n;
}

void publish(const encoder_increments& inc) {
    {
        const std::lock_guard<std::mutex> publishing(publish_lock);
        encoder_left.store(inc.left, std::memory_order_relaxed);
        // Adding atomically (not load + store) keeps the sums whole for the
        // lock-free readers too.
        encoder_left_sum.fetch_add(inc.left, std::memory_order_relaxed);
        encoder_right_sum.fetch_add(inc.right, std::memory_order_relaxed);
        encoder_right.store(inc.right, std::memory_order_relaxed);
        ++samples;
        samples_seen.store(samples, std::memory_order_relaxed);
    }
    published.notify_all();
}

void* encoder_read(void*) {
    rt_worker_interruptible();
    int fd = device_encoder_get();
    send_request(fd);
    while (!rt_worker_stopping(sampler)) {
        uint8_t reply[2] = {0, 0};
        if (!read_reply(fd, reply)) {
            if (rt_worker_stopping(sampler)) {
                break;
            }
            // The device failed (end of file, an error): nothing to publish.
            // Ask again a period later rather than spin on a dead node.
            usleep(DRIVE_PERIOD_US);
            send_request(fd);
            continue;
        }
        // Ask for the next period at once, so the device counts it while this
        // one is being published.
        send_request(fd);
        publish(encoder_decode(reply[0], reply[1]));
        usleep(DRIVE_PERIOD_US);
    }
    return nullptr;
}

}  // namespace

encoder_increments encoder_decode(uint8_t byte0, uint8_t byte1) {
    // The device counts the right wheel the other way round.
    return {static_cast<int8_t>(byte0), -static_cast<int32_t>(static_cast<int8_t>(byte1))};
}

void encoder_create() {
    // Two samplers on one device would split the replies between them, so a
    // second create replaces the running sampler instead of adding one.
    encoder_stop();
    {
        const std::lock_guard<std::mutex> resetting(publish_lock);
        clear_values();
    }
    sampler_running.store(rt_worker_start(&sampler, encoder_read, "policy") == 0,
                          std::memory_order_relaxed);
    printf("thread_id=%d\n", rt_thread_id_value(sampler.handle));
}

void encoder_get(wheel_counts* out) {
    copy_values(out);
}

void encoder_reset() {
    const std::lock_guard<std::mutex> resetting(publish_lock);
    clear_values();
}

void encoder_stop() {
    sampler_running.store(false, std::memory_order_relaxed);
    rt_worker_stop_interrupting(&sampler);
    // Wakes a loop waiting for a sample that will not come now.
    published.notify_all();
}

bool encoder_running() {
    return sampler_running.load(std::memory_order_relaxed);
}

uint32_t encoder_samples() {
    return samples_seen.load(std::memory_order_relaxed);
}

uint32_t encoder_wait(uint32_t seen, const timespec& deadline, wheel_counts* out) {
    using clock = std::chrono::steady_clock;
    const clock::time_point until{std::chrono::seconds(deadline.tv_sec) +
                                  std::chrono::nanoseconds(deadline.tv_nsec)};
    std::unique_lock<std::mutex> waiting(publish_lock);
    published.wait_until(waiting, until, [seen] {
        return samples != seen || !sampler_running.load(std::memory_order_relaxed);
    });
    copy_values(out);
    return samples;
}
