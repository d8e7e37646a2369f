#pragma once

#include <string>

namespace varko::testdata {

inline std::string Path(const std::string& name) {
    return std::string(VARKO_FILES_TEST_DATA) + "/" + name;
}

} // namespace varko::testdata
