// The scratch file "test.data" that the motor and encoder tests create (or
// empty) when they start. Nothing is written to it.
#pragma once

#include <cstdio>

// Opens "test.data" in the working directory for writing; the stream stays
// open until test_scratch_close or the end of the process. Null when the file
// cannot be created, and the test carries on without it.
FILE* test_scratch_open();
// Closes the stream if one is open.
void test_scratch_close();
