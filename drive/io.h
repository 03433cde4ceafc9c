// The digital I/O port: 12 input characters read in one piece.
#pragma once

#include <cstddef>

constexpr std::size_t IO_INPUTS = 12;

// One read of 12 bytes from the I/O device into buffer (room for >= 12 bytes).
// Returns what the read returned (bytes read, or -1); no terminator, no retry,
// bytes beyond a short read are left as they were.
int io_get(char* buffer);
