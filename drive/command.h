// The external commands the programs run (the camera's capture, scp to the
// host, ./drivehalt): one way to start them, so Ctrl-C ends them too.
#pragma once

// Runs line through /bin/sh -c, exactly as written, and waits for it, as
// system() does; the result is the same wait status system() gives (0 when
// the command succeeded, 127 as exit status when no shell could be started).
// Unlike system(), the command starts with no signal blocked and every signal
// at its default action, in the program's own process group: the stop
// guard's blocked signals and system()'s ignored SIGINT and SIGQUIT would
// otherwise pass to it, so the terminal's Ctrl-C would end the program but
// leave a hung capture or scp running in the background. The program's own
// signals are handled as at any other time while it waits.
int command_run(const char* line);
