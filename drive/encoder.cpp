#include "drive/encoder.h"

#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "drive/calibration.h"
#include "drive/device.h"
#include "drive/rt_thread.h"

namespace {

// How long one wait for a reply lasts before the stop flag is looked at again
// (the whole wait is bounded by DRIVE_REPLY_DEADLINE_MS).
constexpr int REPLY_POLL_MS = 20;

std::atomic<int32_t> encoder_left{0};
std::atomic<int32_t> encoder_right{0};
std::atomic<int32_t> encoder_left_sum{0};
std::atomic<int32_t> encoder_right_sum{0};
// Whether the last published period came from a complete reply. True until
// a reply is missed, so a loop that runs without a sampler sees no fault.
std::atomic<bool> fresh{true};

rt_worker sampler;

// Held by the sampler while it publishes one period and by a reset, so a reset
// lands before or after a period, never between its two wheels: otherwise one
// sum would start again from 0 and the other keep a stray period. Readers take
// no lock; a copy may still mix two periods, which every reader tolerates.
std::mutex publish_lock;

void clear_values() {
    encoder_left_sum.store(0, std::memory_order_relaxed);
    encoder_right_sum.store(0, std::memory_order_relaxed);
    encoder_left.store(0, std::memory_order_relaxed);
    encoder_right.store(0, std::memory_order_relaxed);
}

long long now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Drops whatever the device sent after a reply was given up on, so a late
// second byte is never read as the first byte of the next reply.
void drain(int fd) {
    uint8_t junk[16];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 0) > 0 && read(fd, junk, sizeof junk) > 0) {
    }
}

enum class reply_result { complete, missing, stopping };

// Waits for the two reply bytes, at most DRIVE_REPLY_DEADLINE_MS. A reply
// that is incomplete (read error, end of file, a lone byte, or no answer in
// time) is dropped so that the period counts nothing rather than a value
// made of half a reply, and the period is published as stale.
reply_result read_reply(int fd, uint8_t reply[2]) {
    std::size_t got = 0;
    const long long deadline = now_ms() + DRIVE_REPLY_DEADLINE_MS;
    while (got < 2) {
        const long long left = deadline - now_ms();
        if (left <= 0) {
            drain(fd);
            return reply_result::missing;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left < REPLY_POLL_MS ? left : REPLY_POLL_MS));
        if (rt_worker_stopping(sampler)) {
            return reply_result::stopping;
        }
        if (ready == 0) {
            continue;  // the device has not answered yet
        }
        if (ready < 0) {
            // Interrupted, or the wait itself failed: wait again. A read now
            // could block for good, and the stop above would never be seen.
            if (errno != EINTR) {
                usleep(static_cast<useconds_t>(left < REPLY_POLL_MS ? left : REPLY_POLL_MS) * 1000);
            }
            continue;
        }
        ssize_t n = read(fd, reply + got, 2 - got);
        if (n <= 0) {
            return reply_result::missing;
        }
        got += static_cast<std::size_t>(n);
    }
    return reply_result::complete;
}

void send_request(int fd) {
    // The request byte's value means nothing to the device.
    const uint8_t request = 0;
    ssize_t n = write(fd, &request, 1);
    (void)n;
}

void* encoder_read(void*) {
    int fd = device_encoder_get();
    send_request(fd);
    while (!rt_worker_stopping(sampler)) {
        uint8_t reply[2] = {0, 0};
        const reply_result r = read_reply(fd, reply);
        if (r == reply_result::stopping) {
            break;
        }
        const bool complete = r == reply_result::complete;
        encoder_increments inc =
            complete ? encoder_decode(reply[0], reply[1]) : encoder_increments{};
        std::unique_lock<std::mutex> publishing(publish_lock);
        encoder_left.store(inc.left, std::memory_order_relaxed);
        // Ask for the next period at once, so the device counts it while this
        // one is being published.
        send_request(fd);
        // Adding atomically (not load + store) means a reset from another
        // thread is never overwritten by a sum computed before it.
        encoder_left_sum.fetch_add(inc.left, std::memory_order_relaxed);
        encoder_right_sum.fetch_add(inc.right, std::memory_order_relaxed);
        encoder_right.store(inc.right, std::memory_order_relaxed);
        fresh.store(complete, std::memory_order_relaxed);
        publishing.unlock();
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
    clear_values();
    fresh.store(true, std::memory_order_relaxed);
    rt_worker_start(&sampler, encoder_read, "policy");
    printf("thread_id=%d\n", rt_thread_id_value(sampler.handle));
}

void encoder_get(wheel_counts* out) {
    out->left = encoder_left.load(std::memory_order_relaxed);
    out->right = encoder_right.load(std::memory_order_relaxed);
    out->left_sum = encoder_left_sum.load(std::memory_order_relaxed);
    out->right_sum = encoder_right_sum.load(std::memory_order_relaxed);
}

bool encoder_fresh() {
    return fresh.load(std::memory_order_relaxed);
}

void encoder_reset() {
    const std::lock_guard<std::mutex> resetting(publish_lock);
    clear_values();
}

void encoder_stop() {
    rt_worker_stop(&sampler);
}
