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
    std::atomic<int64_t> captures{0}, captures_failed{0}, boards_removed{0};
};

// Clears every value, marks all boards present and publishes the start pose.
void state_init(sim_shared* s, const sim_world& w);
// Seconds since t0.
double state_now(const sim_shared& s);
// Copies of the pose and of the presence flags, for the pure queries.
sim_pose state_pose(const sim_shared& s);
void state_present(const sim_shared& s, uint8_t out[kWorldMaxBoards]);
// Publishes a physics step.
void state_publish(sim_shared* s, const sim_robot& r);
