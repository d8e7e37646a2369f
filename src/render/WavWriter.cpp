#include "render/WavWriter.h"

#include "render/InterruptCleanup.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varko {

namespace {

int BytesPerSample(TWavWriter::TFormat format) {
    return format == TWavWriter::TFormat::Pcm16 ? 2 : format == TWavWriter::TFormat::Pcm24 ? 3 : 4;
}

} // namespace

TWavWriter::~TWavWriter() {
    Abandon();
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

bool TWavWriter::NeedsRf64(TFormat format, int channels, uint64_t frames) {
    // The RIFF size counts the data and every chunk before it; leave room for those.
    constexpr uint64_t WavDataLimit = 0xFFFFFFFFull - 4096;
    const auto frameBytes = static_cast<uint64_t>(BytesPerSample(format)) *
                            static_cast<uint64_t>(channels > 0 ? channels : 1);
    return frames > WavDataLimit / frameBytes;
}

bool TWavWriter::Open(const std::string& path, TFormat format, int sampleRate, int channels,
                      uint64_t frames, std::string& error) {
    Abandon();
    auto fail = [&](const std::string& why) {
        error = "cannot write \"" + path + "\": " + why;
        Abandon();
        return false;
    };
    struct stat st {};
    int fd = -1;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            return fail("it is a folder");
        }
        // A device or a pipe is never replaced: written as it is. Without blocking, so that a
        // pipe nobody reads fails instead of waiting for ever.
        directFd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        const int flags = directFd_ >= 0 ? ::fcntl(directFd_, F_GETFL) : -1;
        if (flags < 0 || ::fcntl(directFd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            return fail(std::strerror(errno));
        }
        fd = directFd_;
    } else {
        std::string why;
        if (!replacement_.Open(path, why)) {
            return fail(why);
        }
        fd = replacement_.Fd();
        RemoveIfInterrupted(replacement_.Temporary().c_str());
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = (NeedsRf64(format, channels, frames) ? SF_FORMAT_RF64 : SF_FORMAT_WAV) |
                  (format == TFormat::Pcm16   ? SF_FORMAT_PCM_16
                   : format == TFormat::Pcm24 ? SF_FORMAT_PCM_24
                                              : SF_FORMAT_FLOAT);
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
        return fail(sf_strerror(nullptr));
    }
    // The PEAK chunk carries the time of writing; without it equal renders are equal files.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    // Integer formats clip instead of wrapping around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    ok_ = true;
    writeError_.clear();
    return true;
}

bool TWavWriter::Write(const float* interleaved, size_t frames) {
    if (file_ == nullptr) {
        return false;
    }
    const auto n = static_cast<sf_count_t>(frames);
    if (ok_ && sf_writef_float(file_, interleaved, n) != n) {
        ok_ = false;
        writeError_ = sf_strerror(file_);
    }
    return ok_;
}

bool TWavWriter::Finish(std::string& error) {
    if (file_ == nullptr) {
        error = "the file was not open";
        return false;
    }
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (!ok_ || closed != 0) {
        error = !writeError_.empty() ? writeError_ : sf_error_number(closed);
        Abandon();
        return false;
    }
    if (directFd_ >= 0) {
        const bool done = ::close(directFd_) == 0;
        directFd_ = -1;
        if (!done) {
            error = std::strerror(errno);
        }
        return done;
    }
    ForgetInterruptCleanup();
    return replacement_.Commit(error);
}

void TWavWriter::Abandon() {
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
    if (directFd_ >= 0) {
        ::close(directFd_);
        directFd_ = -1;
    }
    ForgetInterruptCleanup();
    replacement_.Abandon();
}

} // namespace varko
