// What /proc tells of this process: a value of /proc/self/status ("VmRSS" in KiB, "Threads").
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace varko::bench {

inline long ProcStatusValue(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::atol(line.c_str() + prefix.size());
        }
    }
    return -1;
}

} // namespace varko::bench

using varko::bench::ProcStatusValue;
