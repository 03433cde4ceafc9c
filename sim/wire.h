// Byte-level protocols of the simulated devices, as pure functions: splitting
// the motor device's byte stream into frames, the encoder's two-byte reply and
// the ultrasonic board's reply and its timing; and the one loop that puts
// bytes on a descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

struct sim_motor_frame {
    uint8_t bytes[4];
    int len;  // 2 or 4
};

// A byte left over from the previous chunk, waiting for its partner.
struct sim_motor_framer {
    bool has_pending;
    uint8_t pending;
};

// Splits one chunk read from the motor device into frames, from its start:
// when at least 4 bytes remain and bytes 1, 2 and 3 of them are equal they
// are a 4-byte frame, otherwise the next 2 bytes are a 2-byte frame. A lone
// last byte is kept in the framer for the next chunk. Writes at most
// max_frames frames to out (the rest are dropped) and returns how many.
int wire_motor_split(sim_motor_framer* f, const uint8_t* data, size_t n, sim_motor_frame* out,
                     int max_frames);

// The encoder device's reply: left increment, then the right increment with
// the sign inverted, each cut to 8 bits. *wrapped_left / *wrapped_right tell
// whether the true increment lay outside -128..127.
void wire_encoder_reply(int64_t inc_left, int64_t inc_right, uint8_t out[2], bool* wrapped_left,
                        bool* wrapped_right);

// The ultrasonic board's reply for a range in cm: the reading range - 20
// (rounded, at least 0, at most 0xFEFF) low byte first; FF FF when there is
// no echo.
void wire_uss_reply(bool echo, double range, uint8_t out[2]);
// Time from the request to the first reply byte, ms: processing plus the
// sound's round trip (none without an echo) plus one byte at 9600 baud.
double wire_uss_latency_ms(bool echo, double range);
// Time one byte takes on the 9600 baud line, ms.
constexpr double kWireUssByteMs = 10.0 / 9.6;

// Writes all n bytes to fd, retrying short writes and EINTR. False when the
// descriptor takes no more: a reader that closed it, or a full non-blocking
// queue nobody drains.
bool wire_write_all(int fd, const void* b, size_t n);
