// Counts the locks a thread takes while it is inside a TProcessScope: the C library's lock
// functions are replaced (std::mutex and std::recursive_mutex lock through them), so that locks
// inside loaded plugins count too. Include it in one file of a test program only: it defines
// those functions. The program must export them (ENABLE_EXPORTS) for a plugin to bind to them.
#pragma once

#include "ProcessScope.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>

namespace {
std::atomic<int> gLocks{0};

void CountLock() {
    if (varko::test::gInsideProcess) {
        gLocks.fetch_add(1, std::memory_order_relaxed);
    }
}

// The C library's own function, looked up at its first use: a lock may be taken before this
// program's static initialisers run.
template <typename F> F Next(std::atomic<void*>& cache, const char* name) {
    void* f = cache.load(std::memory_order_relaxed);
    if (f == nullptr) {
        f = dlsym(RTLD_NEXT, name);
        cache.store(f, std::memory_order_relaxed);
    }
    return reinterpret_cast<F>(f);
}

std::atomic<void*> gMutexLock, gMutexTryLock, gReadLock, gWriteLock;
} // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* m) {
    CountLock();
    return Next<int (*)(pthread_mutex_t*)>(gMutexLock, "pthread_mutex_lock")(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    CountLock();
    return Next<int (*)(pthread_mutex_t*)>(gMutexTryLock, "pthread_mutex_trylock")(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    CountLock();
    return Next<int (*)(pthread_rwlock_t*)>(gReadLock, "pthread_rwlock_rdlock")(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    CountLock();
    return Next<int (*)(pthread_rwlock_t*)>(gWriteLock, "pthread_rwlock_wrlock")(l);
}
}
