// Writes interleaved stereo float blocks to a WAV file through libsndfile.
#pragma once

#include <cstddef>
#include <string>

struct sf_private_tag;

namespace varko {

class TWavWriter {
public:
    enum class TFormat { Pcm16, Pcm24, Float };

    TWavWriter() = default;
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;
    ~TWavWriter();

    // Creates the file; on failure returns false and sets error.
    bool Open(const std::string& path, TFormat format, int sampleRate, int channels,
              std::string& error);
    // Writes frames of interleaved samples (full scale -1..1; integer formats clip).
    bool Write(const float* interleaved, size_t frames);
    // Finishes the header; returns false when the file could not be completed.
    bool Close();

    static bool ParseFormat(const std::string& name, TFormat& format);

private:
    sf_private_tag* file_ = nullptr;
    bool ok_ = true;
};

} // namespace varko
