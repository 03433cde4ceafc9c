// Number recognition test: up to ten readings of two digits, a second apart.
#pragma once

// 0 once both digits were read, -1 after ten attempts without them (or when
// the distance could not be read).
int test_number();

constexpr int TEST_NUMBER_ATTEMPTS = 10;
