#include "files/WavStream.h"

#include <cerrno>
#include <cstring>
#include <sndfile.h>

namespace varko {

TWavStream::~TWavStream() {
    std::string ignored;
    Close(ignored);
}

bool TWavStream::Open(const std::string& path, int sampleRate, int channels, std::string& error) {
    std::string ignored;
    Close(ignored);
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    // The PEAK chunk would need rewriting with every block; the sizes are what matter.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_command(file_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    frames_ = 0;
    error_.clear();
    return true;
}

bool TWavStream::Write(const float* interleaved, size_t frames) {
    if (file_ == nullptr || !error_.empty()) {
        return false;
    }
    errno = 0;
    const auto n = static_cast<sf_count_t>(frames);
    const sf_count_t written = sf_writef_float(file_, interleaved, n);
    if (written == n) {
        frames_ += frames;
        return true;
    }
    const int err = errno;
    error_ = err != 0 ? std::strerror(err) : sf_strerror(file_);
    frames_ += static_cast<uint64_t>(written > 0 ? written : 0);
    // A frame written in part is cut away, so that the data ends on a whole frame; the header
    // is rewritten in place, which a full disk still allows.
    sf_count_t keep = static_cast<sf_count_t>(frames_);
    sf_command(file_, SFC_FILE_TRUNCATE, &keep, sizeof keep);
    sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    return false;
}

bool TWavStream::Close(std::string& error) {
    if (file_ == nullptr) {
        return true;
    }
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (!error_.empty()) {
        error = error_;
        return false;
    }
    if (closed != 0) {
        error = sf_error_number(closed);
        return false;
    }
    return true;
}

} // namespace varko
