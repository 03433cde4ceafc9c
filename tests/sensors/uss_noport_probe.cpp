// Runs a range query without a usable serial port, for the test that checks
// how the query ends the program. "unopened": the port was never opened;
// "failed": the registry tried and failed (its own lines are not part of the check).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "drive/device.h"
#include "sensors/uss.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "failed") == 0) {
        int out = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        device_uss_open();
        std::fflush(stdout);
        dup2(out, STDOUT_FILENO);
        close(out);
        close(null);
    }
    int range = uss_get(1);
    std::printf("uss_get returned %d\n", range);
    return 0;
}
