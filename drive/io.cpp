#include "drive/io.h"

#include <unistd.h>

#include "drive/device.h"

int io_get(char* buffer) {
    // One read, no retry: the driver hands over all inputs at once, and a
    // short read is reported to the caller as it came.
    return static_cast<int>(read(device_io_get(), buffer, IO_INPUTS));
}
