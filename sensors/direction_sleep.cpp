#include "sensors/direction_sleep.h"

#include <cerrno>
#include <ctime>

void direction_sleep_us(long us) {
    timespec left{};
    left.tv_sec = us / 1000000;
    left.tv_nsec = (us % 1000000) * 1000;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
