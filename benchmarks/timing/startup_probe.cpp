// Times a console program from its start to its first prompt and reads its
// memory there: tavi_startup_probe RUNS MARKER COMMAND [ARG ...]
//
// Runs COMMAND RUNS times, one after the other, with its standard input and
// output on pipes. Once MARKER has appeared in its output (the last text
// before the prompt, as the prompt itself may wait in the output buffer), it
// prints one line per run:
//   run <i>: <ms> ms to the prompt, VmRSS <kB> kB, VmLck <kB> kB,
//            Locked (proportional) <kB> kB, <n> shared objects
// VmLck counts whole locked mappings, also where a lock on fault has not
// brought a page in. Locked, from /proc/<pid>/smaps_rollup, counts only the
// resident pages of locked mappings, a page shared with other processes in
// proportion; with the whole process locked, VmRSS is what it pins. The shared objects are the
// distinct files named "*.so" or "*.so.*" in /proc/<pid>/maps at that moment. Then it closes the
// program's input, so the program ends as it does at the end of its input, and waits for it. Exits
// 1 when a run does not reach the marker within 60 s.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

double now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The value in kB of one "Name:   123 kB" line of /proc/<pid>/<file>, -1 if absent.
long proc_kb(pid_t pid, const char* file, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    const std::size_t n = std::strlen(name);
    while (std::getline(in, line)) {
        if (line.compare(0, n, name) == 0 && line.size() > n && line[n] == ':') {
            return std::atol(line.c_str() + n + 1);
        }
    }
    return -1;
}

std::size_t shared_objects(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> files;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        const std::string path = line.substr(slash);
        const std::size_t base = path.rfind('/');
        const std::size_t so = path.find(".so", base);
        if (so != std::string::npos && (so + 3 == path.size() || path[so + 3] == '.')) {
            files.insert(path);
        }
    }
    return files.size();
}

// One run; false when the marker did not come.
bool one_run(int index, const std::string& marker, char** command, double* ms) {
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) {
        perror("tavi_startup_probe: pipe");
        return false;
    }
    const double start = now_ms();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("tavi_startup_probe: fork");
        return false;
    }
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[0]);
        close(to_child[1]);
        close(from_child[0]);
        close(from_child[1]);
        execvp(command[0], command);
        perror("tavi_startup_probe: exec");
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);

    std::string seen;
    bool found = false;
    char buf[4096];
    while (!found && now_ms() - start < 60000.0) {
        pollfd p{from_child[0], POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) {
            continue;
        }
        const ssize_t got = read(from_child[0], buf, sizeof buf);
        if (got <= 0) {
            break;
        }
        seen.append(buf, static_cast<std::size_t>(got));
        found = seen.find(marker) != std::string::npos;
    }
    const double at = now_ms();
    if (found) {
        *ms = at - start;
        std::printf(
            "run %d: %.1f ms to the prompt, VmRSS %ld kB, VmLck %ld kB, "
            "Locked (proportional) %ld kB, %zu shared objects\n",
            index, *ms, proc_kb(pid, "status", "VmRSS"), proc_kb(pid, "status", "VmLck"),
            proc_kb(pid, "smaps_rollup", "Locked"), shared_objects(pid));
    } else {
        std::printf("run %d: no \"%s\" within 60 s\n", index, marker.c_str());
        kill(pid, SIGTERM);
    }
    std::fflush(stdout);
    close(to_child[1]);
    while (read(from_child[0], buf, sizeof buf) > 0) {
    }
    close(from_child[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tavi_startup_probe RUNS MARKER COMMAND [ARG ...]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int runs = std::atoi(argv[1]);
    const std::string marker = argv[2];
    std::vector<double> times;
    for (int i = 1; i <= runs; ++i) {
        double ms = 0;
        if (!one_run(i, marker, argv + 3, &ms)) {
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("start to prompt over %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n", runs,
                times[times.size() / 2], times.front(), times.back());
    return 0;
}
