#include "sensors/uss_serial.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr long REPLY_WAIT_US = 50000;  // one byte of the board's answer
constexpr int READ_FAILED = 255;       // see the header: reads as "no reading"

// Time left until deadline as a timeval, never negative.
timeval remaining(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    long us = left.count() > 0 ? static_cast<long>(left.count()) : 0;
    timeval tv{};
    tv.tv_sec = us / 1000000;
    tv.tv_usec = us % 1000000;
    return tv;
}

}  // namespace

int uss_set_serial_port(int fd, struct termios* saved) {
    tcgetattr(fd, saved);

    // Built from zero so nothing of an earlier owner's settings (echo,
    // canonical mode, CR/LF mapping) can alter the binary reply.
    struct termios settings;
    std::memset(&settings, 0, sizeof settings);
    settings.c_iflag = IGNPAR;
    settings.c_oflag = 0;
    settings.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
    settings.c_lflag = 0;
    settings.c_line = 0;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;

    // A late answer to the previous query must not be read as this one's.
    tcflush(fd, TCIFLUSH);
    tcsetattr(fd, TCSANOW, &settings);
    return 0;
}

int uss_put_serial_string(int fd, const char* text) {
    size_t length = std::strlen(text);
    ssize_t written = write(fd, text, length);
    return written == static_cast<ssize_t>(length) ? 0 : -1;
}

int uss_put_serial_char(int fd, char c) {
    return write(fd, &c, 1) == 1 ? 0 : -1;
}

int uss_get_serial_char(int fd) {
    int c = uss_wait_serial_char(fd);
    return c == USS_SERIAL_TIMEOUT ? 0 : c;
}

int uss_wait_serial_char(int fd) {
    // FD_SET on a descriptor outside the set would write past it.
    if (fd < 0 || fd >= FD_SETSIZE) {
        return READ_FAILED;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(REPLY_WAIT_US);
    int ready;
    do {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait = remaining(deadline);
        ready = select(fd + 1, &readable, nullptr, nullptr, &wait);
    } while (ready < 0 && errno == EINTR);

    if (ready == 0) {
        return USS_SERIAL_TIMEOUT;
    }
    if (ready < 0) {
        return READ_FAILED;
    }
    unsigned char byte = 0;
    if (read(fd, &byte, 1) != 1) {
        return READ_FAILED;
    }
    return byte;
}

int uss_close_serial_port(int fd, const struct termios* settings) {
    tcsetattr(fd, TCSANOW, settings);
    return close(fd);
}
