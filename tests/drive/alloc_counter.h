// Test-only heap allocation counter. Linked into a test binary it replaces
// malloc and its relatives (and so every operator new, which ends in malloc),
// forwarding to the C library's allocator and counting each call made while
// the counter is armed, by any thread that has not opted out.
#pragma once

#include <cstddef>

// Zeroes the count and starts counting.
void alloc_counter_arm();
// Stops counting; returns the allocations counted since the last arm.
long alloc_counter_disarm();
// The calling thread's allocations stop (true) or resume (false) counting; a
// test opts its own bookkeeping out while the code under test runs.
void alloc_counter_exclude_this_thread(bool excluded);
// Size of the first allocation counted since the last arm (0 when none): a
// lead for the failure message.
std::size_t alloc_counter_first_size();
