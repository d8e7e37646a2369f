// The byte-stream parser and the MIDI file reader: real files from an independent writer
// (libsmf), hand-made files for what writers rarely do, and damaged files.
#include "midi/MidiFile.h"
#include "midi/MidiMessage.h"

#include <gtest/gtest.h>
#include <smf.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace varko;

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Stream(const Bytes& in, size_t chunk = 0) {
    TMidiStreamParser p;
    std::vector<Bytes> out;
    auto emit = [&](const TMidiMessage& m) {
        out.emplace_back(m.Bytes.begin(), m.Bytes.begin() + m.Size);
    };
    if (chunk == 0) {
        p.Feed(in.data(), in.size(), emit);
    } else {
        for (size_t i = 0; i < in.size(); i += chunk) {
            p.Feed(in.data() + i, std::min(chunk, in.size() - i), emit);
        }
    }
    return out;
}

const std::string Corpus = VARKO_MIDI_CORPUS;

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TMidiFile Parse(const Bytes& b) {
    std::string error;
    auto f = ParseMidiFile(b.data(), b.size(), error);
    EXPECT_TRUE(f.has_value()) << error;
    return f.value_or(TMidiFile{});
}

} // namespace

TEST(MidiStream, RunningStatusRealTimeBytesAndSplitMessages) {
    // Note on, two more under running status, a clock byte inside one of them, a note-off.
    const Bytes in = {0x90, 60, 100, 62, 90, 64, 0xF8, 80, 0x80, 60, 0};
    const std::vector<Bytes> want = {
        {0x90, 60, 100}, {0x90, 62, 90}, {0x90, 64, 80}, {0x80, 60, 0}};
    EXPECT_EQ(Stream(in), want);
    EXPECT_EQ(Stream(in, 1), want); // one byte at a time, as a slow port delivers them
    EXPECT_EQ(Stream({0xD3, 5, 7, 0xC0, 9}), (std::vector<Bytes>{{0xD3, 5}, {0xD3, 7}, {0xC0, 9}}));
}

TEST(MidiStream, RunningStatusAcrossSysexReleasesTheNote) {
    // A sender that relies on running status after a system exclusive message means its
    // last status: the note-off is taken, and the note does not stick.
    const Bytes in = {0x90, 60, 100, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 60, 0};
    EXPECT_EQ(Stream(in), (std::vector<Bytes>{{0x90, 60, 100}, {0x90, 60, 0}}));
    // Data bytes inside the system exclusive and after song position are not notes.
    EXPECT_EQ(Stream({0x90, 60, 100, 0xF2, 1, 2, 61, 0}),
              (std::vector<Bytes>{{0x90, 60, 100}, {0x90, 61, 0}}));
}

TEST(MidiStream, DataWithoutStatusAndCutMessagesAreDropped) {
    EXPECT_TRUE(Stream({60, 100, 61}).empty());
    // A status byte in the middle of a message starts the next one: the cut one is lost.
    EXPECT_EQ(Stream({0x90, 60, 0x80, 60, 0}), (std::vector<Bytes>{{0x80, 60, 0}}));
}

TEST(MidiFile, TwoTracksThroughTheTempoMapOfAnotherWriter) {
    // Written with libsmf: 480 ticks a beat, 120 beats a minute until tick 960, then 240.
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("varko-midi-" + std::to_string(getpid()) + ".mid"))
                                 .string();
    smf_t* smf = smf_new();
    ASSERT_EQ(smf_set_ppqn(smf, 480), 0);
    smf_track_t* tempoTrack = smf_track_new();
    smf_add_track(smf, tempoTrack);
    smf_track_t* notes = smf_track_new();
    smf_add_track(smf, notes);
    uint8_t fast[] = {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}; // 250000 us a beat
    smf_track_add_event_pulses(tempoTrack, smf_event_new_from_pointer(fast, 6), 960);
    smf_track_add_event_pulses(notes, smf_event_new_from_bytes(0x90, 60, 100), 0);
    smf_track_add_event_pulses(notes, smf_event_new_from_bytes(0x80, 60, 0), 480);
    smf_track_add_event_pulses(notes, smf_event_new_from_bytes(0x91, 64, 90), 1440);
    smf_track_add_event_pulses(notes, smf_event_new_from_bytes(0xD1, 70, -1), 1680);
    smf_track_add_event_pulses(notes, smf_event_new_from_bytes(0x81, 64, 0), 1920);
    ASSERT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);

    std::string error;
    const auto file = ReadMidiFile(path, error);
    std::filesystem::remove(path);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->Format, 1);
    EXPECT_EQ(file->Tracks, 2);
    EXPECT_FALSE(file->Damaged);
    const std::vector<double> times = {0.0, 0.5, 1.25, 1.375, 1.5};
    ASSERT_EQ(file->Events.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(file->Events[i].Seconds, times[i]) << i; // whole beats are exact
    }
    EXPECT_EQ(file->Events[3].Message.Size, 2);
    EXPECT_EQ(file->Events[3].Message.Bytes[0], 0xD1);
    EXPECT_EQ(file->EndSeconds, 1.5);
}

