// Stops both drive motors from outside any control program and exits.
// Deliberately self-contained (no project library), so it still works when a
// control program is wedged or was built differently.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    // With standard output closed the node would get descriptor 1 and the
    // closing line would reach the motor driver as four bogus frames.
    for (int std_fd = 0; std_fd <= 2; ++std_fd) {
        if (fcntl(std_fd, F_GETFD) == -1) {
            open("/dev/null", std_fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
    const char* dir = getenv("TAVI_DEVICE_DIR");
    const bool emulated = dir != nullptr && dir[0] != '\0';
    // Left set on the robot, the variable would make this stop reach a file
    // instead of the motors: say so, off the transcript.
    if (emulated) {
        fprintf(stderr, "TAVI_DEVICE_DIR is set: device nodes are taken from %s, not /dev\n", dir);
    }
    std::string node = emulated ? std::string(dir) + "/motor_dev" : std::string("/dev/motor_dev");
    int fd = open(node.c_str(), O_RDWR);
    // Left stop, right stop; the driver holds it after we are gone. Nothing is
    // checked: a missing device simply makes the write fail.
    const unsigned char stop[2] = {0x00, 0x00};
    ssize_t n = write(fd, stop, sizeof stop);
    (void)n;
    printf("Program stopped\n");
    return 0;
}
