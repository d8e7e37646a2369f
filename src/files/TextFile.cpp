#include "files/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
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

namespace {

// Where writing to path really goes: symbolic links followed (at most 40, as the kernel does).
std::filesystem::path WriteTarget(std::filesystem::path path) {
    std::error_code ec;
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(path, ec); ++hop) {
        const std::filesystem::path link = std::filesystem::read_symlink(path, ec);
        if (ec) {
            break;
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    return path;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
    const std::filesystem::path target = WriteTarget(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    mode_t mode = 0666;
    if (exists) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
            ::access(target.c_str(), W_OK) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder's entry.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
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
