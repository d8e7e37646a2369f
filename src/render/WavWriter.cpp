#include "render/WavWriter.h"

#include <sndfile.h>

namespace varko {

TWavWriter::~TWavWriter() {
    Close();
}

bool TWavWriter::ParseFormat(const std::string& name, TFormat& format) {
    if (name == "wav16") {
        format = TFormat::Pcm16;
    } else if (name == "wav24") {
        format = TFormat::Pcm24;
    } else if (name == "float") {
        format = TFormat::Float;
    } else {
        return false;
    }
    return true;
}

bool TWavWriter::Open(const std::string& path, TFormat format, int sampleRate, int channels,
                      std::string& error) {
    Close();
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | (format == TFormat::Pcm16   ? SF_FORMAT_PCM_16
                                   : format == TFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                              : SF_FORMAT_FLOAT);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        error = "cannot write \"" + path + "\": " + sf_strerror(nullptr);
        return false;
    }
    // The PEAK chunk carries the time of writing; without it equal renders are equal files.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    // Integer formats clip instead of wrapping around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    ok_ = true;
    return true;
}

bool TWavWriter::Write(const float* interleaved, size_t frames) {
    if (file_ == nullptr) {
        return false;
    }
    const auto n = static_cast<sf_count_t>(frames);
    if (sf_writef_float(file_, interleaved, n) != n) {
        ok_ = false;
    }
    return ok_;
}

bool TWavWriter::Close() {
    if (file_ == nullptr) {
        return ok_;
    }
    const bool closed = sf_close(file_) == 0;
    file_ = nullptr;
    return ok_ && closed;
}

} // namespace varko
