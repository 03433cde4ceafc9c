#include "drive/stop_guard.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "drive/motor.h"

namespace {

// Signals whose default ends the process and that arrive for the process as
// a whole: blocked in every thread and taken by the watcher with sigwait, so
// the stop goes out under the motor lock and nothing can follow it.
const int ending_signals[] = {SIGINT,    SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM,
                              SIGVTALRM, SIGPROF, SIGIO,  SIGPWR,  SIGXCPU, SIGSTKFLT};
// Signals the kernel raises for the thread whose own call caused them: a
// write to a pipe nobody reads (SIGPIPE), a read or write of the terminal by
// a background job (SIGTTIN, SIGTTOU). Blocked, the first would go unnoticed
// for ever and the terminal would answer the others with an error instead of
// stopping the job; so they keep a handler that passes them to the watcher.
const int forwarded_signals[] = {SIGPIPE, SIGTTIN, SIGTTOU};
// Faults of the running thread (and abort): its state cannot be trusted, so
// the handler sends the stop frame with one write and lets the default action
// (a core dump) follow.
const int crash_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP, SIGXFSZ};

sigset_t waited;  // what the watcher takes with sigwait
bool installed = false;
pthread_t watcher;
// Counts finished job-control stops, so a forwarding handler knows when the
// process has been continued.
std::atomic<unsigned> resumptions{0};

bool is_job_stop(int sig) {
    return sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU;
}

// Output printed before the signal should still reach a pipe, but a thread
// stuck inside stdio must not keep the process alive: try the lock for a while.
void flush_stdout_if_free() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (ftrylockfile(stdout) == 0) {
            fflush_unlocked(stdout);
            funlockfile(stdout);
            return;
        }
        usleep(2000);
    }
}

// Lets the signal's default action happen to this thread (and so to the
// process): end it, or stop it until SIGCONT.
void take_default_action(int sig) {
    signal(sig, SIG_DFL);
    pthread_kill(pthread_self(), sig);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    // Only a stop returns here, once the process has been continued (or at
    // once, when the kernel discards the stop for an orphaned job).
    pthread_sigmask(SIG_BLOCK, &one, nullptr);
}

void install_forwarder(int sig);

void* watch_signals(void*) {
    for (;;) {
        int sig = 0;
        if (sigwait(&waited, &sig) != 0) {
            continue;
        }
        if (is_job_stop(sig)) {
            // The wheels stop before the process does; the loops carry on
            // where they were after SIGCONT.
            motor_suspend();
            take_default_action(sig);
            if (sig != SIGTSTP) {
                install_forwarder(sig);
            }
            motor_resume();
            resumptions.fetch_add(1);
            continue;
        }
        // The motors first: whatever else happens, the driver holds a stop.
        motor_halt();
        if (sig != SIGPIPE) {
            flush_stdout_if_free();
        }
        take_default_action(sig);
        // Not reached for the default dispositions of these signals.
        _exit(128 + sig);
    }
}

// Runs in the thread the kernel picked. For a job-control signal it waits
// until the watcher has stopped and resumed the process, so the interrupted
// terminal call is only retried once the job may be in the foreground again.
void forward_to_watcher(int sig) {
    const int saved_errno = errno;
    const unsigned before = resumptions.load();
    pthread_kill(watcher, sig);
    if (is_job_stop(sig)) {
        const timespec tick = {0, 1000000};
        while (resumptions.load() == before) {
            nanosleep(&tick, nullptr);
        }
    }
    errno = saved_errno;
}

void install_forwarder(int sig) {
    struct sigaction sa {};
    sa.sa_handler = forward_to_watcher;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
}

void stop_then_crash(int sig) {
    motor_halt_from_signal();
    // SA_RESETHAND has already restored the default: a fault re-executes and
    // takes it, a sent signal is raised again once this handler returns.
    raise(sig);
}

}  // namespace

void stop_guard_install() {
    if (installed) {
        return;
    }
    installed = true;
    sigemptyset(&waited);
    for (int sig : ending_signals) {
        sigaddset(&waited, sig);
    }
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        sigaddset(&waited, sig);
    }
    sigaddset(&waited, SIGTSTP);
    // Blocked here, before any worker exists, so every later thread inherits
    // the mask and only the watcher ever takes these signals.
    pthread_sigmask(SIG_BLOCK, &waited, nullptr);

    // The watcher alone also blocks the forwarded ones: they reach it only
    // through pthread_kill, and the sigwait takes them from there.
    sigset_t forwarded;
    sigemptyset(&forwarded);
    for (int sig : forwarded_signals) {
        sigaddset(&forwarded, sig);
        sigaddset(&waited, sig);
    }
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &forwarded, &before);
    if (pthread_create(&watcher, nullptr, watch_signals, nullptr) == 0) {
        pthread_detach(watcher);
        for (int sig : forwarded_signals) {
            install_forwarder(sig);
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);

    struct sigaction crash {};
    crash.sa_handler = stop_then_crash;
    sigemptyset(&crash.sa_mask);
    crash.sa_flags = SA_RESETHAND;
    for (int sig : crash_signals) {
        sigaction(sig, &crash, nullptr);
    }
}
