#include "sim/camera/uvc_request.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMaxSide = 8192;

// A whole decimal number in 1..kMaxSide, nothing else.
bool parse_side(const char* text, int* out) {
    if (text == nullptr || *text == '\0')
        return false;
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > kMaxSide)
            return false;
    }
    if (value < 1)
        return false;
    *out = static_cast<int>(value);
    return true;
}

}  // namespace

void uvc_fail(const std::string& message) {
    std::fprintf(stderr, "uvccapture: %s\n", message.c_str());
}

int uvc_parse_args(int argc, char** argv, capture_request* req) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            uvc_fail(std::string("unexpected argument '") + arg + "'");
            return -1;
        }
        const char opt = arg[1];
        if (opt == 'v' && arg[2] == '\0') {
            req->verbose = true;
            continue;
        }
        if (std::strchr("oxydq", opt) == nullptr) {
            uvc_fail(std::string("unknown option '") + arg + "'");
            return -1;
        }
        const char* value = arg + 2;
        if (*value == '\0') {
            if (i + 1 >= argc) {
                uvc_fail(std::string("option -") + opt + " needs a value");
                return -1;
            }
            value = argv[++i];
        }
        if (opt == 'o') {
            req->path = value;
        } else if (opt == 'x' || opt == 'y') {
            int side = 0;
            if (!parse_side(value, &side)) {
                uvc_fail(std::string("bad ") + (opt == 'x' ? "width" : "height") + " '" + value +
                         "' (1.." + std::to_string(kMaxSide) + ")");
                return -1;
            }
            (opt == 'x' ? req->width : req->height) = side;
        }
    }
    if (req->path.empty()) {
        uvc_fail("empty output file name");
        return -1;
    }
    // The request is one line; blanks are fine (the simulator takes the size
    // from the end of the line), line breaks are not.
    for (char c : req->path) {
        if (c == '\n' || c == '\r') {
            uvc_fail("output file name must not hold line breaks: '" + req->path + "'");
            return -1;
        }
    }
    return 0;
}

bool uvc_make_absolute(std::string* path) {
    if ((*path)[0] == '/')
        return true;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        uvc_fail(std::string("cannot tell the working directory: ") + std::strerror(errno));
        return false;
    }
    std::string rel = *path;
    while (rel.compare(0, 2, "./") == 0)
        rel.erase(0, 2);
    std::string base = cwd;
    if (base.back() != '/')
        base += '/';
    *path = base + rel;
    return true;
}
