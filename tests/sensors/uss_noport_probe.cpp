// Runs a range query without a usable serial port, for the test that checks
// how the query ends the program. "unopened": the port was never opened;
// "failed": the registry tried and failed (its own lines are not part of the
// check); "motor": as "unopened", but with the motor device open, as when the
// wheels may be under command.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "drive/device.h"
#include "sensors/uss.h"

namespace {

// Runs open with its report lines sent to /dev/null.
void open_quietly(int (*open)()) {
    int out = dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    open();
    std::fflush(stdout);
    dup2(out, STDOUT_FILENO);
    close(out);
    close(null);
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "unopened";
    if (std::strcmp(mode, "failed") == 0) {
        open_quietly(device_uss_open);
    } else if (std::strcmp(mode, "motor") == 0) {
        open_quietly(device_motor_open);
    }
    int range = uss_get(1);
    std::printf("uss_get returned %d\n", range);
    return 0;
}
