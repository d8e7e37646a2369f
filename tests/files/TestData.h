#pragma once

#include <filesystem>
#include <string>
#include <unistd.h>

namespace varko::testdata {

inline std::string Path(const std::string& name) {
    return std::string(VARKO_FILES_TEST_DATA) + "/" + name;
}

// A scratch file of this test process, so that parallel runs do not meet.
inline std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "_" + name);
}

} // namespace varko::testdata
