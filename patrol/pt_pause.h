// The patrol's waits (end-flag polling, pauses between steps), kept apart so
// the route's sequence of moves and checks can be tested without sitting
// through them.
#pragma once

// Sleeps the calling thread for us microseconds; interruptions are resumed.
void pt_pause_us(long us);
