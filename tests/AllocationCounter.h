// Counts every allocation the process makes while gCounting is set: malloc itself is replaced,
// so that aligned buffers and allocations inside loaded plugins count too. Include it in one file
// of a test program only: it defines the C library's allocation functions.
#pragma once

#include <atomic>
#include <cstddef>

extern "C" void* __libc_malloc(size_t);           // NOLINT: glibc's own
extern "C" void* __libc_calloc(size_t, size_t);   // NOLINT: glibc's own
extern "C" void* __libc_realloc(void*, size_t);   // NOLINT: glibc's own
extern "C" void* __libc_memalign(size_t, size_t); // NOLINT: glibc's own

namespace {
std::atomic<bool> gCounting{false};
std::atomic<int> gAllocations{0};

void Count() {
    if (gCounting.load(std::memory_order_relaxed)) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
}
} // namespace

extern "C" {
void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
    Count();
    return __libc_realloc(p, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    Count();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12; // ENOMEM
}
}
