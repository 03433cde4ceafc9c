// Thin layer over the serial handle of the ultrasonic board.
#pragma once

#include <termios.h>

// Saves the port's settings into *saved, programs 9600 8N1 raw (IGNPAR;
// B9600|CS8|CREAD|CLOCAL; VMIN 1, VTIME 0), flushes pending input, applies
// at once. Always 0.
int uss_set_serial_port(int fd, struct termios* saved);
// Writes the string without its NUL in one write; 0 when all bytes went, else -1.
int uss_put_serial_string(int fd, const char* text);
// Writes one byte; 0 when written, else -1.
int uss_put_serial_char(int fd, char c);
// Waits up to 50 ms for one byte: the byte (0..255), or 0 on time-out.
//
// When the wait or the read itself fails (a bad or hung-up handle, a handle
// that select cannot watch, a read that delivers nothing although the wait
// said it would) the result is 255. That is the board's own "no reading" mark:
// uss_get handles the result like a received byte, so a query whose high byte
// could not be read reports USS_NO_ECHO instead of a made-up 20 cm that a
// caller would take for a real, very close wall. An interrupted wait goes on
// for the rest of its 50 ms.
int uss_get_serial_char(int fd);
// The same wait, but a time-out gives USS_SERIAL_TIMEOUT instead of 0, so a
// silent board can be told from one that sent a zero byte.
constexpr int USS_SERIAL_TIMEOUT = -1;
int uss_wait_serial_char(int fd);
// Applies *settings at once, then closes fd; returns the close result.
int uss_close_serial_port(int fd, const struct termios* settings);
