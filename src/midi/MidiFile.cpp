#include "midi/MidiFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace varko {

namespace {

constexpr uint32_t DefaultTempo = 500000; // microseconds per quarter note: 120 beats a minute

// A big-endian reader over one chunk that never reads past its end.
class TBytes {
public:
    TBytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool AtEnd() const { return p_ == end_; }
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    bool Byte(uint8_t& b) {
        if (p_ == end_) {
            return false;
        }
        b = *p_++;
        return true;
    }
    bool Peek(uint8_t& b) const {
        if (p_ == end_) {
            return false;
        }
        b = *p_;
        return true;
    }
    bool Skip(size_t n) {
        if (n > Left()) {
            return false;
        }
        p_ += n;
        return true;
    }
    const uint8_t* Here() const { return p_; }
    bool Big(int bytes, uint32_t& v) {
        if (static_cast<size_t>(bytes) > Left()) {
            return false;
        }
        v = 0;
        for (int i = 0; i < bytes; ++i) {
            v = (v << 8) | *p_++;
        }
        return true;
    }
    // A variable-length quantity: at most four bytes, so at most 0x0FFFFFFF.
    bool Vlq(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!Byte(b)) {
                return false;
            }
            v = (v << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) {
                return true;
            }
        }
        return false;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

struct TTickEvent {
    uint64_t Tick = 0;
    TMidiMessage Message;
};

struct TTempo {
    uint64_t Tick = 0;
    uint32_t MicrosecondsPerQuarter = DefaultTempo;
};

struct TTrack {
    uint64_t EndTick = 0;
    bool Damaged = false;
};

// One track chunk: its channel messages go to events, its tempo changes to tempos. Running
// status is kept across meta and system exclusive events, as most files in the wild expect.
TTrack ReadTrack(TBytes in, std::vector<TTickEvent>& events, std::vector<TTempo>& tempos) {
    TTrack track;
    uint64_t tick = 0;
    uint8_t status = 0;
    while (!in.AtEnd()) {
        uint32_t delta = 0;
        uint8_t b = 0;
        if (!in.Vlq(delta) || !in.Peek(b)) {
            track.Damaged = true;
            break;
        }
        tick += delta;
        track.EndTick = tick;
        if (b == 0xFF) {
            uint8_t type = 0;
            uint32_t length = 0;
            in.Skip(1);
            if (!in.Byte(type) || !in.Vlq(length) || length > in.Left()) {
                track.Damaged = true;
                break;
            }
            const uint8_t* data = in.Here();
            in.Skip(length);
            if (type == 0x2F) {
                return track; // end of track: anything after it is not part of the track
            }
            if (type == 0x51 && length == 3) {
                const uint32_t us = (uint32_t{data[0]} << 16) | (uint32_t{data[1]} << 8) | data[2];
                // A tempo of 0 would stop time; such a file keeps the tempo before it.
                if (us > 0) {
                    tempos.push_back({tick, us});
                }
            }
            continue;
        }
        if (b == 0xF0 || b == 0xF7) {
            uint32_t length = 0;
            in.Skip(1);
            if (!in.Vlq(length) || !in.Skip(length)) {
                track.Damaged = true;
                break;
            }
            continue;
        }
        if (b >= 0x80) {
            in.Skip(1);
            if (b > 0xEF) {
                // A system message has no place in a file: its length is unknown.
                track.Damaged = true;
                break;
            }
            status = b;
        } else if (status == 0) {
            track.Damaged = true; // data with no status to run on
            break;
        }
        TTickEvent e;
        e.Tick = tick;
        e.Message.Bytes[0] = status;
        e.Message.Size = 1;
        bool ok = true;
        for (int i = 0; i < MidiDataBytes(status); ++i) {
            uint8_t d = 0;
            if (!in.Byte(d) || d >= 0x80) {
                ok = false;
                break;
            }
            e.Message.Bytes[e.Message.Size++] = d;
        }
        if (!ok) {
            track.Damaged = true;
            break;
        }
        events.push_back(e);
    }
    return track;
}

} // namespace

