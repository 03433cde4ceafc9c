#include "sensors/uss.h"

#include <termios.h>

#include <cstdlib>

#include "drive/device.h"
#include "drive/motor.h"
#include "sensors/uss_serial.h"

namespace {

constexpr int FIRST_CHANNEL = 1;
constexpr int LAST_CHANNEL = 4;
constexpr int NO_READING_HIGH = 255;  // high byte the board sends for "no reading"
constexpr int SENSOR_BASE_CM = 20;    // the board counts from the transducer face

// The handle used by the query in progress; fetched afresh every time.
int fd0 = 0;

// Whether the last query on a valid channel got both reply bytes.
bool last_answered = false;

// Mounting corrections per channel, added to every result of that channel.
constexpr int channel_offset_cm[LAST_CHANNEL] = {0, 0, 0, 0};

}  // namespace

int uss_get(int channel) {
    if (channel < FIRST_CHANNEL || channel > LAST_CHANNEL) {
        return -1;
    }
    fd0 = device_uss_get();
    if (fd0 <= 0) {
        // Without the board nothing can be aligned, so the program ends here.
        // The wheels may be under command, so they are stopped first.
        if (device_motor_get() > 0) {
            motor_halt();
        }
        std::exit(-1);
    }

    struct termios previous;
    uss_set_serial_port(fd0, &previous);
    return uss_query(fd0, channel, uss_wait_serial_char);
}

int uss_query(int fd, int channel, int (*wait_byte)(int fd)) {
    if (channel < FIRST_CHANNEL || channel > LAST_CHANNEL) {
        return -1;
    }
    // The board takes the channel number itself as the request byte.
    const char request[2] = {static_cast<char>(channel), '\0'};
    uss_put_serial_string(fd, request);
    int low = wait_byte(fd);
    int high = wait_byte(fd);
    last_answered = low != USS_SERIAL_TIMEOUT && high != USS_SERIAL_TIMEOUT;
    // A byte that never came counts as 0, as the board's protocol reads it.
    low = low == USS_SERIAL_TIMEOUT ? 0 : low;
    high = high == USS_SERIAL_TIMEOUT ? 0 : high;

    int range = high == NO_READING_HIGH ? USS_NO_ECHO : high * 256 + low + SENSOR_BASE_CM;
    return range + channel_offset_cm[channel - FIRST_CHANNEL];
}

bool uss_last_answered() {
    return last_answered;
}
