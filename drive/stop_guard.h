// Leaves the motors stopped whenever a program stops controlling them. The
// motor driver holds the last command, so without this the robot drives on
// after Ctrl-C, Ctrl-\, Ctrl-Z, a closed pipe or a crash.
#pragma once

// Call first in main, before any other thread exists. Afterwards:
// - every signal whose default ends the process (SIGINT, SIGTERM, SIGHUP,
//   SIGQUIT, SIGPIPE, the user, timer and real-time signals...) makes a watcher
//   thread call motor_halt() (stop frame last, nothing after it); the process
//   then ends of that signal, with its usual status (and core, where due);
// - a crash signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP,
//   SIGXFSZ) sends the stop frame with one async-signal-safe write, then takes
//   its default action;
// - a job-control stop (SIGTSTP, SIGTTIN, SIGTTOU) sends the stop frame and
//   holds every frame back while the process is suspended; after SIGCONT the
//   program carries on where it was.
// SIGKILL and SIGSTOP cannot be caught: run drivehalt after them.
void stop_guard_install();
