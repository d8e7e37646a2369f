// varko-render --midi: a Standard MIDI File (written by another library) renders exactly as
// the same notes given as a script, held notes sound at their pitches, a note outside the tone
// list stays silent, and broken files are refused or played as far as they go.
#include "Signal.h"
#include "render/Renderer.h"

#include <gtest/gtest.h>
#include <smf.h>
#include <sndfile.h>

#include <algorithm>
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
    std::filesystem::path Dir = std::filesystem::temp_directory_path() /
                                ("varko-midi-render-" + std::to_string(::getpid()));
    std::string Err;
    void SetUp() override { std::filesystem::create_directories(Dir); }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    std::string Path(const std::string& name) { return (Dir / name).string(); }

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
        Err.clear();
        for (int c; (c = std::fgetc(sink)) != EOF;) {
            Err += static_cast<char>(c);
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
    ASSERT_EQ(Render(a), 0) << Err;
    ASSERT_EQ(Render(b), 0) << Err;
    const std::string fromMidi = Bytes(Path("midi.wav")), fromScript = Bytes(Path("script.wav"));
    EXPECT_GT(fromMidi.size(), 48000u * 2 * 4);
    EXPECT_TRUE(fromMidi == fromScript);
    // A different seed gives other noise: the equality is not that of two silences.
    b.insert(b.end(), {"--seed", "2"});
    ASSERT_EQ(Render(b), 0) << Err;
    EXPECT_FALSE(Bytes(Path("script.wav")) == fromMidi);
}

TEST_F(MidiRender, TwoHeldNotesGiveTwoPeaksAndOneOutsideTheListNothing) {
    // 200 Hz (note 60, the 1/1) and 299.7 Hz (note 67, seven steps up), held for a second.
    const std::string midi = WriteMidi(
        "fifth.mid",
        {{0, {0x90, 60, 110}}, {0, {0x90, 67, 110}}, {960, {0x80, 60, 0}}, {960, {0x80, 67, 0}}});
    auto args = Scale();
    args.insert(args.end(), {"--midi", midi, "-o", Path("fifth.wav")});
    ASSERT_EQ(Render(args), 0) << Err;
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
    ASSERT_EQ(Render(args), 0) << Err;
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
        EXPECT_EQ(Render(args), 0) << Err;
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
    EXPECT_NE(Err.find("not a Standard MIDI File"), std::string::npos) << Err;

    // The note-on survives, its note-off was cut off: the note is released at the file's end
    // and rings out instead of being held.
    std::string bytes = Bytes(WriteMidi("cut.mid", {{0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}}));
    bytes.resize(bytes.size() - 6);
    std::ofstream(Path("cut.mid"), std::ios::binary) << bytes;
    args = Scale();
    args.insert(args.end(), {"--midi", Path("cut.mid"), "-o", Path("cut.wav")});
    ASSERT_EQ(Render(args), 0) << Err;
    EXPECT_NE(Err.find("damaged"), std::string::npos) << Err;
    EXPECT_GT(Magnitude(Left(Path("cut.wav")), 0.0, 200.0), 1.0);

    // A note-off three days after its note-on: the output would grow until the disk is full.
    args = Scale();
    args.insert(args.end(),
                {"--midi",
                 WriteMidi("long.mid", {{0, {0x90, 60, 100}}, {0x0FFFFFFF, {0x80, 60, 0}}}), "-o",
                 Path("long.wav")});
    EXPECT_EQ(Render(args), 2);
    EXPECT_NE(Err.find("longer than a day"), std::string::npos) << Err;
    EXPECT_FALSE(std::filesystem::exists(Path("long.wav")));
}

namespace {

// A pitch-bend message on channel (0-based) for semitones within range.
std::vector<uint8_t> BendTo(int channel, double semitones, double range) {
    const int v =
        std::clamp(static_cast<int>(std::lround(8192 + semitones / range * 8192)), 0, 16383);
    return {static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(v & 0x7F),
            static_cast<uint8_t>(v >> 7)};
}

double Cents(double f, double expected) {
    return 1200.0 * std::log2(f / expected);
}

// The strongest frequency between lo and hi over [from, from + seconds).
double PitchAt(const std::vector<float>& x, double from, double seconds, double lo, double hi) {
    return test::Pitch(x, static_cast<size_t>(from * 48000), static_cast<size_t>(seconds * 48000),
                       48000, lo, hi);
}

} // namespace

