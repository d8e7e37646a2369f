#include "files/FileReplacement.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace varko {

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

std::string Reason(int error) {
    return std::strerror(error);
}

} // namespace

TFileReplacement::~TFileReplacement() {
    Abandon();
}

bool TFileReplacement::Open(const std::string& path, std::string& error) {
    Abandon();
    const std::filesystem::path target = WriteTarget(path);
    target_ = target.string();
    struct stat st {};
    exists_ = ::stat(target.c_str(), &st) == 0;
    mode_ = 0666;
    if (exists_) {
        if (!S_ISREG(st.st_mode)) {
            error = "not a regular file";
            return false;
        }
        // Root may write anywhere: the permission bits, not access(), decide.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            error = "the file is read-only";
            return false;
        }
        mode_ = st.st_mode & 07777;
        owner_ = st.st_uid;
        group_ = st.st_gid;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode_ &= ~mask;
    }
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    temporary_ = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(temporary_.data());
    if (fd_ < 0) {
        error = Reason(errno);
        temporary_.clear();
        return false;
    }
    return true;
}

bool TFileReplacement::Commit(std::string& error) {
    if (fd_ < 0) {
        error = "nothing was written";
        return false;
    }
    const int fd = fd_;
    bool ok = ::fchmod(fd, mode_) == 0 && ::fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (ok && exists_ && ::geteuid() == 0) {
        // Root replacing a player's file leaves it theirs.
        [[maybe_unused]] const int ignored = ::fchown(fd, owner_, group_);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    fd_ = -1;
    if (ok && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        error = Reason(failure);
        Abandon();
        return false;
    }
    temporary_.clear();
    // The rename itself reaches the disk with the folder's entry.
    const std::filesystem::path folder = std::filesystem::path(target_).has_parent_path()
                                             ? std::filesystem::path(target_).parent_path()
                                             : std::filesystem::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void TFileReplacement::Abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

} // namespace varko
