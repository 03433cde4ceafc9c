// Leaves the motors stopped when a program is interrupted. The motor driver
// holds the last command, so without this the robot drives on after Ctrl-C.
#pragma once

// Call first in main, before any other thread exists: blocks SIGINT, SIGTERM
// and SIGHUP in every thread and starts a watcher thread. On such a signal the
// watcher calls motor_halt() (stop frame last, nothing after it) and the
// process then ends with the signal's usual status.
void stop_guard_install();
