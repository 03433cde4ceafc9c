// Digital input test: all 12 inputs once a second, for ever.
#pragma once

void test_io();

// Character shown for input i (0-based) after a read that delivered `got`
// bytes (-1 for a failed read): the byte itself when the read delivered it,
// else '?', so stale or never-read buffer contents are never shown as inputs.
char test_io_shown(const char* buffer, int got, int i);
