// varko-render --midi: a Standard MIDI File (written by another library) renders exactly as
// the same notes given as a script, held notes sound at their pitches, a note outside the tone
// list stays silent, and broken files are refused or played as far as they go.
#include "Signal.h"
#include "render/Renderer.h"

#include <gtest/gtest.h>
#include <smf.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <unistd.h>

using namespace varko;

namespace {

const std::string Examples = VARKO_EXAMPLES_DIR;

struct MidiRender : ::testing::Test {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("varko-midi-render-" + std::to_string(::getpid()));
    std::string err;
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const std::string& name) { return (dir / name).string(); }

    // A MIDI file with the given (tick, message) events in one track, 480 ticks a beat.
    std::string WriteMidi(const std::string& name,
                          const std::vector<std::pair<int, std::vector<uint8_t>>>& events) {
        smf_t* smf = smf_new();
        EXPECT_EQ(smf_set_ppqn(smf, 480), 0);
        smf_track_t* track = smf_track_new();
        smf_add_track(smf, track);
        for (auto [tick, bytes] : events) {
            smf_track_add_event_pulses(
                track, smf_event_new_from_pointer(bytes.data(), static_cast<int>(bytes.size())),
                tick);
        }
        const std::string path = Path(name);
        EXPECT_EQ(smf_save(smf, path.c_str()), 0);
        smf_delete(smf);
        return path;
    }
    int Render(std::vector<std::string> args) {
        std::FILE* sink = std::tmpfile();
        const int status = RunRenderTool(args, sink, sink);
        std::rewind(sink);
        err.clear();
        for (int c; (c = std::fgetc(sink)) != EOF;) {
            err += static_cast<char>(c);
        }
        std::fclose(sink);
        return status;
    }
    std::vector<std::string> Scale() {
        return {"--scale",      Examples + "/scales/12-equal.scl",
                "--mode-limit", "1",
                "--seconds",    "2",
                "--format",     "float"};
    }
};

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<float> Left(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> inter(static_cast<size_t>(info.frames * info.channels)), left;
    if (f != nullptr) {
        sf_readf_float(f, inter.data(), info.frames);
        sf_close(f);
    }
    for (size_t i = 0; i < inter.size(); i += 2) {
        left.push_back(inter[i]);
    }
    return left;
}

// Magnitude at f over [from, from + 0.5 s) at 48 kHz, Hann-windowed.
double Magnitude(const std::vector<float>& x, double from, double f) {
    return std::sqrt(test::Power(x, static_cast<size_t>(from * 48000), 24000, f, 48000));
}

} // namespace

TEST_F(MidiRender, AMidiFileRendersAsTheSameNotesInAScript) {
    // 120 beats a minute, then 240 from tick 600 (0.625 s): note-offs at 0.8125 and 0.9375 s.
    const std::string midi = WriteMidi("notes.mid", {{120, {0x90, 60, 100}},
                                                     {240, {0x90, 67, 80}},
                                                     {600, {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}},
                                                     {960, {0x80, 60, 64}},
                                                     {1200, {0x80, 67, 64}}});
    std::ofstream(Path("notes.txt")) << "note 0.125 60 100\nnote 0.25 67 80\n"
                                        "note 0.8125 60 0\nnote 0.9375 67 0\n";
    auto a = Scale(), b = Scale();
    a.insert(a.end(), {"--midi", midi, "-o", Path("midi.wav")});
    b.insert(b.end(), {"--gesture", Path("notes.txt"), "-o", Path("script.wav")});
    ASSERT_EQ(Render(a), 0) << err;
    ASSERT_EQ(Render(b), 0) << err;
    const std::string fromMidi = Bytes(Path("midi.wav")), fromScript = Bytes(Path("script.wav"));
    EXPECT_GT(fromMidi.size(), 48000u * 2 * 4);
    EXPECT_TRUE(fromMidi == fromScript);
    // A different seed gives other noise: the equality is not that of two silences.
    b.insert(b.end(), {"--seed", "2"});
    ASSERT_EQ(Render(b), 0) << err;
    EXPECT_FALSE(Bytes(Path("script.wav")) == fromMidi);
}

TEST_F(MidiRender, TwoHeldNotesGiveTwoPeaksAndOneOutsideTheListNothing) {
    // 200 Hz (note 60, the 1/1) and 299.7 Hz (note 67, seven steps up), held for a second.
    const std::string midi = WriteMidi(
        "fifth.mid",
        {{0, {0x90, 60, 110}}, {0, {0x90, 67, 110}}, {960, {0x80, 60, 0}}, {960, {0x80, 67, 0}}});
    auto args = Scale();
    args.insert(args.end(), {"--midi", midi, "-o", Path("fifth.wav")});
    ASSERT_EQ(Render(args), 0) << err;
    const std::vector<float> x = Left(Path("fifth.wav"));
    ASSERT_EQ(x.size(), 96000u);
    const double low = Magnitude(x, 0.2, 200.0),
                 high = Magnitude(x, 0.2, 200.0 * std::pow(2.0, 7 / 12.0));
    const double between = Magnitude(x, 0.2, 250.0);
    EXPECT_GT(low, 20 * between);
    EXPECT_GT(high, 20 * between);
    // Released at 1 s, the bars ring on.
    EXPECT_GT(Magnitude(x, 1.2, 200.0), 0.01 * low);

    const std::string outside =
        WriteMidi("outside.mid", {{0, {0x90, 73, 127}}, {480, {0x80, 73, 0}}});
    args = Scale();
    args.insert(args.end(), {"--midi", outside, "-o", Path("outside.wav")});
    ASSERT_EQ(Render(args), 0) << err;
    for (const float v : Left(Path("outside.wav"))) {
        ASSERT_EQ(v, 0.0f);
    }
}

