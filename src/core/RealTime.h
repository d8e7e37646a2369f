// What every thread on the audio path sets up once, where it starts.
#pragma once

namespace varko {

// Flush-to-zero and denormals-are-zero for the calling thread: decaying bands would otherwise
// spend their last seconds in slow denormal arithmetic. Nothing off x86.
void SetFlushDenormals();

// Flush-to-zero for the calling thread while it lives, then the thread's mode as it was: for
// code that renders tones on a thread it does not own (a host's, the owner's), so that every
// renderer computes the same samples.
class TFlushDenormalsScope {
public:
    TFlushDenormalsScope();
    ~TFlushDenormalsScope();
    TFlushDenormalsScope(const TFlushDenormalsScope&) = delete;
    TFlushDenormalsScope& operator=(const TFlushDenormalsScope&) = delete;

private:
    unsigned saved_ = 0;
};

// SCHED_FIFO at the highest priority the system allows this process (RLIMIT_RTPRIO); the
// normal priority, silently, where it allows none. Returns whether real-time priority was set.
bool RaiseToRealTimePriority();

// The calling thread's name in debuggers and top (the kernel keeps 15 characters).
void NameThisThread(const char* name);

} // namespace varko
