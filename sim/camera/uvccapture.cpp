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

#include "sim/camera/uvc_request.h"

namespace {

// Longest wait for the simulator's answer. Rendering takes milliseconds; a
// silent simulator must not hang the robot program for ever.
constexpr int kReplyTimeoutMs = 10000;

int connect_simulator() {
    const char* sock_path = std::getenv("TAVI_SIM_SOCKET");
    if (sock_path == nullptr || *sock_path == '\0') {
        uvc_fail(
            "TAVI_SIM_SOCKET is not set: no simulator to take the picture (run under scripts/sim)");
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (std::strlen(sock_path) >= sizeof addr.sun_path) {
        uvc_fail(std::string("socket path too long: ") + sock_path);
        return -1;
    }
    std::strcpy(addr.sun_path, sock_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        uvc_fail(std::string("socket: ") + std::strerror(errno));
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        uvc_fail(std::string("cannot reach the simulator at ") + sock_path + ": " +
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
            uvc_fail(std::string("sending the request: ") + std::strerror(errno));
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
            uvc_fail(std::string("waiting for the simulator: ") + std::strerror(errno));
            return false;
        }
        if (r == 0) {
            waited_ms += kSliceMs;
            if (waited_ms >= kReplyTimeoutMs) {
                uvc_fail("the simulator did not answer within " +
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
            uvc_fail("the simulator closed the connection without an answer");
            return false;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n')
                return true;
            *line += buf[i];
        }
        if (line->size() > 4096) {
            uvc_fail("the simulator's answer is too long");
            return false;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    capture_request req;
    if (uvc_parse_args(argc, argv, &req) != 0)
        return 1;
    if (!uvc_make_absolute(&req.path))
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
        uvc_fail("capture failed: " +
                 (reply.size() > 5 ? reply.substr(5) : std::string("no reason given")));
        return 1;
    }
    uvc_fail("unexpected answer from the simulator: '" + reply + "'");
    return 1;
}
