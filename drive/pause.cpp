#include "drive/pause.h"

#include <cerrno>
#include <ctime>

void pause_us(long us) {
    timespec rest{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}
