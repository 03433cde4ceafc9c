#include "sim/state.h"

#include <pthread.h>
#include <sched.h>

#include <cstdlib>
#include <string>

void state_init(sim_shared* s, const sim_world& w) {
    s->t0 = std::chrono::steady_clock::now();
    s->stop = false;
    for (int i = 0; i < kWorldMaxBoards; ++i) {
        s->present[i].store(1, std::memory_order_relaxed);
        s->captures_of[i].store(0, std::memory_order_relaxed);
    }
    sim_robot r = physics_start(w);
    state_publish(s, r);
}

double state_now(const sim_shared& s) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - s.t0).count();
}

sim_pose state_pose(const sim_shared& s) {
    return sim_pose{s.x.load(std::memory_order_relaxed), s.y.load(std::memory_order_relaxed),
                    s.heading.load(std::memory_order_relaxed)};
}

void state_present(const sim_shared& s, uint8_t out[kWorldMaxBoards]) {
    for (int i = 0; i < kWorldMaxBoards; ++i)
        out[i] = s.present[i].load(std::memory_order_relaxed);
}

void state_publish(sim_shared* s, const sim_robot& r) {
    constexpr auto rx = std::memory_order_relaxed;
    s->count_left.store(r.count_left, rx);
    s->count_right.store(r.count_right, rx);
    s->x.store(r.pose.x, rx);
    s->y.store(r.pose.y, rx);
    s->heading.store(r.pose.heading, rx);
    s->v_left.store(r.v_left, rx);
    s->v_right.store(r.v_right, rx);
    s->blocked.store(r.blocked, rx);
}

int state_go_realtime() {
    // Asked for, not taken: a real-time simulator and a program doing its
    // image work at SCHED_FIFO share the kernel's real-time budget (95 % of
    // the processors by default), which the suites' parallel runs need not
    // strain; the benchmarks ask for it.
    const char* wanted = std::getenv("TAVI_SIM_REALTIME");
    if (wanted == nullptr || std::string(wanted) != "1")
        return 0;
    sched_param p{};
    p.sched_priority = kStateRealtimePriority;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) != 0)
        return 0;
    return kStateRealtimePriority;
}

void state_note_max(std::atomic<double>* max, double v) {
    if (v > max->load(std::memory_order_relaxed))
        max->store(v, std::memory_order_relaxed);
}
