// Preloaded into a program (LD_PRELOAD) to time its loops from the inside. A
// loop that keeps its own time ends its period with one usleep call, so the
// time from one usleep call to the next on the same thread is that loop's
// period: the encoder sampler, whose exchanges are the drive's clock, and
// the main thread's polls. The speed loop and the run controller wait for
// the sampler's exchanges instead (their period is the sampler's; the
// simulator's timestamp on every motor frame times the speed loop), and call
// usleep only where no sampler runs.
//
// Two more figures per thread: the page faults the thread took (read at each
// usleep call, so faults inside a period show as a rise between two calls),
// and how deep it wrote into its stack. A stack starts zero and the drive's
// touch before the first period writes each byte back unchanged, so the
// lowest non-zero byte is the deepest write.
//
// Threads are numbered in the order they are created (the main thread is 0).
// At exit the samples go to the file named by TAVI_PERIOD_PROBE:
//   thread <n> attr=<0|1>      one line per created thread; attr=1 when it was
//                              created with an attribute object (the
//                              real-time recipe passes one, plain threads not)
//   stack <n> <used> <size>    bytes from the stack's top down to its deepest
//                              write, and the stack's size (guard page not
//                              counted), read when the thread ended or at exit
//   <n> <ns> <faults>          one line per usleep call: thread, CLOCK_MONOTONIC,
//                              the thread's page faults so far (minor + major)
#include <dlfcn.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// About 5 minutes of four loops at 19 ms; later calls are not recorded.
constexpr std::size_t kMaxSamples = 1u << 16;
constexpr int kMaxThreads = 256;

struct sample {
    int32_t thread;
    int32_t faults;
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
    // The thread's stack, [stack_low, stack_low + stack_size), once it runs.
    const unsigned char* stack_low;
    std::size_t stack_size;
    std::size_t stack_used;  // set when the thread has ended
    std::atomic<int> state;  // 0 not yet running, 1 running, 2 ended
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

int32_t faults_now() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<int32_t>(usage.ru_minflt + usage.ru_majflt);
}

// Bytes from the top of the stack down to its lowest non-zero byte.
std::size_t stack_depth(const start_record& r) {
    const volatile unsigned char* p = r.stack_low;
    std::size_t at = 0;
    while (at < r.stack_size && p[at] == 0) {
        ++at;
    }
    return r.stack_size - at;
}

void* start_thread(void* p) {
    start_record* r = static_cast<start_record*>(p);
    thread_index = r->index;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        std::size_t size = 0;
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
        r->stack_low = static_cast<const unsigned char*>(low);
        r->stack_size = size;
        r->state.store(1, std::memory_order_release);
    }
    void* result = r->routine(r->arg);
    if (r->state.load(std::memory_order_relaxed) == 1) {
        r->stack_used = stack_depth(*r);
        r->state.store(2, std::memory_order_release);
    }
    return result;
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
        const start_record& r = starts[i];
        std::fprintf(out, "thread %d attr=%d\n", r.index, r.with_attr ? 1 : 0);
        // A thread still running (the sampler and the speed loop run until
        // the process ends) is read now; its stack is still mapped.
        const int state = r.state.load(std::memory_order_acquire);
        if (state != 0) {
            std::fprintf(out, "stack %d %zu %zu\n", r.index,
                         state == 2 ? r.stack_used : stack_depth(r), r.stack_size);
        }
    }
    std::size_t n = used.load(std::memory_order_relaxed);
    if (n > kMaxSamples) {
        n = kMaxSamples;
    }
    for (std::size_t i = 0; i < n; ++i) {
        std::fprintf(out, "%d %lld %d\n", samples[i].thread, static_cast<long long>(samples[i].ns),
                     samples[i].faults);
    }
    std::fclose(out);
}

// The samples (1 MB) are written once at load: a program that locks its
// memory on fault would otherwise take a page fault inside a period every
// 256 samples, for the probe's sake. At exit, after main has returned and the
// program has joined its workers, they are written out.
struct probe_lifetime {
    probe_lifetime() { std::memset(static_cast<void*>(samples), 0, sizeof samples); }
    ~probe_lifetime() { dump(); }
} lifetime;

}  // namespace

extern "C" int usleep(useconds_t us) {
    static const usleep_fn real = reinterpret_cast<usleep_fn>(dlsym(RTLD_NEXT, "usleep"));
    const std::size_t at = used.fetch_add(1, std::memory_order_relaxed);
    if (at < kMaxSamples) {
        samples[at] = sample{thread_index, faults_now(), now_ns()};
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
    start_record& r = starts[slot];
    r.routine = routine;
    r.arg = arg;
    r.index = slot + 1;
    r.with_attr = attr != nullptr;
    return real(thread, attr, start_thread, &starts[slot]);
}
