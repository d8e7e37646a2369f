// Writes interleaved float frames to a WAV file through libsndfile. A file is written beside its
// place and put there whole when finished, so a failed render leaves what was there before.
#pragma once

#include "files/FileReplacement.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct sf_private_tag;

namespace varko {

class TWavWriter {
public:
    enum class TFormat { Pcm16, Pcm24, Float };

    TWavWriter() = default;
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;
    // Without a successful Finish, nothing is put in place.
    ~TWavWriter();

    // Starts the file for about `frames` frames: RF64 when the data would not fit a WAV's 32-bit
    // sizes, else WAV. An existing file that is not a regular one (a device such as /dev/null)
    // is written directly. On failure returns false and sets error.
    bool Open(const std::string& path, TFormat format, int sampleRate, int channels,
              uint64_t frames, std::string& error);
    // Writes frames of interleaved samples (full scale -1..1; integer formats clip).
    bool Write(const float* interleaved, size_t frames);
    // Finishes the header and puts the file in place; false with the reason when the file
    // could not be completed (the old file is then left as it was).
    bool Finish(std::string& error);
    // Why the first Write failed (the system's reason); empty while every write succeeded.
    const std::string& WriteError() const { return writeError_; }
    // Drops what was written; a file that existed stays as it was.
    void Abandon();

    static bool ParseFormat(const std::string& name, TFormat& format);
    // Whether `frames` frames need RF64: their data passes the 4 GiB sizes of a WAV.
    static bool NeedsRf64(TFormat format, int channels, uint64_t frames);

private:
    sf_private_tag* file_ = nullptr;
    TFileReplacement replacement_;
    int directFd_ = -1; // the device written directly, or -1
    bool ok_ = true;
    std::string writeError_;
};

} // namespace varko