TEST_F(MidiRender, AnMpeNoteBentTwoSemitonesUpSoundsTwoSemitonesUp) {
    // Member channel 2, its bend range the default 48 semitones; the bend comes first, as MPE
    // controllers send it.
    const std::string midi = WriteMidi(
        "bent.mid", {{0, BendTo(1, 2.0, 48)}, {0, {0x91, 60, 110}}, {960, {0x81, 60, 0}}});
    auto args = Scale();
    args.insert(args.end(), {"--midi", midi, "-o", Path("bent.wav")});
    ASSERT_EQ(Render(args), 0) << Err;
    const std::vector<float> x = Left(Path("bent.wav"));
    const double expected = 200.0 * std::pow(2.0, 2.0 / 12.0);
    EXPECT_LT(std::fabs(Cents(PitchAt(x, 0.2, 0.5, 150, 300), expected)), 5.0);
}

TEST_F(MidiRender, TheConfigurationMessageSetsAnUpperZoneThatThenPlays) {
    // An upper zone of 3 members (channels 13..15) managed on channel 16; its manager's bend
    // (2 semitones' range) then moves the note on member channel 15 a semitone up. Without the
    // message channel 16 would be a member of the lower zone, bending its own notes only.
    const std::vector<std::pair<int, std::vector<uint8_t>>> notes = {
        {0, {0x9E, 60, 110}}, {0, BendTo(15, 1.0, 2)}, {960, {0x8E, 60, 0}}};
    auto mcm = notes;
    mcm.insert(mcm.begin(), {{0, {0xBF, 101, 0}}, {0, {0xBF, 100, 6}}, {0, {0xBF, 6, 3}}});
    auto args = Scale();
    args.insert(args.end(), {"--midi", WriteMidi("mcm.mid", mcm), "-o", Path("mcm.wav")});
    ASSERT_EQ(Render(args), 0) << Err;
    EXPECT_LT(std::fabs(Cents(PitchAt(Left(Path("mcm.wav")), 0.2, 0.5, 150, 300),
                              200.0 * std::pow(2.0, 1.0 / 12.0))),
              5.0);
    args = Scale();
    args.insert(args.end(), {"--midi", WriteMidi("plain.mid", notes), "-o", Path("plain.wav")});
    ASSERT_EQ(Render(args), 0) << Err;
    EXPECT_LT(std::fabs(Cents(PitchAt(Left(Path("plain.wav")), 0.2, 0.5, 150, 300), 200.0)), 5.0);
}

TEST_F(MidiRender, AHeldNotesVibratoShowsInThePitchTrack) {
    // Half a semitone either way, 2.5 times a second, a bend message every 10 ms.
    std::vector<std::pair<int, std::vector<uint8_t>>> events = {{0, {0x91, 60, 110}}};
    for (int ms = 10; ms < 1600; ms += 10) {
        const double semitones = 0.5 * std::sin(2 * std::numbers::pi * 2.5 * ms / 1000.0);
        events.push_back({static_cast<int>(std::lround(ms * 0.96)), BendTo(1, semitones, 48)});
    }
    events.push_back({1536, {0x81, 60, 0}});
    auto args = Scale();
    args.insert(args.end(), {"--midi", WriteMidi("vibrato.mid", events), "-o", Path("vib.wav")});
    ASSERT_EQ(Render(args), 0) << Err;
    const std::vector<float> x = Left(Path("vib.wav"));
    // 40 ms windows around each crest (0.1 s + k 0.4 s) and trough (0.3 s + k 0.4 s).
    for (int k = 0; k < 3; ++k) {
        const double crest = PitchAt(x, 0.08 + 0.4 * k, 0.04, 150, 300);
        const double trough = PitchAt(x, 0.28 + 0.4 * k, 0.04, 150, 300);
        EXPECT_GT(Cents(crest, 200.0), 30.0) << "crest " << k << ": " << crest << " Hz";
        EXPECT_LT(Cents(trough, 200.0), -30.0) << "trough " << k << ": " << trough << " Hz";
    }
}

