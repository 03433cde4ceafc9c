#include "drive/stop_guard.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "drive/motor.h"

namespace {

sigset_t guarded;
bool installed = false;

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

void* watch_signals(void*) {
    int sig = 0;
    while (sigwait(&guarded, &sig) != 0) {
    }
    // The motors first: whatever else happens, the driver holds a stop.
    motor_halt();
    flush_stdout_if_free();
    // Then die of the signal itself, so the parent sees the usual status.
    signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    pthread_kill(pthread_self(), sig);
    // Not reached for the default dispositions of these signals.
    _exit(128 + sig);
}

}  // namespace

void stop_guard_install() {
    if (installed) {
        return;
    }
    installed = true;
    sigemptyset(&guarded);
    sigaddset(&guarded, SIGINT);
    sigaddset(&guarded, SIGTERM);
    sigaddset(&guarded, SIGHUP);
    // Blocked here, before any worker exists, so every later thread inherits
    // the mask and only the watcher ever takes these signals.
    pthread_sigmask(SIG_BLOCK, &guarded, nullptr);
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, watch_signals, nullptr) == 0) {
        pthread_detach(watcher);
    }
}
