#include "sim/uss_line.h"

#include <algorithm>
#include <cstdio>

#include "sim/physics.h"
#include "sim/record.h"
#include "sim/ultrasonic.h"
#include "sim/wire.h"

namespace {

// One reply byte of the ultrasonic board waiting for its time on the line.
struct uss_byte {
    double due;  // s since t0
    uint8_t value;
};
constexpr int kUssQueue = 64;
uss_byte uss_queue[kUssQueue];
int uss_head = 0, uss_count = 0;
double uss_line_free = 0;  // when the board has finished its previous reply

void queue_uss_byte(double due, uint8_t v) {
    if (uss_count == kUssQueue)
        return;  // a flood of requests: the board drops them
    uss_queue[(uss_head + uss_count) % kUssQueue] = uss_byte{due, v};
    ++uss_count;
}

}  // namespace

void uss_line_reset() {
    uss_head = uss_count = 0;
    uss_line_free = 0;
}

void uss_line_request(const sim_world& w, sim_shared* s, uint8_t byte) {
    double now = state_now(*s);
    int ch = byte;
    char detail[128];
    if (ch < 1 || ch > 4) {
        std::snprintf(detail, sizeof detail, "ignored byte %02X", byte);
        record_event(*s, "uss", detail);
        return;
    }
    s->uss_queries.fetch_add(1, std::memory_order_relaxed);
    uint8_t present[kWorldMaxBoards];
    state_present(*s, present);
    const sim_pose robot = state_pose(*s);
    sim_uss_sample u = ultrasonic_measure(w, present, robot, ch, now);
    uint8_t reply[2];
    wire_uss_reply(u.echo, u.range, reply);
    if (world_fault_due(w, sim_fault::uss_silent, now)) {
        std::snprintf(detail, sizeof detail, "ch %d range %.1f silent", ch,
                      u.echo ? u.range : -1.0);
        record_event(*s, "uss", detail);
        return;
    }
    double latency = world_fault_due(w, sim_fault::uss_late, now)
                         ? w.uss_late_ms
                         : wire_uss_latency_ms(u.echo, u.range);
    double start = std::max(now, uss_line_free);
    double first = start + latency / 1000.0;
    double second = first + kWireUssByteMs / 1000.0;
    queue_uss_byte(first, reply[0]);
    queue_uss_byte(second, reply[1]);
    uss_line_free = second;
    // The truth behind the reading: how far off square the sensor's axis
    // meets the surface ahead and the perpendicular distance to it.
    const sim_uss_mount& m = w.uss[ch - 1];
    sim_pose at = physics_mount_pose(robot, m.forward, m.left, m.angle);
    double off = 0, perp = -1;
    if (!world_off_square(w, present, at.x, at.y, at.heading, &off, &perp))
        off = 0;
    std::snprintf(detail, sizeof detail,
                  "ch %d range %.1f reply %02X %02X after %.1f ms off_square %.2f perp %.1f", ch,
                  u.echo ? u.range : -1.0, reply[0], reply[1], (first - now) * 1000.0, off, perp);
    record_event(*s, "uss", detail);
}

bool uss_line_next_due(double* due) {
    if (uss_count == 0)
        return false;
    *due = uss_queue[uss_head].due;
    return true;
}

bool uss_line_pop_due(double now, uint8_t* value) {
    if (uss_count == 0 || uss_queue[uss_head].due > now)
        return false;
    *value = uss_queue[uss_head].value;
    uss_head = (uss_head + 1) % kUssQueue;
    --uss_count;
    return true;
}
