#include "files/TextFile.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace varko {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads up to limit bytes; sets more when at least one byte follows them.
bool ReadUpTo(std::FILE* f, std::size_t limit, std::string& out, bool& more) {
    out.clear();
    more = false;
    char buffer[65536];
    while (out.size() < limit) {
        const std::size_t want = std::min(sizeof buffer, limit - out.size());
        const std::size_t got = std::fread(buffer, 1, want, f);
        out.append(buffer, got);
        if (got < want) {
            return std::ferror(f) == 0;
        }
    }
    const int c = std::fgetc(f);
    if (c == EOF) {
        return std::ferror(f) == 0;
    }
    more = true;
    return true;
}

FilePtr OpenRegular(const std::string& path) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        return nullptr;
    }
    struct stat st {};
    // Folders open on Linux but cannot be read; devices and pipes may never end.
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        return nullptr;
    }
    return f;
}

} // namespace

std::optional<std::string> ReadFileCapped(const std::string& path, std::size_t maxBytes) {
    FilePtr f = OpenRegular(path);
    if (!f) {
        return std::nullopt;
    }
    std::string text;
    bool more = false;
    if (!ReadUpTo(f.get(), maxBytes, text, more) || more) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> ReadFileHead(const std::string& path, std::size_t maxBytes,
                                        bool& truncated) {
    truncated = false;
    FilePtr f = OpenRegular(path);
    if (!f) {
        return std::nullopt;
    }
    std::string text;
    if (!ReadUpTo(f.get(), maxBytes, text, truncated)) {
        return std::nullopt;
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text, bool dropByteOrderMark) {
    if (dropByteOrderMark && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

} // namespace varko
