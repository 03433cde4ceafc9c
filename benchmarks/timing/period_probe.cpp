// Preloaded into a program (LD_PRELOAD) to time its worker loops from the
// inside. Every worker ends its period with one usleep call, so the time from
// one usleep call to the next on the same thread is that loop's period. The
// run controller writes no motor frame, so this is the only place its period
// can be seen at all; for the speed loop it is a cross-check of the
// simulator's frame timestamps.
//
// Threads are numbered in the order they are created (the main thread is 0).
// At exit the samples go to the file named by TAVI_PERIOD_PROBE:
//   thread <n> attr=<0|1>      one line per created thread; attr=1 when it was
//                              created with an attribute object (the
//                              real-time recipe passes one, plain threads not)
//   <n> <ns>                   one line per usleep call: thread, CLOCK_MONOTONIC
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// About 75 minutes of four loops at 19 ms; later calls are not recorded.
constexpr std::size_t kMaxSamples = 1u << 20;
constexpr int kMaxThreads = 256;

struct sample {
    int32_t thread;
    int64_t ns;
};

// Static storage: recording a call must neither allocate nor lock.
sample samples[kMaxSamples];
std::atomic<std::size_t> used{0};

struct start_record {
    void* (*routine)(void*);
    void* arg;
    int index;
    bool with_attr;
};
start_record starts[kMaxThreads];
std::atomic<int> created{0};

thread_local int32_t thread_index = 0;

using usleep_fn = int (*)(useconds_t);
using create_fn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void* start_thread(void* p) {
    start_record* r = static_cast<start_record*>(p);
    thread_index = r->index;
    return r->routine(r->arg);
}

void dump() {
    const char* path = std::getenv("TAVI_PERIOD_PROBE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    FILE* out = std::fopen(path, "w");
    if (out == nullptr) {
        return;
    }
    const int threads = created.load(std::memory_order_relaxed);
    for (int i = 0; i < threads && i < kMaxThreads; ++i) {
        std::fprintf(out, "thread %d attr=%d\n", starts[i].index, starts[i].with_attr ? 1 : 0);
    }
    std::size_t n = used.load(std::memory_order_relaxed);
    if (n > kMaxSamples) {
        n = kMaxSamples;
    }
    for (std::size_t i = 0; i < n; ++i) {
        std::fprintf(out, "%d %lld\n", samples[i].thread, static_cast<long long>(samples[i].ns));
    }
    std::fclose(out);
}

// Runs after main has returned and the program has joined its workers.
struct dump_at_exit {
    ~dump_at_exit() { dump(); }
} dumper;

}  // namespace

extern "C" int usleep(useconds_t us) {
    static const usleep_fn real = reinterpret_cast<usleep_fn>(dlsym(RTLD_NEXT, "usleep"));
    const std::size_t at = used.fetch_add(1, std::memory_order_relaxed);
    if (at < kMaxSamples) {
        samples[at] = sample{thread_index, now_ns()};
    }
    return real(us);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                              void* (*routine)(void*), void* arg) {
    static const create_fn real = reinterpret_cast<create_fn>(dlsym(RTLD_NEXT, "pthread_create"));
    const int slot = created.fetch_add(1, std::memory_order_relaxed);
    if (slot >= kMaxThreads) {
        return real(thread, attr, routine, arg);
    }
    starts[slot] = start_record{routine, arg, slot + 1, attr != nullptr};
    return real(thread, attr, start_thread, &starts[slot]);
}
