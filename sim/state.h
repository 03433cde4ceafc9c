// The values the simulator's threads share: held motor commands, encoder
// counts, pose, board presence and the counters of the summary. Every field
// is an atomic of its own (relaxed order is enough: a reader may see the
// previous or the next value of each, never a torn one).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "sim/physics.h"
#include "sim/world.h"

struct sim_shared {
    std::chrono::steady_clock::time_point t0;  // set before any thread starts
    std::atomic<bool> stop{false};

    // motor_dev -> physics
    std::atomic<int> cmd_left{0}, cmd_right{0};
    std::atomic<uint32_t> last_frame{0};  // bytes 0..3, byte 0 in the low bits
    std::atomic<int> last_frame_len{0};
    std::atomic<double> last_frame_time{-1};
    std::atomic<int64_t> motor_frames{0};

    // physics -> devices, camera
    std::atomic<int64_t> count_left{0}, count_right{0};  // whole counts, forward positive
    std::atomic<double> x{0}, y{0}, heading{0};
    std::atomic<double> v_left{0}, v_right{0};
    std::atomic<bool> blocked{false};

    // camera -> everyone: boards taken away
    std::atomic<uint8_t> present[kWorldMaxBoards];
    std::atomic<int> captures_of[kWorldMaxBoards];

    // drive faults, as they take effect (sim/faults.h)
    std::atomic<double> fault_time{-1}, fault_x{0}, fault_y{0};  // the first injection
    std::atomic<double> fault_stop_time{-1}, fault_stop_x{0}, fault_stop_y{0};  // the stop after it
    // A signal was passed on to the command: a stop frame from now on is the
    // program being ended, not the program catching a fault.
    std::atomic<bool> interrupted{false};
    std::atomic<bool> reversed_shown[2]{};  // a reversed motor's fault row is written

    std::atomic<int64_t> encoder_requests{0}, encoder_wraps{0}, uss_queries{0};

    // Whether the simulated hardware kept real time (the robot's own never
    // slows down when the program's core is busy). Each is written by one
    // thread and read for the summary at the end.
    std::atomic<double> physics_time{0};      // s: the time the last published step stands for
    std::atomic<double> physics_late_max{0};  // s: the furthest a step ran behind its time
    std::atomic<double> physics_dropped{0};   // s: time given up after stalls of over 100 ms
    std::atomic<double> device_late_max{0};   // s: the device loop's longest overrun of its wait
    std::atomic<double> reply_age_max{0};     // s: the oldest counts an encoder reply carried
    std::atomic<double> reply_age_sum{0};     // s, over encoder_requests replies
    std::atomic<double> pty_late_max{0};      // s: the longest a pty took to hand a byte over
    std::atomic<int> realtime_priority{0};    // SCHED_FIFO priority of physics and devices, 0: none
    std::atomic<int64_t> captures{0}, captures_failed{0}, boards_removed{0};
};

// Clears every value, marks all boards present and publishes the start pose.
void state_init(sim_shared* s, const sim_world& w);
// Seconds since t0.
double state_now(const sim_shared& s);
// Copies of the pose and of the presence flags, for the pure queries.
sim_pose state_pose(const sim_shared& s);
void state_present(const sim_shared& s, uint8_t out[kWorldMaxBoards]);
// With TAVI_SIM_REALTIME=1 (the benchmarks), puts the calling thread at
// SCHED_FIFO kStateRealtimePriority, above the program's drive workers (20),
// as the robot's hardware would be: it answers and moves on time whatever the
// program's core is doing. Returns the priority in force (0 when not asked or
// without the privilege: the summary then says how late the simulator ran).
constexpr int kStateRealtimePriority = 30;
int state_go_realtime();
// Raises *max to v if v is larger (one writer per value).
void state_note_max(std::atomic<double>* max, double v);
// Publishes a physics step.
void state_publish(sim_shared* s, const sim_robot& r);
