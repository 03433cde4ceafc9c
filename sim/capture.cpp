#include "sim/capture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "sim/camera/camera.h"
#include "sim/physics.h"
#include "sim/record.h"

namespace {

int listen_fd = -1;

// A whole positive decimal number of at most five digits, else -1.
long parse_size(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stol(text);
}
std::string socket_path;

std::string capture(const sim_world& w, sim_shared* s, const std::string& path, int width,
                    int height) {
    uint8_t present[kWorldMaxBoards];
    state_present(*s, present);
    sim_pose cam = physics_mount_pose(state_pose(*s), kWorldCameraForward, 0, 0);
    std::vector<camera_board> boards;
    for (size_t i = 0; i < w.boards.size(); ++i) {
        if (!present[i])
            continue;
        const sim_board& b = w.boards[i];
        boards.push_back(camera_board{b.x, b.y, b.facing, b.width, kCameraBoardHeight, b.digits});
    }
    int64_t n = s->captures.load(std::memory_order_relaxed);
    camera_options opt{w.camera_blur, w.camera_noise, w.camera_light,
                       w.seed + static_cast<uint32_t>(n)};
    cv::Mat frame = camera_render(boards, cam.x, cam.y, cam.heading, width, height, opt);
    if (frame.empty())
        return "fail render";
    const double now = state_now(*s);
    if (!world_fault_due(w, sim_fault::capture_nofile, now)) {
        std::vector<uchar> jpeg;
        if (!cv::imencode(".jpg", frame, jpeg))
            return "fail encode";
        size_t keep =
            world_fault_due(w, sim_fault::capture_truncated, now) ? jpeg.size() / 2 : jpeg.size();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            return std::string("fail cannot write ") + path;
        out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(keep));
        if (!out)
            return std::string("fail cannot write ") + path;
    }
    // The board in view counts this capture; enough of them take it away.
    double dist = 0;
    int board = world_board_ahead(w, present, cam.x, cam.y, cam.heading, &dist);
    if (board >= 0) {
        int seen = s->captures_of[board].fetch_add(1, std::memory_order_relaxed) + 1;
        if (w.boards[board].remove_after > 0 && seen == w.boards[board].remove_after) {
            s->present[board].store(0, std::memory_order_relaxed);
            s->boards_removed.fetch_add(1, std::memory_order_relaxed);
            char detail[64];
            std::snprintf(detail, sizeof detail, "board %d digits %s", board,
                          w.boards[board].digits.c_str());
            record_event(*s, "board_removed", detail);
        }
    }
    return "ok";
}

void serve_client(const sim_world& w, sim_shared* s, int fd) {
    std::string buf;
    char chunk[512];
    while (!s->stop.load(std::memory_order_relaxed)) {
        pollfd p{fd, POLLIN, 0};
        int rc = poll(&p, 1, 100);
        if (rc < 0 && errno != EINTR)
            return;
        if (rc <= 0)
            continue;
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return;
        buf.append(chunk, static_cast<size_t>(n));
        if (buf.size() > 8192)
            return;  // no sane request is this long
        size_t nl;
        while ((nl = buf.find('\n')) != std::string::npos) {
            std::string reply = capture_handle(w, s, buf.substr(0, nl));
            buf.erase(0, nl + 1);
            if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0)
                return;
        }
    }
}

}  // namespace

std::string capture_handle(const sim_world& w, sim_shared* s, const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "ping")
        return "ok\n";
    if (verb == "pose") {
        sim_pose p = state_pose(*s);
        char out[96];
        std::snprintf(out, sizeof out, "pose %.2f %.2f %.2f\n", p.x, p.y, p.heading);
        return out;
    }
    if (verb != "capture")
        return "fail unknown request\n";
    // "capture PATH WIDTH HEIGHT": the path may hold blanks (a run folder
    // under "My robot"), so the sizes are read from the end of the line and
    // the path is everything between.
    std::string path;
    long width = 0, height = 0;
    const size_t h_at = line.rfind(' ');
    const size_t w_at =
        h_at == std::string::npos || h_at == 0 ? std::string::npos : line.rfind(' ', h_at - 1);
    const size_t path_at = verb.size() + 1;
    if (w_at != std::string::npos && w_at > path_at && line.compare(0, path_at, verb + " ") == 0) {
        path = line.substr(path_at, w_at - path_at);
        width = parse_size(line.substr(w_at + 1, h_at - w_at - 1));
        height = parse_size(line.substr(h_at + 1));
    }
    if (path.empty() || path[0] != '/' || width < 1 || height < 1 || width > 4096 ||
        height > 4096) {
        s->captures_failed.fetch_add(1, std::memory_order_relaxed);
        record_event(*s, "capture", "bad request");
        return "fail bad request\n";
    }
    std::string result =
        world_fault_due(w, sim_fault::capture_fail, state_now(*s))
            ? "fail injected"
            : capture(w, s, path, static_cast<int>(width), static_cast<int>(height));
    (result == "ok" ? s->captures : s->captures_failed).fetch_add(1, std::memory_order_relaxed);
    std::string detail =
        path + " " + std::to_string(width) + "x" + std::to_string(height) + " " + result;
    for (char& c : detail)
        if (c == ',')
            c = ';';
    record_event(*s, "capture", detail.c_str());
    return result + "\n";
}

int capture_open(const std::string& path, std::string* error) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        *error = path + ": socket path too long";
        return -1;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(path.c_str());
    if (listen_fd < 0 || bind(listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd, 8) != 0) {
        *error = path + ": " + std::strerror(errno);
        return -1;
    }
    socket_path = path;
    return 0;
}

void capture_run(const sim_world& w, sim_shared* s) {
    while (!s->stop.load(std::memory_order_relaxed)) {
        pollfd p{listen_fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        serve_client(w, s, fd);
        close(fd);
    }
}

void capture_close() {
    if (listen_fd >= 0)
        close(listen_fd);
    listen_fd = -1;
    if (!socket_path.empty())
        unlink(socket_path.c_str());
    socket_path.clear();
}
