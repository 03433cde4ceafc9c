// Range query to the ultrasonic board, one channel at a time.
#pragma once

constexpr int USS_NO_ECHO = 99999;  // the board reported no valid reading

// Range of channel 1..4 in cm (board reading + 20, plus the channel offset),
// USS_NO_ECHO when the board has no reading, -1 for any other channel (the
// port is not touched). A failed read of the port also gives USS_NO_ECHO
// (see uss_get_serial_char). Ends the process with status -1, printing
// nothing, when the serial port did not open; a stop frame is sent first
// when the motor device is open.
int uss_get(int channel);

// The query's exchange on a port already set up: the request byte written,
// then two reply bytes, each waited for by wait_byte (uss_wait_serial_char
// for uss_get; a test passes its own, so no real time has to pass). The
// range as uss_get gives it; -1 for any channel but 1..4, the port untouched.
int uss_query(int fd, int channel, int (*wait_byte)(int fd));

// True when the last uss_get on channel 1..4 received both reply bytes. A
// silent board reads as 0 cm + 20 = "20 cm", which looks like a real wall.
bool uss_last_answered();
