#pragma once

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varko::testdata {

inline std::string Path(const std::string& name) {
    return std::string(VARKO_FILES_TEST_DATA) + "/" + name;
}

// A scratch file of this test process, so that parallel runs do not meet.
inline std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "_" + name);
}

// Runs work as an unprivileged user: in a child process of user nobody when the tests run as
// root (as CI does), where permission bits would not stop anything; else right here. Returns
// what work returned.
inline bool AsUnprivilegedUser(const std::function<bool()>& work) {
    if (::geteuid() != 0) {
        return work();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && work();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The user AsUnprivilegedUser runs as.
inline uid_t UnprivilegedUser() {
    return ::geteuid() == 0 ? 65534 : ::geteuid();
}

// Runs read on a thread while fifo has no writer. A reader that waits for one is let go (a
// writer opens and closes the pipe) and the result says so: false.
inline bool FinishesWithoutAWriter(const std::string& fifo, const std::function<void()>& read) {
    auto done = std::async(std::launch::async, read);
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
        return true;
    }
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return false;
}

} // namespace varko::testdata
