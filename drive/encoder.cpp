#include "drive/encoder.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "drive/calibration.h"
#include "drive/device.h"
#include "drive/rt_thread.h"

namespace {

// How long one wait for a reply lasts before the stop flag is looked at again.
constexpr int REPLY_POLL_MS = 20;

std::atomic<int32_t> encoder_left{0};
std::atomic<int32_t> encoder_right{0};
std::atomic<int32_t> encoder_left_sum{0};
std::atomic<int32_t> encoder_right_sum{0};

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

// Waits for the two reply bytes. A reply that is incomplete (read error, end of
// file, or a lone byte) is dropped so that the period counts nothing rather
// than a value made of half a reply. Returns false only when asked to stop.
bool read_reply(int fd, uint8_t reply[2], bool* complete) {
    std::size_t got = 0;
    *complete = false;
    while (got < 2) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, REPLY_POLL_MS);
        if (rt_worker_stopping(sampler)) {
            return false;
        }
        if (ready == 0) {
            continue;  // the device has not answered yet
        }
        if (ready < 0) {
            // Interrupted, or the wait itself failed: wait again. A read now
            // could block for good, and the stop above would never be seen.
            if (errno != EINTR) {
                usleep(REPLY_POLL_MS * 1000);
            }
            continue;
        }
        ssize_t n = read(fd, reply + got, 2 - got);
        if (n <= 0) {
            return true;
        }
        got += static_cast<std::size_t>(n);
    }
    *complete = true;
    return true;
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
        bool complete = false;
        if (!read_reply(fd, reply, &complete)) {
            break;
        }
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
    rt_worker_start(&sampler, encoder_read, "policy");
    printf("thread_id=%d\n", rt_thread_id_value(sampler.handle));
}

void encoder_get(wheel_counts* out) {
    out->left = encoder_left.load(std::memory_order_relaxed);
    out->right = encoder_right.load(std::memory_order_relaxed);
    out->left_sum = encoder_left_sum.load(std::memory_order_relaxed);
    out->right_sum = encoder_right_sum.load(std::memory_order_relaxed);
}

void encoder_reset() {
    const std::lock_guard<std::mutex> resetting(publish_lock);
    clear_values();
}

void encoder_stop() {
    rt_worker_stop(&sampler);
}
