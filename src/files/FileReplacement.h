// A file written beside its final place and put there whole: readers never see half of it, a
// failure leaves the old file as it was, and nothing but the temporary is ever removed.
#pragma once

#include <string>

namespace varko {

class TFileReplacement {
public:
    TFileReplacement() = default;
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;
    // Abandons an uncommitted replacement.
    ~TFileReplacement();

    // Creates a temporary file of a unique name in the folder of the file that writing to path
    // reaches (symbolic links followed: the link's target is replaced, the link stays). Refuses
    // when that file exists but is not a regular file, or has no write permission for anyone (a
    // file the player made read-only stays as it is). On failure returns false and sets error
    // to the reason.
    bool Open(const std::string& path, std::string& error);
    // The temporary file, open for writing (the replacement closes it); -1 when not open.
    int Fd() const { return fd_; }

    // Flushes the temporary to disk, gives it the old file's permissions (a new one's from the
    // umask) and renames it over the file. On failure removes the temporary and returns false
    // with the reason in error.
    bool Commit(std::string& error);
    // Removes the temporary; the file is left as it was.
    void Abandon();

    // The temporary file's path while it is open, "" otherwise.
    const std::string& Temporary() const { return temporary_; }
    // The file being replaced (symbolic links followed).
    const std::string& Target() const { return target_; }

private:
    int fd_ = -1;
    std::string temporary_;
    std::string target_;
    unsigned mode_ = 0;
    bool exists_ = false;
    unsigned owner_ = 0, group_ = 0;
};

} // namespace varko
