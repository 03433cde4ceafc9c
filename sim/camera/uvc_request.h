// The capture stand-in's request: its command line read into the file and
// the frame size, and the file made absolute for the simulator.
#pragma once

#include <string>

struct capture_request {
    std::string path = "snap.jpg";
    int width = 320;
    int height = 240;
    bool verbose = false;
};

// "uvccapture: <message>" on standard error.
void uvc_fail(const std::string& message);
// 0 when the arguments were understood; a message on standard error and -1
// otherwise.
int uvc_parse_args(int argc, char** argv, capture_request* req);
// The simulator writes the file from its own working directory, so it gets
// the path as the caller meant it.
bool uvc_make_absolute(std::string* path);
