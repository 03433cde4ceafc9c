#include "sim/devices.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/faults.h"
#include "sim/record.h"
#include "sim/ultrasonic.h"
#include "sim/uss_line.h"
#include "sim/wire.h"

namespace {

enum { kEncoder, kMotor, kIo, kUss, kNodes };
const char* const kNodeNames[kNodes] = {"encoder_dev", "motor_dev", "io_dev", "ttyS0"};
// VMIN of each slave: a blocking read of one reply (encoder), one state (io)
// returns it whole.
const int kNodeVmin[kNodes] = {2, 1, 12, 1};

struct pty_node {
    int master = -1;
    int slave = -1;  // kept open so the master never sees a hang-up
    std::string link;
};
pty_node nodes[kNodes];

constexpr int kIoLow = 24, kIoHigh = 48;  // bytes queued on io_dev
constexpr double kMotorPendingS = 0.020;

int open_pty(int vmin, pty_node* n, std::string* error) {
    n->master = posix_openpt(O_RDWR | O_NOCTTY);
    if (n->master < 0 || grantpt(n->master) != 0 || unlockpt(n->master) != 0) {
        *error = std::string("posix_openpt: ") + std::strerror(errno);
        return -1;
    }
    char name[128];
    if (ptsname_r(n->master, name, sizeof name) != 0) {
        *error = "ptsname failed";
        return -1;
    }
    n->slave = open(name, O_RDWR | O_NOCTTY);
    if (n->slave < 0) {
        *error = std::string(name) + ": " + std::strerror(errno);
        return -1;
    }
    termios t{};
    tcgetattr(n->slave, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = static_cast<cc_t>(vmin);
    t.c_cc[VTIME] = 0;
    tcsetattr(n->slave, TCSANOW, &t);
    fcntl(n->master, F_SETFL, fcntl(n->master, F_GETFL) | O_NONBLOCK);
    n->link = name;
    return 0;
}

// Reply bytes held back for a split reply (encoder_split), each with its
// time; later replies queue behind them, as on a line.
struct held_byte {
    double due;
    uint8_t value;
};
held_byte held[8];
int held_count = 0;
bool split_done = false;

void hold(double due, uint8_t value) {
    if (held_count < 8)
        held[held_count++] = held_byte{due, value};
}

void send_held(double now) {
    int sent = 0;
    while (sent < held_count && held[sent].due <= now)
        wire_write_all(nodes[kEncoder].master, &held[sent++].value, 1);
    for (int i = sent; i < held_count; ++i)
        held[i - sent] = held[i];
    held_count -= sent;
}

// A pseudo-terminal of the simulator's own, written from its slave side and
// read on its master, as a program's requests travel: a pty hands its bytes
// over through the kernel's worker threads, which run at normal priority, so
// on a busy machine a request can lie there while both the program and the
// simulator run real-time. The canary times that hand-over every period.
pty_node canary;
bool canary_out = false;
double canary_sent = 0;

void canary_send(sim_shared* s, double now) {
    if (canary.slave < 0)
        return;
    if (canary_out) {
        state_note_max(&s->pty_late_max, now - canary_sent);
        return;
    }
    if (now - canary_sent < 0.019)
        return;
    const uint8_t one = 0;
    if (write(canary.slave, &one, 1) == 1) {
        canary_out = true;
        canary_sent = now;
    }
}

void canary_take(sim_shared* s, double now) {
    uint8_t junk[16];
    if (read(canary.master, junk, sizeof junk) > 0 && canary_out) {
        state_note_max(&s->pty_late_max, now - canary_sent);
        canary_out = false;
    }
}

void serve_encoder(const sim_world& w, sim_shared* s, int64_t* prev_l, int64_t* prev_r) {
    uint8_t req[64];
    ssize_t n = read(nodes[kEncoder].master, req, sizeof req);
    constexpr auto rx = std::memory_order_relaxed;
    const double now = state_now(*s);
    for (ssize_t i = 0; i < n; ++i) {
        if (world_fault_due(w, sim_fault::encoder_silent, now)) {
            // The request is taken in and never answered, as from a board
            // whose cable is pulled.
            record_event(*s, "encoder", "no reply (encoder_silent)");
            continue;
        }
        int64_t l = s->count_left.load(rx);
        int64_t r = s->count_right.load(rx);
        const double age = now - s->physics_time.load(rx);
        state_note_max(&s->reply_age_max, age);
        s->reply_age_sum.store(s->reply_age_sum.load(rx) + age, rx);
        // A dead counter reports no motion while its wheel still turns.
        const int64_t dl = world_fault_due(w, sim_fault::encoder_dead_left, now) ? 0 : l - *prev_l;
        const int64_t dr = world_fault_due(w, sim_fault::encoder_dead_right, now) ? 0 : r - *prev_r;
        uint8_t reply[2];
        bool wl = false, wr = false;
        wire_encoder_reply(dl, dr, reply, &wl, &wr);
        if (!split_done && world_fault_due(w, sim_fault::encoder_split, now)) {
            split_done = true;
            const double first = now + w.encoder_split_first_ms / 1000.0;
            hold(first, reply[0]);
            hold(first + w.encoder_split_gap_ms / 1000.0, reply[1]);
            char split[64];
            std::snprintf(split, sizeof split, "split reply: %d ms, then %d ms",
                          w.encoder_split_first_ms, w.encoder_split_gap_ms);
            record_event(*s, "encoder", split);
        } else if (held_count > 0) {
            hold(held[held_count - 1].due, reply[0]);
            hold(held[held_count - 1].due, reply[1]);
        } else {
            // A full queue nobody drains drops the reply, as a real line would.
            wire_write_all(nodes[kEncoder].master, reply, 2);
        }
        s->encoder_requests.fetch_add(1, std::memory_order_relaxed);
        char detail[96];
        std::snprintf(detail, sizeof detail, "%d %d", static_cast<int8_t>(reply[0]),
                      static_cast<int8_t>(reply[1]));
        record_event(*s, "encoder", detail);
        if (wl || wr) {
            s->encoder_wraps.fetch_add(1, std::memory_order_relaxed);
            std::snprintf(detail, sizeof detail, "left %lld right %lld", static_cast<long long>(dl),
                          static_cast<long long>(dr));
            record_event(*s, "wrap", detail);
        }
        *prev_l = l;
        *prev_r = r;
    }
}

void take_motor_frames(const sim_world& w, sim_shared* s, const uint8_t* data, size_t n,
                       sim_motor_framer* framer) {
    sim_motor_frame frames[64];
    int count = wire_motor_split(framer, data, n, frames, 64);
    for (int i = 0; i < count; ++i) {
        const sim_motor_frame& f = frames[i];
        constexpr auto rx = std::memory_order_relaxed;
        s->cmd_left.store(physics_decode_byte(f.bytes[0]), rx);
        s->cmd_right.store(physics_decode_byte(f.bytes[1]), rx);
        uint32_t packed = 0;
        for (int k = 0; k < f.len; ++k)
            packed |= static_cast<uint32_t>(f.bytes[k]) << (8 * k);
        s->last_frame.store(packed, rx);
        s->last_frame_len.store(f.len, rx);
        s->last_frame_time.store(state_now(*s), rx);
        s->motor_frames.fetch_add(1, rx);
        char detail[32];
        if (f.len == 4)
            std::snprintf(detail, sizeof detail, "%02X %02X %02X %02X", f.bytes[0], f.bytes[1],
                          f.bytes[2], f.bytes[3]);
        else
            std::snprintf(detail, sizeof detail, "%02X %02X", f.bytes[0], f.bytes[1]);
        record_event(*s, "motor", detail);
        faults_motor_frame(w, s, physics_decode_byte(f.bytes[0]), physics_decode_byte(f.bytes[1]));
    }
}

// Returns true when bytes were read.
bool serve_motor(const sim_world& w, sim_shared* s, sim_motor_framer* framer,
                 double* pending_since) {
    uint8_t buf[256];
    ssize_t n = read(nodes[kMotor].master, buf, sizeof buf);
    if (n <= 0)
        return false;
    take_motor_frames(w, s, buf, static_cast<size_t>(n), framer);
    if (framer->has_pending)
        *pending_since = state_now(*s);
    return true;
}

void refill_io(const sim_world& w) {
    int queued = 0;
    if (ioctl(nodes[kIo].slave, FIONREAD, &queued) != 0)
        return;
    if (queued % 12 != 0) {
        // Someone read part of a state: start again on a whole one.
        tcflush(nodes[kIo].slave, TCIFLUSH);
        queued = 0;
    }
    if (queued >= kIoLow)
        return;
    uint8_t block[kIoHigh];
    int n = 0;
    for (; queued + n + 12 <= kIoHigh; n += 12)
        std::memcpy(block + n, w.io, 12);
    wire_write_all(nodes[kIo].master, block, static_cast<size_t>(n));
}

void serve_uss_requests(const sim_world& w, sim_shared* s) {
    uint8_t req[32];
    ssize_t n = read(nodes[kUss].master, req, sizeof req);
    for (ssize_t i = 0; i < n; ++i)
        uss_line_request(w, s, req[i]);
}

void send_due_uss(double now) {
    uint8_t value = 0;
    while (uss_line_pop_due(now, &value))
        wire_write_all(nodes[kUss].master, &value, 1);
}

}  // namespace

int devices_open(const std::string& dir, std::string* error) {
    for (int i = 0; i < kNodes; ++i) {
        if (open_pty(kNodeVmin[i], &nodes[i], error) != 0)
            return -1;
        std::string link = dir + "/" + kNodeNames[i];
        unlink(link.c_str());
        if (symlink(nodes[i].link.c_str(), link.c_str()) != 0) {
            *error = link + ": " + std::strerror(errno);
            return -1;
        }
        nodes[i].link = link;
    }
    // Without the canary the run goes on; its figure then stays 0.
    std::string unused;
    if (open_pty(1, &canary, &unused) != 0)
        canary = pty_node{};
    return 0;
}

void devices_run(const sim_world& w, sim_shared* s) {
    int64_t prev_l = s->count_left.load(), prev_r = s->count_right.load();
    sim_motor_framer framer{};
    double pending_since = 0;
    uss_line_reset();
    held_count = 0;
    split_done = false;
    refill_io(w);
    state_go_realtime();
    while (!s->stop.load(std::memory_order_relaxed)) {
        pollfd fds[4] = {{nodes[kEncoder].master, POLLIN, 0},
                         {nodes[kMotor].master, POLLIN, 0},
                         {nodes[kUss].master, POLLIN, 0},
                         {canary.master, POLLIN, 0}};
        double now = state_now(*s);
        // Wake for the next reply byte, else often enough to top up io_dev
        // and notice the stop flag.
        double wait = 0.002;
        double due = 0;
        if (uss_line_next_due(&due))
            wait = std::min(wait, std::max(0.0, due - now));
        if (held_count > 0)
            wait = std::min(wait, std::max(0.0, held[0].due - now));
        timespec ts{0, static_cast<long>(wait * 1e9)};
        int rc = ppoll(fds, 4, &ts, nullptr);
        // A wait that overran is time a request lay unanswered or a frame
        // unread.
        if (rc == 0)
            state_note_max(&s->device_late_max, state_now(*s) - now - wait);
        if (rc > 0) {
            if (fds[0].revents & POLLIN)
                serve_encoder(w, s, &prev_l, &prev_r);
            if (fds[1].revents & POLLIN)
                serve_motor(w, s, &framer, &pending_since);
            if (fds[2].revents & POLLIN)
                serve_uss_requests(w, s);
            if (fds[3].revents & POLLIN)
                canary_take(s, state_now(*s));
        }
        now = state_now(*s);
        send_due_uss(now);
        send_held(now);
        canary_send(s, now);
        refill_io(w);
        if (framer.has_pending && now - pending_since > kMotorPendingS) {
            char detail[32];
            std::snprintf(detail, sizeof detail, "dropped lone byte %02X", framer.pending);
            record_event(*s, "motor", detail);
            framer.has_pending = false;
        }
    }
    // A program's last frame may still sit in the queue.
    while (serve_motor(w, s, &framer, &pending_since)) {
    }
}

void devices_close() {
    if (canary.slave >= 0)
        close(canary.slave);
    if (canary.master >= 0)
        close(canary.master);
    canary = pty_node{};
    for (pty_node& n : nodes) {
        if (!n.link.empty())
            unlink(n.link.c_str());
        if (n.slave >= 0)
            close(n.slave);
        if (n.master >= 0)
            close(n.master);
        n = pty_node{};
    }
}
