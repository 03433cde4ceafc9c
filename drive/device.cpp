#include "drive/device.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

// The device table gives the open flags by value as the robot's i386 kernel
// has them; the same values hold on x86-64, so a build here opens the nodes
// exactly as the robot does.
static_assert(O_RDWR == 2, "read-write open flag");
static_assert((O_RDWR | O_NOCTTY | O_NONBLOCK) == 0x902, "serial port open flags");

// 0 until opened, the descriptor after an open, -1 after a failed one. Written
// on the main thread before the workers start, then only read; atomics so that
// a late reopen from a test or tool is still not a data race.
std::atomic<int> fd_encoder{0};
std::atomic<int> fd_motor{0};
std::atomic<int> fd_uss{0};
std::atomic<int> fd_io{0};

// The motor handle is the one used from several threads at once: the speed
// loop, the canceller and the signal watcher's safety stop, which exists
// before the devices are opened and may fire while they are being closed.
// Its open, close, every frame written to it and every change of the gate go
// under this lock, so a frame never meets a descriptor half opened or already
// closed (the number of a closed descriptor may by then belong to another
// file), and none can slip in behind the stop frame that shuts the gate, even
// one that was between computing and writing. The lock is uncontended in
// normal running (one writer per period). A plain pthread mutex has no
// destructor, so a worker still writing while the process exits finds it
// intact.
pthread_mutex_t motor_lock = PTHREAD_MUTEX_INITIALIZER;
// Changed under motor_lock, except by the crash path, which cannot take a
// lock; so every change is one atomic read-modify-write. The handle value
// itself stays after a close.
std::atomic<unsigned> motor_gate{0};

// The handle is stored before anything is printed, so the line shows exactly
// what later users of the handle will get.
int report_open(int fd, const char* line, const char* failure) {
    printf(line, fd);
    if (fd == -1) {
        printf("%s", failure);
        return -1;
    }
    return 0;
}

int open_node(const char* name, int flags, std::atomic<int>* handle, const char* line,
              const char* failure) {
    handle->store(open(device_node_path(name).c_str(), flags), std::memory_order_relaxed);
    return report_open(handle->load(std::memory_order_relaxed), line, failure);
}

int close_node(const std::atomic<int>& handle) {
    // The value is kept, as users of the handle expect. A handle that was
    // never opened holds 0, which is standard input, not a device: leave it.
    int fd = handle.load(std::memory_order_relaxed);
    if (fd > 0) {
        close(fd);
    }
    return 0;
}

}  // namespace

std::string device_node_path(const char* name) {
    const char* dir = getenv("TAVI_DEVICE_DIR");
    if (dir != nullptr && dir[0] != '\0') {
        // A robot with the variable left set would drive emulated nodes while
        // its real motors keep the last command: say so, once, off the transcript.
        static std::atomic<bool> announced{false};
        if (!announced.exchange(true)) {
            fprintf(stderr, "TAVI_DEVICE_DIR is set: device nodes are taken from %s, not /dev\n",
                    dir);
        }
        return std::string(dir) + "/" + name;
    }
    return std::string("/dev/") + name;
}

void device_std_streams_reserve() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number is this one, as all below it are open.
            const int got = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (got != fd && got >= 0) {
                close(got);  // cannot happen unless another thread opened one meanwhile
            }
        }
    }
}

int device_encoder_open() {
    return open_node("encoder_dev", O_RDWR, &fd_encoder, "fd_encoder=%d\n",
                     "encoder_dev can't open !!!\n");
}

int device_motor_open() {
    pthread_mutex_lock(&motor_lock);
    fd_motor.store(open(device_node_path("motor_dev").c_str(), O_RDWR), std::memory_order_relaxed);
    motor_gate.fetch_and(~DEVICE_MOTOR_CLOSED, std::memory_order_relaxed);
    int fd = fd_motor.load(std::memory_order_relaxed);
    pthread_mutex_unlock(&motor_lock);
    return report_open(fd, "fd_motor=%d\n", "motor_dev can't open !!!\n");
}

int device_uss_open() {
    // Non-blocking and never the controlling terminal: the ranging code
    // waits with select itself, and a serial line must not hang up the program.
    return open_node("ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK, &fd_uss, "fd_uss=%d\n",
                     "uss_dev can't open !!!\n");
}

int device_io_open() {
    return open_node("io_dev", O_RDONLY, &fd_io, "fd_io=%d\n", "io device can't open !!!\n");
}

int device_encoder_get() {
    return fd_encoder.load(std::memory_order_relaxed);
}
int device_motor_get() {
    return fd_motor.load(std::memory_order_relaxed);
}
int device_uss_get() {
    return fd_uss.load(std::memory_order_relaxed);
}
int device_io_get() {
    return fd_io.load(std::memory_order_relaxed);
}

int device_encoder_close() {
    return close_node(fd_encoder);
}
int device_motor_close() {
    pthread_mutex_lock(&motor_lock);
    close_node(fd_motor);
    motor_gate.fetch_or(DEVICE_MOTOR_CLOSED, std::memory_order_relaxed);
    pthread_mutex_unlock(&motor_lock);
    return 0;
}

ssize_t device_motor_write(const void* bytes, std::size_t size, unsigned unless, unsigned shut) {
    ssize_t n = -1;
    pthread_mutex_lock(&motor_lock);
    const int fd = fd_motor.load(std::memory_order_relaxed);
    // Not yet opened (0 is standard input) or closed: the frame is lost, as
    // it would be on a failed open.
    const unsigned gate =
        motor_gate.load(std::memory_order_relaxed) & (unless | DEVICE_MOTOR_CLOSED);
    if (fd > 0 && gate == 0) {
        n = write(fd, bytes, size);
    }
    motor_gate.fetch_or(shut, std::memory_order_relaxed);
    pthread_mutex_unlock(&motor_lock);
    return n;
}

ssize_t device_motor_write_from_signal(const void* bytes, std::size_t size, unsigned shut) {
    // Writers are shut out first, so one that is about to write sees the bit.
    const unsigned gate = motor_gate.fetch_or(shut, std::memory_order_relaxed);
    const int fd = fd_motor.load(std::memory_order_relaxed);
    if (fd <= 0 || (gate & DEVICE_MOTOR_CLOSED) != 0) {
        return -1;
    }
    return write(fd, bytes, size);
}

void device_motor_gate_lift(unsigned bits) {
    pthread_mutex_lock(&motor_lock);
    motor_gate.fetch_and(~bits, std::memory_order_relaxed);
    pthread_mutex_unlock(&motor_lock);
}

unsigned device_motor_gate() {
    return motor_gate.load(std::memory_order_relaxed);
}
int device_uss_close() {
    return close_node(fd_uss);
}
int device_io_close() {
    return close_node(fd_io);
}
