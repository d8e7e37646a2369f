// A 32-bit float WAV file written while it grows (libsndfile). Its header is kept up to date
// after every write, so the file reads back whole whenever the writing ends: closed, refused by
// a full disk, or cut off by a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct sf_private_tag;

namespace varko {

class TWavStream {
public:
    TWavStream() = default;
    TWavStream(const TWavStream&) = delete;
    TWavStream& operator=(const TWavStream&) = delete;
    ~TWavStream();

    // Creates the file (replacing one of the same name); false with the reason when it cannot.
    bool Open(const std::string& path, int sampleRate, int channels, std::string& error);
    // Appends frames of interleaved samples. When the file system refuses them (a full disk)
    // returns false and keeps Error(): the file then ends after the last whole frame written,
    // its header saying so, and takes nothing more.
    bool Write(const float* interleaved, size_t frames);
    // Finishes the file; false with the reason when it was not written whole.
    bool Close(std::string& error);

    bool IsOpen() const { return file_ != nullptr; }
    uint64_t Frames() const { return frames_; }
    const std::string& Error() const { return error_; }

private:
    sf_private_tag* file_ = nullptr;
    uint64_t frames_ = 0;
    std::string error_;
};

} // namespace varko
