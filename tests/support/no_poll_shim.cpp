// Preloaded into a program (LD_PRELOAD) to make the encoder node behave as a
// character device whose driver has no poll method and no non-blocking mode:
// Linux then calls such a device always ready, and its read blocks until
// there is data. The simulator's node is a pseudo-terminal, which answers
// poll truthfully; under this shim a program that leaned on poll (or on
// O_NONBLOCK) to notice a silent encoder would no longer notice it.
// The node is $TAVI_DEVICE_DIR/encoder_dev, recognised by its device number.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdlib>
#include <string>

namespace {

bool is_encoder(int fd) {
    static dev_t encoder = [] {
        const char* dir = std::getenv("TAVI_DEVICE_DIR");
        struct stat st {};
        if (dir == nullptr || stat((std::string(dir) + "/encoder_dev").c_str(), &st) != 0) {
            return static_cast<dev_t>(0);
        }
        return st.st_rdev;
    }();
    struct stat st {};
    return encoder != 0 && fd >= 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == encoder;
}

// The real call on the other entries (poll skips an entry whose fd is
// negative), told not to wait when the encoder is among them, then the
// encoder's entries marked ready for whatever they wait for.
template <typename Call>
int answer(pollfd* fds, nfds_t n, Call real_call) {
    int marked = 0;
    for (nfds_t i = 0; i < n; ++i) {
        if (is_encoder(fds[i].fd)) {
            fds[i].fd = ~fds[i].fd;
            ++marked;
        }
    }
    if (marked == 0) {
        return real_call(false);
    }
    const int others = real_call(true);
    for (nfds_t i = 0; i < n; ++i) {
        if (fds[i].fd < 0 && is_encoder(~fds[i].fd)) {
            fds[i].fd = ~fds[i].fd;
            fds[i].revents = static_cast<short>(fds[i].events & (POLLIN | POLLOUT));
        }
    }
    return others < 0 ? others : others + marked;
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int poll(pollfd* fds, nfds_t n, int timeout) {
    static auto real = next<int (*)(pollfd*, nfds_t, int)>("poll");
    return answer(fds, n, [&](bool now) { return real(fds, n, now ? 0 : timeout); });
}

extern "C" int ppoll(pollfd* fds, nfds_t n, const timespec* timeout, const sigset_t* mask) {
    static auto real = next<int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*)>("ppoll");
    const timespec zero{0, 0};
    return answer(fds, n, [&](bool now) { return real(fds, n, now ? &zero : timeout, mask); });
}

extern "C" int select(int n, fd_set* rd, fd_set* wr, fd_set* ex, timeval* timeout) {
    static auto real = next<int (*)(int, fd_set*, fd_set*, fd_set*, timeval*)>("select");
    int marked = 0;
    fd_set want_rd, want_wr;
    FD_ZERO(&want_rd);
    FD_ZERO(&want_wr);
    for (int fd = 0; fd < n; ++fd) {
        if (!is_encoder(fd)) {
            continue;
        }
        if (rd != nullptr && FD_ISSET(fd, rd)) {
            FD_SET(fd, &want_rd);
            FD_CLR(fd, rd);
            ++marked;
        }
        if (wr != nullptr && FD_ISSET(fd, wr)) {
            FD_SET(fd, &want_wr);
            FD_CLR(fd, wr);
            ++marked;
        }
    }
    timeval zero{0, 0};
    const int others = real(n, rd, wr, ex, marked > 0 ? &zero : timeout);
    for (int fd = 0; fd < n && marked > 0; ++fd) {
        if (FD_ISSET(fd, &want_rd)) {
            FD_SET(fd, rd);
        }
        if (FD_ISSET(fd, &want_wr)) {
            FD_SET(fd, wr);
        }
    }
    return others < 0 ? others : others + marked;
}

// No non-blocking mode: the flag is dropped for the encoder.
extern "C" int fcntl(int fd, int cmd, ...) {
    static auto real = next<int (*)(int, int, ...)>("fcntl");
    va_list args;
    va_start(args, cmd);
    const long arg = va_arg(args, long);
    va_end(args);
    if (cmd == F_SETFL && is_encoder(fd)) {
        return real(fd, cmd, arg & ~static_cast<long>(O_NONBLOCK));
    }
    return real(fd, cmd, arg);
}