std::optional<TMidiFile> ParseMidiFile(const uint8_t* data, size_t size, std::string& error) {
    TBytes in(data, size);
    uint32_t id = 0, length = 0, format = 0, announced = 0, division = 0;
    if (!in.Big(4, id) || id != 0x4D546864 /* MThd */ || !in.Big(4, length) || length < 6 ||
        !in.Big(2, format) || !in.Big(2, announced) || !in.Big(2, division) ||
        !in.Skip(length - 6)) {
        error = "not a Standard MIDI File";
        return std::nullopt;
    }
    // Ticks per quarter note, or SMPTE frames per second (a negative byte) and ticks per frame.
    double secondsPerSmpteTick = 0.0;
    if ((division & 0x8000u) != 0) {
        const int fps = 256 - static_cast<int>(division >> 8);
        const int ticksPerFrame = static_cast<int>(division & 0xFFu);
        if (ticksPerFrame == 0 || fps <= 0) {
            error = "the MIDI file's time division is 0";
            return std::nullopt;
        }
        const double frames = fps == 29 ? 30000.0 / 1001.0 : fps;
        secondsPerSmpteTick = 1.0 / (frames * ticksPerFrame);
    } else if (division == 0) {
        error = "the MIDI file's time division is 0";
        return std::nullopt;
    }

    TMidiFile file;
    file.Format = static_cast<int>(format);
    std::vector<TTickEvent> events;
    std::vector<TTempo> tempos;
    uint64_t endTick = 0;
    while (!in.AtEnd()) {
        uint32_t chunk = 0, bytes = 0;
        if (!in.Big(4, chunk) || !in.Big(4, bytes)) {
            file.Damaged = true;
            break;
        }
        const bool cut = bytes > in.Left();
        const size_t n = cut ? in.Left() : bytes;
        if (chunk == 0x4D54726B /* MTrk */) {
            const TTrack track = ReadTrack(TBytes(in.Here(), n), events, tempos);
            endTick = std::max(endTick, track.EndTick);
            file.Damaged = file.Damaged || track.Damaged;
            ++file.Tracks;
        }
        in.Skip(n); // other chunks are for other programs
        file.Damaged = file.Damaged || cut;
    }
    // Tracks the header announced but the file does not hold were cut off.
    file.Damaged = file.Damaged || file.Tracks < static_cast<int>(announced);

    // The tempo map: the tempo changes of all tracks in tick order, each with its time.
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TTempo& a, const TTempo& b) { return a.Tick < b.Tick; });
    auto span = [division](uint64_t ticks, uint32_t tempo) {
        // Exact in doubles for any ordinary file, so whole beats give exact seconds.
        return static_cast<double>(ticks) * tempo / (1e6 * division);
    };
    std::vector<double> tempoSeconds(tempos.size(), 0.0);
    for (size_t i = 0; i < tempos.size(); ++i) {
        tempoSeconds[i] = i == 0 ? span(tempos[0].Tick, DefaultTempo)
                                 : tempoSeconds[i - 1] + span(tempos[i].Tick - tempos[i - 1].Tick,
                                                              tempos[i - 1].MicrosecondsPerQuarter);
    }
    // Seconds at a tick; at walks along the tempo map as the ticks grow.
    auto seconds = [&](uint64_t tick, size_t& at) {
        if (secondsPerSmpteTick > 0.0) {
            return static_cast<double>(tick) * secondsPerSmpteTick;
        }
        while (at < tempos.size() && tempos[at].Tick <= tick) {
            ++at;
        }
        if (at == 0) {
            return span(tick, DefaultTempo);
        }
        const TTempo& t = tempos[at - 1];
        return tempoSeconds[at - 1] + span(tick - t.Tick, t.MicrosecondsPerQuarter);
    };

    // Tracks were read one after another: a stable sort keeps the earlier track first.
    std::stable_sort(events.begin(), events.end(),
                     [](const TTickEvent& a, const TTickEvent& b) { return a.Tick < b.Tick; });
    file.Events.reserve(events.size());
    size_t at = 0;
    for (const TTickEvent& e : events) {
        file.Events.push_back({seconds(e.Tick, at), e.Message});
    }
    at = 0;
    file.EndSeconds = seconds(endTick, at);
    return file;
}

std::optional<TMidiFile> ReadMidiFile(const std::string& path, std::string& error) {
    error = "cannot read the MIDI file \"" + path + "\"";
    // Opened without blocking and read only as a regular file: a FIFO or a device named as the
    // MIDI file would otherwise hold the tool in open() or read() for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    std::vector<uint8_t> bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<uintmax_t>(st.st_size) <= MaxMidiFileBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            ok = n > 0 || (n < 0 && errno == EINTR);
            done += n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    error.clear();
    std::string inner;
    auto file = ParseMidiFile(bytes.data(), bytes.size(), inner);
    if (!file) {
        error = path + ": " + inner;
    }
    return file;
}

} // namespace varko
