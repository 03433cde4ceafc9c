#include "drive/motor.h"

#include <pthread.h>

#include <atomic>

#include "drive/device.h"

namespace {

// Every frame goes out under this lock, and the halted flag is checked under
// it: once motor_halt has written its stop frame no thread can slip a command
// in behind it, even one that was between computing and writing. The lock is
// uncontended in normal running (one writer per period), so it costs nothing
// noticeable. A plain pthread mutex has no destructor, so a worker still
// writing while the process exits finds it intact. The device registry's own
// motor lock is only ever taken inside this one, never the other way round.
pthread_mutex_t write_lock = PTHREAD_MUTEX_INITIALIZER;
bool halted = false;     // guarded by write_lock
bool suspended = false;  // guarded by write_lock: a job-control stop is in force
// Set by both halts; the crash path cannot take the lock, so writers check it
// too, right before their write.
std::atomic<int> halted_seen{0};

const uint8_t stop_frame[MOTOR_HALT_FRAME_SIZE] = {0, 0, 0, 0};

void write_frame(const uint8_t* frame, std::size_t size) {
    pthread_mutex_lock(&write_lock);
    if (!halted && !suspended && halted_seen.load(std::memory_order_relaxed) == 0) {
        // Not checked: a lost command leaves the motors at the previous one,
        // and the next period sends a fresh frame anyway.
        ssize_t n = device_motor_write(frame, size);
        (void)n;
    }
    pthread_mutex_unlock(&write_lock);
}

}  // namespace

uint8_t motor_command_byte(int command, int dead_band) {
    // Widened first so that adding the offset to a huge command cannot overflow.
    long long v = command;
    if (v > 0) {
        v += dead_band;
    } else if (v < 0) {
        v -= dead_band;
    }
    if (v > 127) {
        v = 127;
    } else if (v < -127) {
        v = -127;
    }
    return static_cast<uint8_t>(v < 0 ? 128 - v : v);
}

void motor_frame4(int left, int right, uint8_t frame[4]) {
    frame[0] = motor_command_byte(left, MOTOR_LEFT_DEAD_BAND);
    frame[1] = motor_command_byte(right, MOTOR_RIGHT_DEAD_BAND);
    frame[2] = frame[1];
    frame[3] = frame[1];
}

void motor_drive(int left, int right) {
    uint8_t frame[4];
    motor_frame4(left, right, frame);
    write_frame(frame, sizeof frame);
}

void motor_send_frame2(uint8_t left, uint8_t right) {
    const uint8_t frame[2] = {left, right};
    write_frame(frame, sizeof frame);
}

void motor_halt() {
    pthread_mutex_lock(&write_lock);
    if (!halted) {
        ssize_t n = device_motor_write(stop_frame, sizeof stop_frame);
        (void)n;
        halted = true;
        halted_seen.store(1, std::memory_order_relaxed);
    }
    pthread_mutex_unlock(&write_lock);
}

void motor_halt_from_signal() {
    // Writers are shut out first, so one that is about to write sees the flag;
    // the frame goes out even when an earlier halt sent one (the driver may
    // have been written to since by a crashed thread's last act).
    halted_seen.store(1, std::memory_order_relaxed);
    ssize_t n = device_motor_write_unlocked(stop_frame, sizeof stop_frame);
    (void)n;
}

void motor_suspend() {
    pthread_mutex_lock(&write_lock);
    if (!halted && !suspended) {
        ssize_t n = device_motor_write(stop_frame, sizeof stop_frame);
        (void)n;
    }
    suspended = true;
    pthread_mutex_unlock(&write_lock);
}

void motor_resume() {
    pthread_mutex_lock(&write_lock);
    suspended = false;
    pthread_mutex_unlock(&write_lock);
}

int motor_halted() {
    return halted_seen.load(std::memory_order_relaxed);
}
