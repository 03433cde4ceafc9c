// Stand-in for the secure-copy command, for runs inside the simulator. It
// plays the host computer with a plain directory, $TAVI_SIM_HOST_DIR, which
// stands for the home directory of the account tavi on the host.
//
// Exactly two forms are served, the two the robot's file exchange uses:
//
//   scp <local file> tavi@<ip>:<dir>/          copies the file into
//                                              $TAVI_SIM_HOST_DIR/<dir>/
//   scp tavi@<ip>:<dir>/<name> ./              copies $TAVI_SIM_HOST_DIR/<dir>/<name>
//                                              into the working directory
//
// <ip> is a dotted IPv4 address, <dir> a relative directory that must exist
// on the host (as on a real host, nothing creates it on the fly). Anything
// else is refused with a message on standard error and exit status 1: options,
// a different number of arguments, another account, a missing or non-regular
// file, an absolute path or one that leaves the host directory (".." or a
// symbolic link pointing out of it). Copies land under a temporary name and are
// renamed into place, so a reader never sees half a file.
//
// Fault switches: the copy fails (exit 1, with the message a refused ssh
// connection gives) when the environment variable TAVI_SIM_SCP_FAIL is set to
// anything but "" or "0", or when the file $TAVI_SIM_HOST_DIR/.fail exists.
// The file can be created and removed while a program runs.
//
// Log: every call appends one line to $TAVI_SIM_HOST_DIR/../scp.log:
//   <unix time> <exit status> <arguments> : <outcome>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/host/remote.h"

namespace fs = std::filesystem;

namespace {

std::string g_args;     // the command line as called, for the log
std::string g_outcome;  // what happened, for the log

int refuse(const std::string& message) {
    std::fprintf(stderr, "scp: %s\n", message.c_str());
    g_outcome = message;
    return 1;
}

// Copies src to dst through a temporary name beside dst.
bool copy_file(const fs::path& src, const fs::path& dst, std::string* why) {
    std::ifstream in(src, std::ios::binary);
    if (!in) {
        *why = src.string() + ": " + std::strerror(errno);
        return false;
    }
    const fs::path tmp = dst.string() + ".scp-" + std::to_string(getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) {
            *why = dst.string() + ": " + std::strerror(errno);
            return false;
        }
        out << in.rdbuf();
        out.flush();
        if (!out || in.bad()) {
            *why = dst.string() + ": write failed";
            out.close();
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), dst.c_str()) != 0) {
        *why = dst.string() + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool is_regular(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool is_dir(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool fault_switched_on(const fs::path& host_dir) {
    const char* env = std::getenv("TAVI_SIM_SCP_FAIL");
    if (env != nullptr && *env != '\0' && std::strcmp(env, "0") != 0)
        return true;
    std::error_code ec;
    return fs::exists(host_dir / ".fail", ec);
}

int put(const std::string& local, const remote_spec& r, const fs::path& home) {
    if (r.path.back() != '/') {
        return refuse("'" + r.path + "': the destination must be a directory ending in '/'");
    }
    if (!is_regular(local))
        return refuse(local + ": No such file or not a regular file");
    const fs::path dir = home / r.path;
    if (!is_dir(dir) || !remote_inside(home, dir))
        return refuse(r.path + ": No such directory on the host");
    std::string why;
    if (!copy_file(local, dir / fs::path(local).filename(), &why))
        return refuse(why);
    g_outcome = "sent to " + (dir / fs::path(local).filename()).string();
    return 0;
}

int get(const remote_spec& r, const std::string& target, const fs::path& home) {
    if (target != "./")
        return refuse("'" + target + "': files are fetched only into ./");
    const fs::path src = home / r.path;
    const std::string name = fs::path(r.path).filename().string();
    if (name.empty() || name == "." || name == "..")
        return refuse(r.path + ": not a file name");
    if (!is_regular(src) || !remote_inside(home, src))
        return refuse(r.path + ": No such file or directory");
    std::string why;
    if (!copy_file(src, fs::path(".") / name, &why))
        return refuse(why);
    g_outcome = "fetched " + src.string();
    return 0;
}

int run(int argc, char** argv, const fs::path& home) {
    if (argc != 3) {
        return refuse("usage: scp <file> tavi@<ip>:<dir>/ | scp tavi@<ip>:<dir>/<name> ./");
    }
    const std::string a = argv[1];
    const std::string b = argv[2];
    if (a.empty() || b.empty() || a[0] == '-' || b[0] == '-') {
        return refuse("options and empty arguments are not served");
    }
    remote_spec ra, rb;
    const bool a_remote = remote_split(a, &ra);
    const bool b_remote = remote_split(b, &rb);
    if (a_remote == b_remote) {
        return refuse("exactly one of the two arguments must be on the host");
    }
    const remote_spec& r = a_remote ? ra : rb;
    std::string why;
    if (!remote_check(r, &why))
        return refuse(why);
    if (fault_switched_on(home)) {
        // What a host that is down makes the real command print.
        g_outcome = "ssh: connect to host " + r.host + " port 22: Connection refused";
        std::fprintf(stderr, "%s\nlost connection\n", g_outcome.c_str());
        return 1;
    }
    return a_remote ? get(ra, b, home) : put(a, rb, home);
}

void append_log(const fs::path& home, int status) {
    fs::path h = home;
    if (!h.has_filename())
        h = h.parent_path();  // ".../host/" -> ".../host"
    const fs::path log = h.parent_path() / "scp.log";
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%lld.%03ld", static_cast<long long>(ts.tv_sec),
                  ts.tv_nsec / 1000000);
    const std::string line =
        std::string(stamp) + " " + std::to_string(status) + " " + g_args + " : " + g_outcome + "\n";
    // One write on an append descriptor, so lines of simultaneous calls never mix.
    const int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t n = write(fd, line.data(), line.size());
    (void)n;
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    g_args = "scp";
    for (int i = 1; i < argc; ++i)
        g_args += std::string(" ") + argv[i];
    const char* home_env = std::getenv("TAVI_SIM_HOST_DIR");
    if (home_env == nullptr || *home_env == '\0') {
        std::fprintf(
            stderr,
            "scp: TAVI_SIM_HOST_DIR is not set: no simulated host (run under scripts/sim)\n");
        return 1;
    }
    const fs::path home = home_env;
    int status = 1;
    if (!is_dir(home)) {
        status = refuse(std::string("host directory ") + home_env + " does not exist");
    } else {
        status = run(argc, argv, home);
    }
    append_log(home, status);
    return status;
}
