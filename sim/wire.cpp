#include "sim/wire.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>

namespace {

constexpr double kProcessingMs = 2.0;
constexpr double kSoundCmPerMs = 34.3;  // 343 m/s
constexpr double kMaxReading = 0xFEFF;  // a high byte of 255 would read as "no echo"

}  // namespace

int wire_motor_split(sim_motor_framer* f, const uint8_t* data, size_t n, sim_motor_frame* out,
                     int max_frames) {
    // Work on a small window: the pending byte followed by the chunk.
    int count = 0;
    size_t i = 0;
    uint8_t carry[4];
    size_t carried = 0;
    if (f->has_pending) {
        carry[carried++] = f->pending;
        f->has_pending = false;
    }
    auto at = [&](size_t k) -> uint8_t { return k < carried ? carry[k] : data[k - carried]; };
    size_t total = carried + n;
    while (total - i >= 2) {
        sim_motor_frame fr{};
        if (total - i >= 4 && at(i + 1) == at(i + 2) && at(i + 1) == at(i + 3)) {
            fr.len = 4;
        } else {
            fr.len = 2;
        }
        for (int k = 0; k < fr.len; ++k)
            fr.bytes[k] = at(i + k);
        i += fr.len;
        if (count < max_frames)
            out[count++] = fr;
    }
    if (total - i == 1) {
        f->has_pending = true;
        f->pending = at(i);
    }
    return count;
}

void wire_encoder_reply(int64_t inc_left, int64_t inc_right, uint8_t out[2], bool* wrapped_left,
                        bool* wrapped_right) {
    // The right increment goes out negated; negating in unsigned arithmetic
    // keeps the most negative count defined (it wraps like any other).
    *wrapped_left = inc_left < -128 || inc_left > 127;
    *wrapped_right = inc_right < -127 || inc_right > 128;
    out[0] = static_cast<uint8_t>(static_cast<uint64_t>(inc_left) & 0xFF);
    out[1] = static_cast<uint8_t>((0 - static_cast<uint64_t>(inc_right)) & 0xFF);
}

void wire_uss_reply(bool echo, double range, uint8_t out[2]) {
    if (!echo) {
        out[0] = out[1] = 0xFF;
        return;
    }
    double reading = std::round(range) - 20.0;
    if (!(reading >= 0))  // NaN too: a range that is not a number reads as 0
        reading = 0;
    if (reading > kMaxReading)
        reading = kMaxReading;
    unsigned v = static_cast<unsigned>(reading);
    out[0] = static_cast<uint8_t>(v & 0xFF);
    out[1] = static_cast<uint8_t>(v >> 8);
}

double wire_uss_latency_ms(bool echo, double range) {
    double travel = echo ? 2.0 * range / kSoundCmPerMs : 0.0;
    return kProcessingMs + travel + kWireUssByteMs;
}

bool wire_write_all(int fd, const void* b, size_t n) {
    const char* p = static_cast<const char*>(b);
    while (n > 0) {
        ssize_t k = write(fd, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}