TEST(MidiFile, HandMadeFilesWritersRarelyMake) {
    // Running status across a system exclusive and a meta event, 96 ticks a beat.
    TMidiFile f = Parse(FileBytes(Corpus + "/running-status-across-sysex.mid"));
    ASSERT_EQ(f.Events.size(), 4u);
    EXPECT_EQ(f.Events[1].Message.Bytes, (std::array<uint8_t, 3>{0x90, 0x3C, 0x00}));
    EXPECT_EQ(f.Events[1].Seconds, 0.5);
    EXPECT_EQ(f.Events[3].Seconds, 1.5);
    // SMPTE time: 25 frames a second of 40 ticks each.
    f = Parse(FileBytes(Corpus + "/smpte-25fps.mid"));
    ASSERT_EQ(f.Events.size(), 2u);
    EXPECT_DOUBLE_EQ(f.Events[0].Seconds, 0.5);
    EXPECT_DOUBLE_EQ(f.Events[1].Seconds, 0.75);
}

// A track that ends inside a note-on: it once made the file library read past its buffer.
TEST(MidiFile, TruncatedNoteOnIsDamagedNotRead) {
    const TMidiFile f = Parse(FileBytes(Corpus + "/truncated-note-on.mid"));
    EXPECT_TRUE(f.Damaged);
    EXPECT_TRUE(f.Events.empty());
}

TEST(MidiFile, EveryPrefixOfAFileReadsSafely) {
    const Bytes whole = FileBytes(Corpus + "/two-tracks-tempo.mid");
    ASSERT_GT(whole.size(), 40u);
    size_t lastCount = 0;
    for (size_t n = 0; n <= whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        std::string error;
        const auto f = ParseMidiFile(cut.data(), cut.size(), error);
        if (n < 14) {
            EXPECT_FALSE(f) << n; // the header is not whole
            continue;
        }
        ASSERT_TRUE(f) << n;
        EXPECT_EQ(f->Damaged, n < whole.size()) << n;
        EXPECT_GE(f->Events.size(), lastCount) << n; // what was read stays read
        lastCount = f->Events.size();
    }
    EXPECT_EQ(lastCount, 5u);
}

TEST(MidiFile, NotMidiFiles) {
    std::string error;
    const Bytes text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(ParseMidiFile(text.data(), text.size(), error));
    EXPECT_EQ(error, "not a Standard MIDI File");
    // A division of 0 ticks a beat would make every time infinite.
    const Bytes zero = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0};
    EXPECT_FALSE(ParseMidiFile(zero.data(), zero.size(), error));
    EXPECT_FALSE(ReadMidiFile("/nonexistent/file.mid", error));
    EXPECT_NE(error.find("/nonexistent/file.mid"), std::string::npos);
}

// --midi naming a FIFO held varko-render in open() for ever; the other readers refuse one.
TEST(MidiFile, AFifoIsRefusedNotWaitedOn) {
    const std::string fifo = testing::TempDir() + "varko-midi-fifo-" + std::to_string(::getpid());
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reading = std::async(std::launch::async, [&fifo] {
        std::string error;
        const bool read = ReadMidiFile(fifo, error).has_value();
        return std::make_pair(read, error);
    });
    const bool returned = reading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) {
        // Lets a reader stuck in open() go, so that the test ends.
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        ::close(writer);
    }
    const auto [read, error] = reading.get();
    ::unlink(fifo.c_str());
    EXPECT_TRUE(returned) << "the reader waited on the FIFO";
    EXPECT_FALSE(read);
    EXPECT_NE(error.find("cannot read the MIDI file"), std::string::npos) << error;
}
