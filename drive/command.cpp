#include "drive/command.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int command_run(const char* line) {
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        return -1;
    }
    sigset_t none;
    sigemptyset(&none);
    // Every signal that can be set, the real-time ones included.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig = 1; sig < SIGRTMIN; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP) {
            sigaddset(&defaults, sig);
        }
    }
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char sh[] = "sh";
    char c[] = "-c";
    char* argv[] = {sh, c, const_cast<char*>(line), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (spawned != 0) {
        return 127 << 8;  // what system() reports when the shell could not run
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}