// A held key pressed its bar with its velocity and choked it in two or three seconds; a
// keyboard player expects a held chord to ring.
TEST_F(MidiRender, AHeldKeyDecaysAsSlowlyAsAReleasedOne) {
    std::ofstream(Path("held.txt")) << "note 0 60 100\nnote 3 60 0\n";
    std::ofstream(Path("released.txt")) << "note 0 60 100\nnote 0.05 60 0\n";
    auto decay = [&](const std::string& script) {
        const std::vector<std::string> args{"--scale",   Examples + "/scales/12-equal.scl",
                                            "--seconds", "2.8",
                                            "--format",  "float",
                                            "--gesture", Path(script),
                                            "-o",        Path(script + ".wav")};
        EXPECT_EQ(Render(args), 0) << err;
        const std::vector<float> x = Left(Path(script + ".wav"));
        return 20 * std::log10(Magnitude(x, 0.2, 200.0) / Magnitude(x, 2.2, 200.0));
    };
    const double held = decay("held.txt"), released = decay("released.txt");
    EXPECT_GT(released, 0.5); // it does decay: the measure is not of silence
    EXPECT_NEAR(held, released, 3.0) << "dB over 2 s";
}

TEST_F(MidiRender, BrokenFilesAreRefusedOrPlayedAsFarAsTheyGo) {
    std::ofstream(Path("text.mid")) << "not a MIDI file";
    auto args = Scale();
    args.insert(args.end(), {"--midi", Path("text.mid"), "-o", Path("a.wav")});
    EXPECT_EQ(Render(args), 2);
    EXPECT_NE(err.find("not a Standard MIDI File"), std::string::npos) << err;

    // The note-on survives, its note-off was cut off: the note is released at the file's end
    // and rings out instead of being held.
    std::string bytes = Bytes(WriteMidi("cut.mid", {{0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}}));
    bytes.resize(bytes.size() - 6);
    std::ofstream(Path("cut.mid"), std::ios::binary) << bytes;
    args = Scale();
    args.insert(args.end(), {"--midi", Path("cut.mid"), "-o", Path("cut.wav")});
    ASSERT_EQ(Render(args), 0) << err;
    EXPECT_NE(err.find("damaged"), std::string::npos) << err;
    EXPECT_GT(Magnitude(Left(Path("cut.wav")), 0.0, 200.0), 1.0);

    // A note-off three days after its note-on: the output would grow until the disk is full.
    args = Scale();
    args.insert(args.end(),
                {"--midi",
                 WriteMidi("long.mid", {{0, {0x90, 60, 100}}, {0x0FFFFFFF, {0x80, 60, 0}}}), "-o",
                 Path("long.wav")});
    EXPECT_EQ(Render(args), 2);
    EXPECT_NE(err.find("longer than a day"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(Path("long.wav")));
}

// A note sounds from its own sample, not from the next block's start: the same onset whatever
// the block size, and a note moved by 37 samples starts 37 samples later.
TEST_F(MidiRender, ANoteSoundsFromItsSampleWhateverTheBlockSize) {
    const auto onset = [&](const std::string& name, const std::string& at,
                           const std::string& block) {
        std::ofstream(Path(name + ".txt")) << "note " << at << " 72 100\n";
        auto args = Scale();
        args.insert(args.end(), {"--block", block, "--gesture", Path(name + ".txt"), "-o",
                                 Path(name + ".wav")});
        EXPECT_EQ(Render(args), 0) << err;
        const std::vector<float> left = Left(Path(name + ".wav"));
        size_t i = 0;
        while (i < left.size() && left[i] == 0.0f) {
            ++i;
        }
        return i;
    };
    const size_t at64 = onset("b64", "0.1", "64");
    EXPECT_GE(at64, 4800u);
    EXPECT_LT(at64, 4800u + 480u) << "within 10 ms of its time (the bar's own response)";
    for (const char* block : {"100", "256", "1024"}) {
        EXPECT_EQ(onset(std::string("b") + block, "0.1", block), at64) << "block " << block;
    }
    // 0.1 s and 37 samples at 48 kHz.
    EXPECT_EQ(onset("later", "0.10077083333", "256"), at64 + 37);
}
