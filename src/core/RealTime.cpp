#include "core/RealTime.h"

#include <algorithm>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace varko {

void SetFlushDenormals() {
#if defined(__SSE__) || defined(__x86_64__)
    _mm_setcsr(_mm_getcsr() | 0x8040); // FTZ (bit 15) and DAZ (bit 6)
#endif
}

TFlushDenormalsScope::TFlushDenormalsScope() {
#if defined(__SSE__) || defined(__x86_64__)
    saved_ = _mm_getcsr();
    _mm_setcsr(saved_ | 0x8040);
#endif
}

TFlushDenormalsScope::~TFlushDenormalsScope() {
#if defined(__SSE__) || defined(__x86_64__)
    _mm_setcsr(saved_);
#endif
}

bool RaiseToRealTimePriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
        return true;
    }
    // Unprivileged: as high as the resource limit allows.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) {
        param.sched_priority = static_cast<int>(
            std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(param.sched_priority)));
        return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }
    return false;
}

void NameThisThread(const char* name) {
    char cut[16];
    std::strncpy(cut, name, sizeof cut - 1);
    cut[sizeof cut - 1] = '\0';
    pthread_setname_np(pthread_self(), cut);
}

} // namespace varko
