// Stand-in for the camera capture command, for runs inside the simulator.
//
//   uvccapture [-o<file>] [-x<width>] [-y<height>] [-v] [-d<device>] [-q<quality>]
//
// Each option takes its value attached or as the next argument. Defaults are
// those of the real tool: snap.jpg, 320 x 240. -d and -q are accepted and
// ignored (the simulator has one camera and its own JPEG quality).
//
// The frame comes from the running simulator: the command connects to the
// Unix stream socket named by $TAVI_SIM_SOCKET, sends
// "capture <absolute path> <width> <height>\n" and waits for one reply line.
// The path goes as it is, blanks, quotes and all: the simulator reads the
// two sizes from the end of the line and takes everything between as the path.
// "ok" means the JPEG is written (exit 0); "fail <reason>" is reported on
// standard error (exit 1). No simulator, no answer within the time-out, or a
// malformed command line also give a message on standard error and exit 1,
// so the caller sees a failed capture exactly as with a broken camera.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Longest wait for the simulator's answer. Rendering takes milliseconds; a
// silent simulator must not hang the robot program for ever.
constexpr int kReplyTimeoutMs = 10000;
constexpr int kMaxSide = 8192;

struct capture_request {
    std::string path = "snap.jpg";
    int width = 320;
    int height = 240;
    bool verbose = false;
};

void fail(const std::string& message) {
    std::fprintf(stderr, "uvccapture: %s\n", message.c_str());
}

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

// 0 when the arguments were understood; a message on standard error and -1
// otherwise.
int parse_args(int argc, char** argv, capture_request* req) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            fail(std::string("unexpected argument '") + arg + "'");
            return -1;
        }
        const char opt = arg[1];
        if (opt == 'v' && arg[2] == '\0') {
            req->verbose = true;
            continue;
        }
        if (std::strchr("oxydq", opt) == nullptr) {
            fail(std::string("unknown option '") + arg + "'");
            return -1;
        }
        const char* value = arg + 2;
        if (*value == '\0') {
            if (i + 1 >= argc) {
                fail(std::string("option -") + opt + " needs a value");
                return -1;
            }
            value = argv[++i];
        }
        if (opt == 'o') {
            req->path = value;
        } else if (opt == 'x' || opt == 'y') {
            int side = 0;
            if (!parse_side(value, &side)) {
                fail(std::string("bad ") + (opt == 'x' ? "width" : "height") + " '" + value +
                     "' (1.." + std::to_string(kMaxSide) + ")");
                return -1;
            }
            (opt == 'x' ? req->width : req->height) = side;
        }
    }
    if (req->path.empty()) {
        fail("empty output file name");
        return -1;
    }
    // The request is one line; blanks are fine (the simulator takes the size
    // from the end of the line), line breaks are not.
    for (char c : req->path) {
        if (c == '\n' || c == '\r') {
            fail("output file name must not hold line breaks: '" + req->path + "'");
            return -1;
        }
    }
    return 0;
}

// The simulator writes the file from its own working directory, so it gets
// the path as the caller meant it.
bool make_absolute(std::string* path) {
    if ((*path)[0] == '/')
        return true;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        fail(std::string("cannot tell the working directory: ") + std::strerror(errno));
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

int connect_simulator() {
    const char* sock_path = std::getenv("TAVI_SIM_SOCKET");
    if (sock_path == nullptr || *sock_path == '\0') {
        fail(
            "TAVI_SIM_SOCKET is not set: no simulator to take the picture (run under scripts/sim)");
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (std::strlen(sock_path) >= sizeof addr.sun_path) {
        fail(std::string("socket path too long: ") + sock_path);
        return -1;
    }
    std::strcpy(addr.sun_path, sock_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(std::string("socket: ") + std::strerror(errno));
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        fail(std::string("cannot reach the simulator at ") + sock_path + ": " +
             std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(std::string("sending the request: ") + std::strerror(errno));
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// One reply line without its newline; false on time-out, error or a closed
// connection before the newline.
bool read_line(int fd, std::string* line) {
    line->clear();
    int waited_ms = 0;
    constexpr int kSliceMs = 100;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, kSliceMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            fail(std::string("waiting for the simulator: ") + std::strerror(errno));
            return false;
        }
        if (r == 0) {
            waited_ms += kSliceMs;
            if (waited_ms >= kReplyTimeoutMs) {
                fail("the simulator did not answer within " +
                     std::to_string(kReplyTimeoutMs / 1000) + " s");
                return false;
            }
            continue;
        }
        char buf[256];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail("the simulator closed the connection without an answer");
            return false;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n')
                return true;
            *line += buf[i];
        }
        if (line->size() > 4096) {
            fail("the simulator's answer is too long");
            return false;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    capture_request req;
    if (parse_args(argc, argv, &req) != 0)
        return 1;
    if (!make_absolute(&req.path))
        return 1;
    if (req.verbose) {
        std::printf("Saving images to: %s (%dx%d)\n", req.path.c_str(), req.width, req.height);
        std::fflush(stdout);
    }
    const int fd = connect_simulator();
    if (fd < 0)
        return 1;
    const std::string request = "capture " + req.path + " " + std::to_string(req.width) + " " +
                                std::to_string(req.height) + "\n";
    std::string reply;
    const bool answered = send_all(fd, request) && read_line(fd, &reply);
    close(fd);
    if (!answered)
        return 1;
    if (!reply.empty() && reply.back() == '\r')
        reply.pop_back();
    if (reply == "ok")
        return 0;
    if (reply.compare(0, 5, "fail ") == 0 || reply == "fail") {
        fail("capture failed: " +
             (reply.size() > 5 ? reply.substr(5) : std::string("no reason given")));
        return 1;
    }
    fail("unexpected answer from the simulator: '" + reply + "'");
    return 1;
}
