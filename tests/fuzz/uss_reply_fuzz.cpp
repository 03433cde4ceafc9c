// The ultrasonic range query against an emulated board on a pseudo-terminal,
// with arbitrary reply bytes and timings: prompt replies, replies that come late
// (after the 50 ms byte wait), partial replies, surplus bytes, and silence.
//
// Input: [0] channel (-1..6), then pairs (timing, byte): timing bits 0-1 pick a
// pause before the byte is sent (none, 5 ms, 30 ms, 70 ms). At most 4 bytes.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "drive/device.h"
#include "sensors/uss.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int MAX_REPLY = 4;
constexpr int PAUSE_MS[4] = {0, 5, 30, 70};
// The query waits 50 ms per byte for two bytes; far more than that is a hang,
// even on a loaded two-core machine under AddressSanitizer.
constexpr auto QUERY_BOUND = std::chrono::milliseconds(1500);
// A reply counts as prompt only when both bytes really went out this soon
// after the request, whatever the scheduler did.
constexpr auto PROMPT = std::chrono::milliseconds(20);

int board = -1;  // master side of the pseudo-terminal: the board's end
bool have_offset[5] = {};
int offset_seen[5] = {};

struct exchange {
    int request = -1;     // byte the board received, -1 if none
    bool prompt = false;  // first two reply bytes sent within PROMPT
};

void drain_board() {
    uint8_t junk[64];
    while (read(board, junk, sizeof junk) > 0) {
    }
}

// The board: waits for the request byte, then sends the scripted reply.
void serve(const uint8_t* script, int count, exchange* out) {
    pollfd p{board, POLLIN, 0};
    if (poll(&p, 1, 300) <= 0) {
        return;  // no request (an invalid channel must not send one)
    }
    uint8_t request = 0;
    if (read(board, &request, 1) != 1) {
        return;
    }
    out->request = request;
    const auto asked = clock_type::now();
    for (int i = 0; i < count; ++i) {
        const int pause = PAUSE_MS[script[2 * i] & 3];
        if (pause > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
        if (write(board, &script[2 * i + 1], 1) != 1) {
            return;
        }
        if (i == 1) {
            out->prompt = clock_type::now() - asked < PROMPT;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int terminal = -1;
    char name[256];
    if (openpty(&board, &terminal, name, nullptr, nullptr) != 0) {
        std::abort();
    }
    // The board's end is raw too, and never blocks the fuzzer.
    termios raw{};
    tcgetattr(board, &raw);
    cfmakeraw(&raw);
    tcsetattr(board, TCSANOW, &raw);
    fcntl(board, F_SETFL, fcntl(board, F_GETFL) | O_NONBLOCK);

    char dir_template[] = "/tmp/tavi-fuzz-uss-XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (dir == nullptr || symlink(name, (std::string(dir) + "/ttyS0").c_str()) != 0) {
        std::abort();
    }
    setenv("TAVI_DEVICE_DIR", dir, 1);
    if (device_uss_open() != 0) {
        std::abort();
    }
    // The terminal end stays open here too, so the port never sees a hang-up.
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int channel = data[0] % 8 - 1;
    const int count = static_cast<int>(std::min<size_t>((size - 1) / 2, MAX_REPLY));
    drain_board();

    exchange seen;
    std::thread board_thread(serve, data + 1, count, &seen);
    const auto start = clock_type::now();
    const int range = uss_get(channel);
    const auto took = clock_type::now() - start;
    board_thread.join();

    if (took > QUERY_BOUND) {
        std::abort();  // the query has to give up on a silent board
    }
    if (channel < 1 || channel > 4) {
        // Not a channel: -1, and the port is left alone.
        if (range != -1 || seen.request != -1) {
            std::abort();
        }
        return 0;
    }
    if (seen.request != channel) {
        std::abort();  // the board is asked with the channel number itself
    }
    if (count >= 2 && seen.prompt) {
        // A complete, prompt reply: low byte then high byte; 255 high is the
        // board's "no reading". Otherwise the range is the reading plus a fixed
        // per-channel amount (sensor base and mounting offset), the same on
        // every query.
        const int low = data[2];
        const int high = data[4];
        if (high == 255) {
            if (range != USS_NO_ECHO) {
                std::abort();
            }
        } else {
            const int offset = range - (high * 256 + low);
            if (!have_offset[channel]) {
                have_offset[channel] = true;
                offset_seen[channel] = offset;
            } else if (offset != offset_seen[channel]) {
                std::abort();
            }
        }
    }
    return 0;
}
