#include "drive/rt_thread.h"

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

// The sanitizers reserve terabytes of shadow memory; locking it all would
// exhaust the machine rather than protect a period.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAVI_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(TAVI_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr bool kLockMemory = !kSanitized;

// Linux 4.4 brought the lock on fault; older C library headers lack its name.
#ifndef MCL_ONFAULT
#define MCL_ONFAULT 4
#endif

// Each worker's stack. The loops write at most 13 KB below the top of their
// stack (TLS and thread descriptor included), the run controller deepest
// with its closing printf: a 30 s straight run of the drive console on
// amd64; benchmarks/timing/run prints the figure for every worker in every
// run. The top 64 KB, five times that, is touched before the first period;
// 128 KB in all leaves a rarer, deeper path (a fault line, a crash signal's
// handler) room to run, at the price of a page fault there. The default 8 MB
// each was 30 MB of locked stacks under the full lock. Under the sanitizers
// frames grow several times over, so there the default stays.
constexpr std::size_t kStackBytes = kSanitized ? 0 : 128 * 1024;
constexpr std::size_t kTouchedBytes = 64 * 1024;
constexpr std::size_t kPageBytes = 4096;

// Writes one byte of every page of kTouchedBytes below the caller's frame
// back with its own value: the pages are resident, and locked, before the
// first period, where a page first written would otherwise be a page fault.
// The content stays as it was, so the part of a stack the loops never write
// stays zero: that is how the timing probe sees how deep they reach.
__attribute__((noinline)) void touch_stack() {
    volatile unsigned char area[kTouchedBytes];
    for (std::size_t at = 0; at < kTouchedBytes; at += kPageBytes) {
        area[at] = area[at];
    }
}

// The created thread's own start: its stack is touched before the routine's
// first period. The routine travels as the thread's argument (nothing to
// allocate, nothing to free) and still gets the 2 of the recipe.
void* start_worker(void* routine) {
    touch_stack();
    return reinterpret_cast<void* (*)(void*)>(routine)(reinterpret_cast<void*>(2));
}

// Locks the pages the process touches from now on, and those already in
// memory, as they are faulted in: the libraries' pages the loops never touch
// stay out of memory (OpenCV's image codecs alone map about 140 shared
// objects). A kernel without the lock on fault refuses the flag with EINVAL;
// there every mapped page is locked, and the program says so once.
void lock_memory() {
    if (mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0 || errno != EINVAL) {
        return;
    }
    fputs("this kernel cannot lock memory on fault (MCL_ONFAULT): all mapped memory is locked\n",
          stderr);
    mlockall(MCL_CURRENT | MCL_FUTURE);
}

// What interrupts a worker's blocked device call. A real-time signal: the
// stop guard takes the ordinary ones for the process as a whole, and this one
// is only ever sent to one thread. Its handler does nothing; installed
// without SA_RESTART, it makes the call return EINTR.
int wake_signal() {
    return SIGRTMIN + 2;
}

void on_wake(int) {}

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
    // Locked memory keeps a page fault, a swapped-out page or a disk-heavy
    // neighbour from stretching a control period. Taken before the thread
    // exists, so its stack is locked page by page as it is touched. Without
    // the privilege (RLIMIT_MEMLOCK, CAP_IPC_LOCK) the call fails and the
    // program runs unlocked, as with the scheduling calls. Once per process:
    // MCL_FUTURE covers the later workers' stacks. The caller's own stack is
    // touched then too: it runs at the workers' priority from now on.
    static std::atomic<bool> locked{false};
    if (kLockMemory && !locked.exchange(true)) {
        lock_memory();
        touch_stack();
    }

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (kStackBytes != 0) {
        pthread_attr_setstacksize(&attr, kStackBytes);
    }
    sched_param param{};
    param.sched_priority = 20;
    // The attribute keeps its default inherit setting, so the thread really runs
    // with the caller's policy; switching the caller first is what makes the
    // workers real-time when the process may do so.
    pthread_attr_setschedparam(&attr, &param);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    int rc = pthread_create(handle, &attr, start_worker, reinterpret_cast<void*>(routine));
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

void rt_worker_interruptible() {
    static std::atomic<bool> installed{false};
    if (!installed.exchange(true)) {
        struct sigaction wake {};
        wake.sa_handler = on_wake;
        sigemptyset(&wake.sa_mask);
        wake.sa_flags = 0;  // no SA_RESTART
        sigaction(wake_signal(), &wake, nullptr);
    }
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, wake_signal());
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
}

int rt_worker_stop_interrupting(rt_worker* worker) {
    if (!worker->running) {
        return ESRCH;
    }
    worker->stop.store(true, std::memory_order_relaxed);
    // The signal can land just before the worker enters its call, and then
    // interrupts nothing: it is sent again until the worker has ended.
    for (int attempt = 0; attempt < 50; ++attempt) {
        pthread_kill(worker->handle, wake_signal());
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        until = rt_later(until, 10000);
        const int rc = pthread_timedjoin_np(worker->handle, nullptr, &until);
        if (rc != ETIMEDOUT) {
            worker->running = false;
            return rc;
        }
    }
    pthread_detach(worker->handle);
    worker->running = false;
    return 0;
}

timespec rt_now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

timespec rt_later(timespec t, long us) {
    t.tv_sec += us / 1000000;
    t.tv_nsec += (us % 1000000) * 1000;
    if (t.tv_nsec >= 1000000000) {
        t.tv_nsec -= 1000000000;
        ++t.tv_sec;
    }
    return t;
}
