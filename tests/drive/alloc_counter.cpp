#include "tests/drive/alloc_counter.h"

#include <malloc.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

// The C library's own entry points, which stay reachable under these names
// when malloc itself is replaced.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}

namespace {

std::atomic<bool> armed{false};
std::atomic<long> counted{0};
std::atomic<std::size_t> first_size{0};
// Static TLS in the executable: reading it never allocates.
thread_local bool excluded = false;

void note(std::size_t size) {
    if (!armed.load(std::memory_order_relaxed) || excluded) {
        return;
    }
    if (counted.fetch_add(1, std::memory_order_relaxed) == 0) {
        first_size.store(size, std::memory_order_relaxed);
    }
}

}  // namespace

void alloc_counter_arm() {
    counted.store(0, std::memory_order_relaxed);
    first_size.store(0, std::memory_order_relaxed);
    armed.store(true, std::memory_order_seq_cst);
}

long alloc_counter_disarm() {
    armed.store(false, std::memory_order_seq_cst);
    return counted.load(std::memory_order_relaxed);
}

void alloc_counter_exclude_this_thread(bool exclude) {
    excluded = exclude;
}

std::size_t alloc_counter_first_size() {
    return first_size.load(std::memory_order_relaxed);
}

extern "C" {

void* malloc(std::size_t size) noexcept {
    note(size);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    note(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size) noexcept {
    note(size);
    return __libc_realloc(p, size);
}

void free(void* p) noexcept {
    __libc_free(p);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    note(size);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    note(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    note(size);
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

void* valloc(std::size_t size) noexcept {
    note(size);
    return __libc_memalign(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), size);
}

}  // extern "C"
