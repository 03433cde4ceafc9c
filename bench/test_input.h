// Operator answers at the bench prompts. A console that meets the end of its
// input or an answer it cannot read must not go on with stale values (that
// would repeat the last command for ever), and nothing typed may reach the
// motors unless it is a finite number that fits its type: a failed read stops
// the motors, says why and makes the routine return.
//
// The reads consume what scanf's "%d", "%f" and "%c" would, and no more, so
// several answers may share a line ("20 100"). Each read first flushes the
// prompt, also when the answer was typed ahead and is already buffered.
#pragma once

// Reads a whole number ("%d"). It must fit an int and end at white space or
// the end of input: "2147483648", "1e39" or "12abc" are not whole numbers.
// False, with the motors stopped and the reason printed, when input ended or
// the answer was not a number.
bool test_input_int(int* value);
// The same, for an answer the routine subtracts from: below lowest it would
// overflow there, so it is no usable number either. False as above.
bool test_input_int_at_least(int* value, int lowest);
// Reads a number ("%f"); it must be finite, no larger in size than the
// largest int ("nan", "inf", "1e39" and "2147483648" are not) and end at white
// space or the end of input. False as above.
bool test_input_float(float* value);
// Reads one character ("%c"), white space included. False only at the end of input.
bool test_input_char(char* value);
// Reads and drops one character: the separator after an answer, as the drive
// console's reads do. One departure there: after the mode letter the console
// drops that letter's newline, but an empty line (the letter read is the
// newline itself) has none left to drop, so nothing is. Dropping one more
// character anyway would eat the first letter typed next: "s 20 3, empty
// line, s 20 3" would make five moves instead of three.
void test_input_skip_char();
// The motor output tests' two answers: "PWM value [left]= " and
// "PWM value [right]= ", each a whole number. False as above.
bool test_input_pwm_values(int* left, int* right);

// False, with the motors stopped and "the drive stopped on a fault: motors
// stopped, program ends" printed, once the speed loop has latched a drive
// fault (it has named the fault already); the routine then ends as for an
// answer that was not a number. True while the drive is healthy.
bool test_input_drive_ok();

// The program's exit status for the way the input went: 0 while every read
// succeeded or input simply ended, 1 after an answer that was not a number
// or a drive fault.
int test_input_status();
