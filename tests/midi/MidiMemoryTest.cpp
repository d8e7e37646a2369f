// What reading a hostile MIDI file costs in memory: length fields that claim gigabytes, files
// past the size cap, and tracks of millions of running-status events. Every allocation of this
// program is counted, so a reader that slurped or grew without bound shows here.
#include "midi/MidiFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<size_t> gLive{0};
std::atomic<size_t> gPeak{0};

void Counted(void* p) {
    const size_t now = gLive += malloc_usable_size(p);
    size_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
}

} // namespace

void* operator new(size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    Counted(p);
    return p;
}

void operator delete(void* p) noexcept {
    if (p != nullptr) {
        gLive -= malloc_usable_size(p);
        std::free(p);
    }
}

void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

using namespace varko;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct TRead {
    std::optional<TMidiFile> File;
    std::string Error;
    size_t PeakBytes = 0; // most bytes held at once while reading, above what was held before
};

TRead Read(const fs::path& path) {
    TRead r;
    const size_t before = gLive.load();
    gPeak = before;
    r.File = ReadMidiFile(path.string(), r.Error);
    r.PeakBytes = gPeak.load() - before;
    return r;
}

Bytes Header(uint16_t tracks) {
    return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<uint8_t>(tracks), 0x01, 0xE0};
}

void Append(Bytes& b, std::initializer_list<uint8_t> more) {
    b.insert(b.end(), more);
}

struct MidiMemory : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-midi-memory-" + std::to_string(getpid()));
    void SetUp() override { fs::create_directories(Dir); }
    void TearDown() override { fs::remove_all(Dir); }
    fs::path Write(const std::string& name, const Bytes& b) {
        std::ofstream(Dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        return Dir / name;
    }
    // One track at the size cap: a status byte, then every event on its running status.
    fs::path Flood(const std::string& name, uint8_t status, Bytes event) {
        Bytes b = Header(1);
        const size_t track = MaxMidiFileBytes - b.size() - 8;
        Append(b, {'M', 'T', 'r', 'k', static_cast<uint8_t>(track >> 24),
                   static_cast<uint8_t>(track >> 16), static_cast<uint8_t>(track >> 8),
                   static_cast<uint8_t>(track)});
        Append(b, {0, status});
        b.insert(b.end(), event.begin() + 1, event.end());
        while (b.size() + event.size() <= MaxMidiFileBytes) {
            b.insert(b.end(), event.begin(), event.end());
        }
        return Write(name, b);
    }
};

} // namespace

// Chunks whose lengths claim 4 GB hold a few bytes: nothing is sized by what they claim.
TEST_F(MidiMemory, LengthFieldsThatClaimGigabytesCostNothing) {
    Bytes b = Header(3);
    for (int i = 0; i < 3; ++i) {
        Append(b, {'M', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xF0, 0x00, 0x90, 0x3C, 0x40});
    }
    // A system exclusive and a meta event that claim 256 MB each.
    Append(b, {0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F});
    const TRead r = Read(Write("claims.mid", b));
    ASSERT_TRUE(r.File) << r.Error;
    EXPECT_TRUE(r.File->Damaged);
    EXPECT_LE(r.File->Events.size(), 3u);
    EXPECT_LT(r.PeakBytes, 64u << 10);
}

// A file past the cap, even a sparse one of a gigabyte behind a valid header, is refused
// without being read.
TEST_F(MidiMemory, AFilePastTheCapIsRefusedUnread) {
    Bytes b = Header(1);
    Append(b, {'M', 'T', 'r', 'k', 0x3F, 0xFF, 0xFF, 0xFF, 0x00, 0x90, 0x3C, 0x40});
    const fs::path path = Write("huge.mid", b);
    fs::resize_file(path, uintmax_t{1} << 30);
    const TRead r = Read(path);
    EXPECT_FALSE(r.File);
    EXPECT_LT(r.PeakBytes, 64u << 10);
}

// Millions of events on one running status, two and one data bytes each, at the cap: the
// memory held is the file and the events it gives (16 bytes each), with room to read them.
TEST_F(MidiMemory, RunningStatusFloodsHoldTheirEventsAndLittleMore) {
    for (const auto& [name, status, event] :
         {std::tuple{"notes.mid", uint8_t{0x90}, Bytes{0x00, 0x3C, 0x40}},
          std::tuple{"programs.mid", uint8_t{0xC0}, Bytes{0x00, 0x05}}}) {
        const TRead r = Read(Flood(name, status, event));
        ASSERT_TRUE(r.File) << r.Error;
        const size_t events = r.File->Events.size();
        EXPECT_GT(events, MaxMidiFileBytes / event.size() - 16) << name;
        std::printf("%s: %zu events, peak %.1f MB\n", name, events,
                    static_cast<double>(r.PeakBytes) / (1 << 20));
        EXPECT_LT(r.PeakBytes, MaxMidiFileBytes + 48 * events) << name;
        EXPECT_LT(r.PeakBytes, size_t{160} << 20) << name;
    }
}
