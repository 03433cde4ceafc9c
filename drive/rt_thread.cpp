#include "drive/rt_thread.h"

#include <sched.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

const char* policy_name(int policy) {
    switch (policy) {
        case SCHED_OTHER:
            return "SCHED_OTHER";
        case SCHED_FIFO:
            return "SCHED_FIFO";
        case SCHED_RR:
            return "SCHED_RR";
        default:
            return "???";
    }
}

}  // namespace

int rt_thread_start(pthread_t* handle, void* (*routine)(void*), const char* label) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    sched_param param{};
    param.sched_priority = 20;
    // The attribute keeps its default inherit setting, so the thread really runs
    // with the caller's policy; switching the caller first is what makes the
    // workers real-time when the process may do so.
    pthread_attr_setschedparam(&attr, &param);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    int rc = pthread_create(handle, &attr, routine, reinterpret_cast<void*>(2));
    pthread_attr_destroy(&attr);

    int policy = SCHED_OTHER;
    sched_param now{};
    pthread_getschedparam(pthread_self(), &policy, &now);
    printf("%s = %s, priority =%d\n", label, policy_name(policy), now.sched_priority);
    return rc;
}

int rt_thread_id_value(pthread_t handle) {
    // pthread_t is an unsigned long here; its low 32 bits, read as a signed
    // int, are what a 32-bit build prints for the same handle.
    return static_cast<int>(static_cast<uint32_t>(handle));
}

int rt_worker_start(rt_worker* worker, void* (*routine)(void*), const char* label) {
    worker->stop.store(false, std::memory_order_relaxed);
    int rc = rt_thread_start(&worker->handle, routine, label);
    worker->running = rc == 0;
    return rc;
}

int rt_worker_stop(rt_worker* worker) {
    if (!worker->running) {
        return ESRCH;  // what cancelling a thread that is gone reports
    }
    worker->stop.store(true, std::memory_order_relaxed);
    const int rc = pthread_join(worker->handle, nullptr);
    worker->running = false;
    return rc;
}
