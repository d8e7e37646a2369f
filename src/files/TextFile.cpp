#include "files/TextFile.h"

#include "files/FileReplacement.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    // Opened without blocking: a FIFO's open would otherwise wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    // Folders open on Linux but cannot be read; devices and pipes may never end.
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FilePtr f(::fdopen(fd, "rb"));
    if (!f) {
        ::close(fd);
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

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
    TFileReplacement replacement;
    std::string error;
    if (!replacement.Open(path, error)) {
        return false;
    }
    for (std::string_view rest = bytes; !rest.empty();) {
        const ssize_t n = ::write(replacement.Fd(), rest.data(), rest.size());
        if (n < 0 && errno != EINTR) {
            return false; // the temporary goes with the replacement
        }
        rest.remove_prefix(n < 0 ? 0 : static_cast<std::size_t>(n));
    }
    return replacement.Commit(error);
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80             ? 0
                         : (c & 0xE0) == 0xC0 ? 1
                         : (c & 0xF0) == 0xE0 ? 2
                         : (c & 0xF8) == 0xF0 ? 3
                                              : 4;
        if (n == 4 || i + n >= s.size() + (n == 0 ? 1 : 0)) {
            return false;
        }
        for (size_t k = 1; k <= n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n + 1;
    }
    return true;
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
