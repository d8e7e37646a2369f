// Marks the stretch of a thread that stands for a host's audio callback: the counters that
// replace C library functions (LockCounter.h) count there only, so that the host's own work on
// the same thread between two calls (forging events, running the worker) is not counted.
#pragma once

namespace varko::test {

inline thread_local bool gInsideProcess = false;

class TProcessScope {
public:
    TProcessScope() { gInsideProcess = true; }
    ~TProcessScope() { gInsideProcess = false; }
    TProcessScope(const TProcessScope&) = delete;
    TProcessScope& operator=(const TProcessScope&) = delete;
};

} // namespace varko::test
