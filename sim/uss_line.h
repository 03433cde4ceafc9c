// The ultrasonic board's side of its serial line: a request byte names the
// channel, and its two reply bytes leave the board at their own times, after
// the echo's latency and one after the other, never overlapping the previous
// reply. Served by the device thread only.
#pragma once

#include <cstdint>

#include "sim/state.h"
#include "sim/world.h"

// Empties the queue and frees the line (at the start of a run).
void uss_line_reset();
// Takes one request byte: measures, queues the reply (unless the board is
// silent) and logs what it saw.
void uss_line_request(const sim_world& w, sim_shared* s, uint8_t byte);
// When the next queued reply byte is due; false when none waits.
bool uss_line_next_due(double* due);
// The next reply byte due by `now`, taken off the queue; false when none.
bool uss_line_pop_due(double now, uint8_t* value);
