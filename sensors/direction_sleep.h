// The pauses of the wall alignment, kept apart so the alignment's sequence of
// queries and moves can be checked without waiting through them.
#pragma once

// Sleeps the calling thread for us microseconds (interruptions resumed).
void direction_sleep_us(long us);
