// Operator answers at the bench prompts. A console that meets the end of its
// input or an answer it cannot read must not go on with stale values (that
// would repeat the last command for ever), so a failed read stops the motors,
// says why and makes the routine return.
#pragma once

// Reads a whole number ("%d") and drops the rest of its line. False, with the
// motors stopped and the reason printed, when input ended or was not a number.
bool test_input_int(int* value);
// Reads a number ("%f") and drops the rest of its line; false as above.
bool test_input_float(float* value);
// Reads one character ("%c"); unless it is the newline itself, drops the rest
// of its line. False only at the end of input.
bool test_input_char(char* value);

// The program's exit status for the way the input went: 0 while every read
// succeeded or input simply ended, 1 after an answer that was not a number.
int test_input_status();
