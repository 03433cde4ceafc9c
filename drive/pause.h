// The waits of the callers that poll the run controller between moves (the
// wall alignment, the patrol): in a file of their own, so a test can link a
// recording stand-in and check a sequence of queries and moves without
// sitting through its pauses. The worker loops' period sleep is not one of
// them (see DRIVE_PERIOD_US).
#pragma once

// Sleeps the calling thread for us microseconds. A signal (the stop guard's,
// a debugger's) does not cut the pause short: the rest is slept.
void pause_us(long us);
