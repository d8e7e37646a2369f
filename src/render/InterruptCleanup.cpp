#include "render/InterruptCleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace varko {

namespace {

// Written by the main thread only while disarmed; read by the handler only while armed.
char gPath[4096];
std::atomic<bool> gArmed{false};
std::atomic<bool> gInstalled{false};

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveAndEnd(int signal) {
    if (gArmed.exchange(false)) {
        ::unlink(gPath);
    }
    // Ends the process as the signal does by default, so that the caller sees it.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void Install() {
    if (gInstalled.exchange(true)) {
        return;
    }
    for (const int s : Signals) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = RemoveAndEnd;
        sigemptyset(&action.sa_mask);
        ::sigaction(s, &action, nullptr);
    }
}

} // namespace

void RemoveIfInterrupted(const char* path) {
    gArmed.store(false);
    if (path == nullptr || std::strlen(path) >= sizeof gPath) {
        return;
    }
    std::strcpy(gPath, path);
    Install();
    gArmed.store(true);
}

void ForgetInterruptCleanup() {
    gArmed.store(false);
}

} // namespace varko
