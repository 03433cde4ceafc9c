// The simulator's side of the wire on arbitrary input: the motor device's byte
// stream cut into arbitrary chunks and split into 4- and 2-byte frames, encoder
// requests against arbitrary count movements (64-bit extremes included), and
// ultrasonic replies for arbitrary ranges (infinities and NaN included).
//
// The framing is checked against a plain model of the rule kept here: every
// byte fed in comes out once, in order, in a frame or as the one pending byte;
// a 4-byte frame has bytes 1-3 equal and a 2-byte frame is taken only when the
// 4-byte one could not be; at most max_frames frames are written.
//
// Input: a sequence of operations, each a selector byte and its operands:
//   0: motor chunk   [length % 48] [max_frames % 8 + 1] then the chunk's bytes
//   1: encoder       8 bytes left movement, 8 bytes right movement, little endian;
//                    selector bit 2 set: small signed movements (int16), else raw
//   2: ultrasonic    [echo] then 8 bytes of a double range
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/physics.h"
#include "sim/wire.h"

namespace {

constexpr int MAX_CHUNK = 48;
constexpr int MAX_FRAMES = 8;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

struct reader {
    const uint8_t* data;
    size_t size;

    bool take(void* out, size_t n) {
        if (size < n) {
            return false;
        }
        std::memcpy(out, data, n);
        data += n;
        size -= n;
        return true;
    }
    bool byte(uint8_t* out) { return take(out, 1); }
};

// The framing rule written out on the whole window (pending byte + chunk).
struct model_frames {
    std::vector<std::vector<uint8_t>> frames;
    bool pending = false;
    uint8_t pending_byte = 0;
};

model_frames model_split(const std::vector<uint8_t>& window) {
    model_frames m;
    size_t i = 0;
    while (window.size() - i >= 2) {
        size_t len = 2;
        if (window.size() - i >= 4 && window[i + 1] == window[i + 2] &&
            window[i + 2] == window[i + 3]) {
            len = 4;
        }
        m.frames.emplace_back(window.begin() + i, window.begin() + i + len);
        i += len;
    }
    if (i < window.size()) {
        m.pending = true;
        m.pending_byte = window[i];
    }
    return m;
}

void check_decoded(uint8_t b) {
    const int command = physics_decode_byte(b);
    check(command >= -127 && command <= 127);
    check((command < 0) == ((b & 0x80) != 0 && (b & 0x7F) != 0));
    check(std::abs(command) == (b & 0x7F));
}

void motor_chunk(reader* in, sim_motor_framer* framer) {
    uint8_t length = 0;
    uint8_t limit = 0;
    if (!in->byte(&length) || !in->byte(&limit)) {
        return;
    }
    const size_t n = std::min<size_t>(length % MAX_CHUNK, in->size);
    const int max_frames = limit % MAX_FRAMES + 1;
    // A heap copy of exactly the chunk, so a read past its end is caught.
    std::vector<uint8_t> chunk(in->data, in->data + n);
    in->data += n;
    in->size -= n;

    std::vector<uint8_t> window;
    if (framer->has_pending) {
        window.push_back(framer->pending);
    }
    window.insert(window.end(), chunk.begin(), chunk.end());
    const model_frames want = model_split(window);

    sim_motor_frame out[MAX_FRAMES + 1];
    std::memset(out, 0xA5, sizeof out);
    const int count = wire_motor_split(framer, chunk.data(), chunk.size(), out, max_frames);
    check(count >= 0 && count <= max_frames);
    check(static_cast<size_t>(count) == std::min<size_t>(want.frames.size(), max_frames));
    // Nothing is written past the frames it reports.
    const uint8_t* guard = reinterpret_cast<const uint8_t*>(&out[count]);
    for (size_t k = 0; k < sizeof(sim_motor_frame); ++k) {
        check(guard[k] == 0xA5);
    }
    for (int i = 0; i < count; ++i) {
        const sim_motor_frame& f = out[i];
        check(f.len == 2 || f.len == 4);
        check(static_cast<size_t>(f.len) == want.frames[i].size());
        check(std::memcmp(f.bytes, want.frames[i].data(), f.len) == 0);
        if (f.len == 4) {
            check(f.bytes[1] == f.bytes[2] && f.bytes[2] == f.bytes[3]);
        }
        check_decoded(f.bytes[0]);
        check_decoded(f.bytes[1]);
    }
    check(framer->has_pending == want.pending);
    if (want.pending) {
        check(framer->pending == want.pending_byte);
    }
}

int64_t read_movement(reader* in, bool small) {
    if (small) {
        int16_t v = 0;
        in->take(&v, sizeof v);
        return v;
    }
    uint64_t bits = 0;
    in->take(&bits, sizeof bits);
    return static_cast<int64_t>(bits);
}

// What the program's encoder sampler makes of the two reply bytes.
void encoder_request(reader* in, bool small) {
    const int64_t left = read_movement(in, small);
    const int64_t right = read_movement(in, small);
    uint8_t reply[2] = {0x5A, 0x5A};
    bool wrapped_left = false;
    bool wrapped_right = false;
    wire_encoder_reply(left, right, reply, &wrapped_left, &wrapped_right);

    check(reply[0] == static_cast<uint8_t>(static_cast<uint64_t>(left)));
    check(reply[1] == static_cast<uint8_t>(0 - static_cast<uint64_t>(right)));
    check(wrapped_left == (left < -128 || left > 127));
    // The right wheel goes out negated: -127..128 fits the byte.
    check(wrapped_right == (right < -127 || right > 128));
    if (!wrapped_left) {
        check(static_cast<int8_t>(reply[0]) == left);
    }
    if (!wrapped_right) {
        check(-static_cast<int>(static_cast<int8_t>(reply[1])) == right);
    }
}

void uss_reply(reader* in) {
    uint8_t echo = 0;
    double range = 0;
    if (!in->byte(&echo) || !in->take(&range, sizeof range)) {
        return;
    }
    const bool has_echo = echo & 1;
    uint8_t reply[2] = {0x5A, 0x5A};
    wire_uss_reply(has_echo, range, reply);
    const int value = reply[0] | reply[1] << 8;
    if (!has_echo) {
        check(value == 0xFFFF);
    } else {
        // Never the board's "no reading", whatever the range.
        check(reply[1] != 0xFF);
        if (std::isfinite(range) && range >= 20 && range <= 20 + 0xFEFF) {
            check(value == static_cast<int>(std::round(range)) - 20);
        }
    }
    const double latency = wire_uss_latency_ms(has_echo, range);
    if (!has_echo || (std::isfinite(range) && range >= 0)) {
        check(latency >= kWireUssByteMs);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reader in{data, size};
    sim_motor_framer framer{};
    uint8_t op = 0;
    while (in.byte(&op)) {
        switch (op % 3) {
            case 0:
                motor_chunk(&in, &framer);
                break;
            case 1:
                encoder_request(&in, (op & 4) != 0);
                break;
            default:
                uss_reply(&in);
                break;
        }
    }
    return 0;
}
