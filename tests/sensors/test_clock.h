// Elapsed-time measurement for the timing checks of the sensor tests.
#pragma once

#include <chrono>

using test_clock = std::chrono::steady_clock;

inline long elapsed_ms(test_clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(test_clock::now() - since).count());
}