// Keyboard mappings written as a microtonal keyboard player would, on the 12-step scale
// repeated an octave up (25 bars).
TEST_F(MidiRender, AKeyboardMappingDecidesWhichKeyPlaysWhichBarAndTheTuning) {
    auto peakOf = [&](const std::string& kbm, int note) {
        const std::string midi = WriteMidi("k" + std::to_string(note) + ".mid",
                                           {{0, {0x90, static_cast<uint8_t>(note), 110}},
                                            {480, {0x80, static_cast<uint8_t>(note), 0}}});
        auto args = Scale();
        args.insert(args.end(), {"--up", "1", "--kbm", Path(kbm), "--midi", midi, "--seconds", "1",
                                 "-o", Path("k.wav")});
        EXPECT_EQ(Render(args), 0) << Err;
        const std::vector<float> x = Left(Path("k.wav"));
        double peak = 0;
        for (const float v : x) {
            peak = std::max(peak, static_cast<double>(std::fabs(v)));
        }
        return peak == 0 ? 0.0 : PitchAt(x, 0.1, 0.5, 100, 900);
    };
    // Unmapped keys: the black key above middle C is "x", and keys past the last key are out.
    std::ofstream(Path("holes.kbm")) << "! holes.kbm\n12\n0\n100\n60\n69\n440.0\n12\n"
                                        "0\nx\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n";
    EXPECT_LT(std::fabs(Cents(peakOf("holes.kbm", 69), 440.0)), 5.0); // A at the reference
    EXPECT_LT(std::fabs(Cents(peakOf("holes.kbm", 60), 440.0 / std::pow(2.0, 9 / 12.0))), 5.0);
    EXPECT_EQ(peakOf("holes.kbm", 61), 0.0);
    EXPECT_EQ(peakOf("holes.kbm", 101), 0.0);
    // The reference key (61) is itself unmapped: its frequency still ties the tuning, at the
    // degree its place in the pattern would hold.
    std::ofstream(Path("offscale.kbm")) << "12\n0\n127\n60\n61\n300\n12\n"
                                           "0\nx\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n";
    EXPECT_LT(std::fabs(Cents(peakOf("offscale.kbm", 60), 300.0 / std::pow(2.0, 1 / 12.0))), 5.0);
    // A 24-key pattern over the 12-degree scale: degrees beyond it wrap by the octave, and key
    // 73 (entry 13) plays degree 13, an octave and a step up; the pattern repeats by 24.
    std::ofstream(Path("wide.kbm")) << "24\n0\n127\n60\n60\n200\n24\n"
                                       "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n"
                                       "12\n13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n";
    EXPECT_LT(std::fabs(Cents(peakOf("wide.kbm", 73), 200.0 * std::pow(2.0, 13 / 12.0))), 5.0);
    EXPECT_EQ(peakOf("wide.kbm", 36), 0.0); // degree -24: below the bars
}

TEST_F(MidiRender, ABrokenKeyboardMappingIsRefusedWithItsLine) {
    std::ofstream(Path("broken.kbm")) << "12\n0\n127\n60\n69\nfour hundred\n12\n";
    auto args = Scale();
    args.insert(args.end(), {"--kbm", Path("broken.kbm"), "--midi",
                             WriteMidi("n.mid", {{0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}}), "-o",
                             Path("b.wav")});
    EXPECT_EQ(Render(args), 1); // as a scale that cannot be read
    EXPECT_NE(Err.find("Line 6"), std::string::npos) << Err;
    EXPECT_NE(Err.find("broken.kbm"), std::string::npos) << Err;
    EXPECT_FALSE(std::filesystem::exists(Path("b.wav")));
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
        EXPECT_EQ(Render(args), 0) << Err;
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
