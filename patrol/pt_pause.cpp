#include "patrol/pt_pause.h"

#include <cerrno>
#include <ctime>

void pt_pause_us(long us) {
    timespec rest{us / 1000000, (us % 1000000) * 1000};
    // A signal (the stop guard's, a debugger's) must not cut a pause short.
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}
