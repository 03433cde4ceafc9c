// The ultrasonic range query's exchange with arbitrary reply bytes and
// timings: prompt replies, replies that come late (after the 50 ms byte wait),
// partial replies, surplus bytes, and silence. The waits run on a simulated
// clock passed in as the query's byte wait, so no real time passes; the real
// port's timing is the device-level tests' (tests/sensors/).
//
// Input: [0] channel (-1..6), then pairs (timing, byte): timing bits 0-1 pick a
// pause before the byte is sent (none, 5 ms, 30 ms, 70 ms). At most 4 bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sensors/uss.h"
#include "sensors/uss_serial.h"

namespace {

constexpr int MAX_REPLY = 4;
constexpr int PAUSE_MS[4] = {0, 5, 30, 70};
constexpr int WAIT_MS = 50;  // one reply byte's wait

int request_end = -1;  // what the query writes arrives here
int query_end = -1;    // the query writes its request here
bool have_offset[5] = {};
int offset_seen[5] = {};

// The board's reply on the simulated clock: byte i is sent at arrival[i] ms
// after the request.
struct reply {
    int count = 0;
    int arrival[MAX_REPLY] = {};
    int byte[MAX_REPLY] = {};
    int next = 0;  // the first byte not read yet
    int now = 0;   // ms since the request
    int waits = 0;
    int received = 0;  // bytes the query's first two waits got
};
reply board;

// One wait of at most 50 ms: the next byte when it arrives in time, else the
// time-out at the end of the wait.
int simulated_wait(int) {
    const int deadline = board.now + WAIT_MS;
    ++board.waits;
    if (board.next < board.count && board.arrival[board.next] <= deadline) {
        board.now = std::max(board.now, board.arrival[board.next]);
        board.received += board.waits <= 2 ? 1 : 0;
        return board.byte[board.next++];
    }
    board.now = deadline;
    return USS_SERIAL_TIMEOUT;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::abort();
    }
    request_end = ends[0];
    query_end = ends[1];
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int channel = data[0] % 8 - 1;
    board = reply{};
    board.count = static_cast<int>(std::min<size_t>((size - 1) / 2, MAX_REPLY));
    for (int i = 0, t = 0; i < board.count; ++i) {
        t += PAUSE_MS[data[1 + 2 * i] & 3];
        board.arrival[i] = t;
        board.byte[i] = data[2 + 2 * i];
    }

    const int range = uss_query(query_end, channel, simulated_wait);
    uint8_t request[4];
    const ssize_t asked = read(request_end, request, sizeof request);

    if (channel < 1 || channel > 4) {
        // Not a channel: -1, and the port is left alone.
        if (range != -1 || asked > 0 || board.waits != 0) {
            std::abort();
        }
        return 0;
    }
    if (asked != 1 || request[0] != channel || board.waits != 2) {
        std::abort();  // one request, the channel number itself; two waits
    }
    if (uss_last_answered() != (board.received == 2)) {
        std::abort();
    }
    if (board.received == 2) {
        // A complete reply: low byte then high byte; 255 high is the board's
        // "no reading". Otherwise the range is the reading plus a fixed
        // per-channel amount (sensor base and mounting offset), the same on
        // every query.
        const int low = board.byte[0];
        const int high = board.byte[1];
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
