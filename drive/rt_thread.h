// The real-time thread recipe shared by the encoder sampler, the speed loop
// and the run controller.
#pragma once

#include <pthread.h>
#include <time.h>

#include <atomic>

// Sets the calling thread to SCHED_FIFO at priority 20 (permanently), creates
// routine with an attribute object carrying priority 20 and the argument 2,
// stores its handle in *handle, then prints "<label> = %s, priority =%d\n"
// (label "policy" for the sampler, "plicy" for the speed loop and the run
// controller) with the caller's policy name ("SCHED_OTHER", "SCHED_FIFO",
// "SCHED_RR" or "???") and priority as read back. Without the privilege for
// real-time scheduling the caller keeps its policy, the line shows it, and
// the thread still starts. Returns pthread_create's result (0 when the
// thread started), for callers that must know whether there is a thread to join.
// The first call locks the process's memory on fault (mlockall). The thread
// gets a stack of its own size (rt_thread.cpp says why), whose top is touched
// before routine runs, so no period takes a page fault on it.
int rt_thread_start(pthread_t* handle, void* (*routine)(void*), const char* label);

// A thread handle as the int printed in the "thread_id=%d" lines.
int rt_thread_id_value(pthread_t handle);

// A worker thread that ends when asked: the loop polls `stop` once a period,
// and rt_worker_stop waits for it, so a handle is joined exactly once and
// never used after that.
struct rt_worker {
    pthread_t handle{};
    bool running = false;  // touched only by the thread that starts and stops it
    std::atomic<bool> stop{false};
};

// Starts routine by the recipe above; returns pthread_create's result.
int rt_worker_start(rt_worker* worker, void* (*routine)(void*), const char* label);
// Asks the worker to end and joins it: 0 once it has ended, ESRCH when none
// was running, else the join's error.
int rt_worker_stop(rt_worker* worker);
// For a worker that blocks in a device call (a driver promises a blocking
// read and write, nothing more): called first thing in the worker, it lets
// rt_worker_stop_interrupting's signal interrupt those calls (EINTR).
void rt_worker_interruptible();
// rt_worker_stop for such a worker: asks it to end and interrupts its device
// call until it has, for at most about half a second; a call the driver does
// not let a signal interrupt keeps its thread until the process ends (the
// thread is then let go, never joined). Results as rt_worker_stop.
int rt_worker_stop_interrupting(rt_worker* worker);
// For the worker's loop: true once rt_worker_stop has been called.
inline bool rt_worker_stopping(const rt_worker& worker) {
    return worker.stop.load(std::memory_order_relaxed);
}

// CLOCK_MONOTONIC now, and a time moved on by some microseconds: the loops'
// deadlines, which a change of the wall clock must not move.
timespec rt_now();
timespec rt_later(timespec t, long us);
