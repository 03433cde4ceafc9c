#include "vision/get_img.h"

#include <unistd.h>

#include <cstdio>

#include "drive/command.h"

namespace {

// Command lines go through a 100-byte buffer: 99 characters and the zero.
constexpr int COMMAND_SIZE = 100;
// Lets the capture program's file settle before the caller opens it.
constexpr useconds_t SETTLE_US = 10000;

// The path reaches the shell unquoted, so only characters that the shell takes
// literally are let through; anything else could start another command.
bool path_is_plain(const char* path) {
    if (path == nullptr || *path == '\0') {
        return false;
    }
    for (const char* p = path; *p != '\0'; ++p) {
        const char c = *p;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '/' || c == '_' || c == '-';
        if (!plain) {
            return false;
        }
    }
    return true;
}

int refuse(const char* why) {
    std::fputs(why, stdout);
    std::fputs("Capture fail!!\n", stdout);
    return -1;
}

}  // namespace

int get_img(const char* path, int width, int height) {
    if (!path_is_plain(path)) {
        return refuse("capture path refused: only letters, digits and . / _ - are allowed\n");
    }
    char command[COMMAND_SIZE];
    const int length =
        std::snprintf(command, sizeof command, "uvccapture -o%s -x%d -y%d\n", path, width, height);
    if (length < 0 || length >= COMMAND_SIZE) {
        return refuse("capture command longer than 99 characters, not run\n");
    }
    // Our earlier lines must come out before the capture program's own.
    std::fflush(stdout);
    const int status = command_run(command);
    usleep(SETTLE_US);
    if (status != 0) {
        std::fputs("Capture fail!!\n", stdout);
        return -1;
    }
    return 0;
}
