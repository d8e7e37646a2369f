// The built plugin in two small real hosts: LV2 through lilv, CLAP through its ABI. Notes sound
// from their own frame whatever the block size, both formats give the same samples, the render
// tool gives the same note, the process call allocates nothing, a file chosen while notes sound
// rebuilds the bank through the worker, and a saved state brings the scale and object back.
#include "ClapHost.h"
#include "Lv2Host.h"

#include "AllocationCounter.h"

#include <gtest/gtest.h>
#include <smf.h>
#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <unistd.h>

using namespace varko::test;
namespace fs = std::filesystem;

namespace {

const std::string Bin = VARKO_PLUGIN_BIN;

struct TTake {
    std::vector<float> Left, Right;
};

TMidi NoteOn(uint32_t frame, int note, int velocity = 100) {
    return {frame, {0x91, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)}};
}
TMidi NoteOff(uint32_t frame, int note) {
    return {frame, {0x81, static_cast<uint8_t>(note), 0}};
}

// The block sizes a host may use: fixed ones, and one that changes from call to call.
std::function<uint32_t(size_t)> Blocks(uint32_t size) {
    if (size != 0) {
        return [size](size_t) { return size; };
    }
    return [](size_t call) {
        static constexpr uint32_t Sizes[] = {1, 300, 7, 4096, 64, 513, 2, 8192, 100};
        return Sizes[call % std::size(Sizes)];
    };
}

// Renders frames through process calls of the given sizes, the events (absolute frames) handed
// to the call they fall in. between runs before each call (parameter changes, files).
template <typename Host>
TTake Play(Host& host, size_t frames, const std::vector<TMidi>& events,
           const std::function<uint32_t(size_t)>& blocks,
           const std::function<void(size_t frame)>& between = {}) {
    TTake t;
    t.Left.resize(frames + TLv2Host::MaxBlock);
    t.Right.resize(frames + TLv2Host::MaxBlock);
    std::vector<TMidi> local(events.size());
    size_t done = 0, next = 0;
    for (size_t call = 0; done < frames; ++call) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(blocks(call), frames - done));
        if (between) {
            between(done);
        }
        size_t count = 0;
        while (next < events.size() && events[next].Frame < done + n) {
            local[count] = events[next++];
            local[count++].Frame -= static_cast<uint32_t>(done);
        }
        if constexpr (std::is_same_v<Host, TLv2Host>) {
            host.Run(n, local.data(), count, t.Left.data() + done, t.Right.data() + done);
        } else {
            host.Process(n, local.data(), count, t.Left.data() + done, t.Right.data() + done);
        }
        done += n;
    }
    t.Left.resize(frames);
    t.Right.resize(frames);
    return t;
}

// Power of x at hertz (Goertzel).
double PowerAt(const float* x, size_t n, double rate, double hertz) {
    const double w = 2.0 * M_PI * hertz / rate, c = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double s = x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// Of the semitones within four of hertz, the loudest in x, in semitones from hertz.
int LoudestSemitoneNear(const std::vector<float>& x, size_t from, size_t n, double rate,
                        double hertz) {
    int best = 0;
    double most = -1.0;
    for (int s = -4; s <= 4; ++s) {
        const double p = PowerAt(x.data() + from, n, rate, hertz * std::pow(2.0, s / 12.0));
        if (p > most) {
            most = p;
            best = s;
        }
    }
    return best;
}

double Rms(const float* x, size_t n) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sum += static_cast<double>(x[i]) * x[i];
    }
    return std::sqrt(sum / static_cast<double>(n));
}

size_t FirstSound(const std::vector<float>& x) {
    for (size_t i = 0; i < x.size(); ++i) {
        if (x[i] != 0.0f) {
            return i;
        }
    }
    return x.size();
}

class PluginHost : public ::testing::TestWithParam<double> {};

// The note 69 at frame 1000 of a fresh instance, the note 72 at frame 30001: silence before the
// first, sound from its frame on, at 440 Hz, and the same samples whatever the block sizes, in
// LV2 and in CLAP alike.
TEST_P(PluginHost, NotesSoundFromTheirFrameWhateverTheBlocks) {
    const double rate = GetParam();
    const size_t frames = static_cast<size_t>(rate * 0.8);
    const std::vector<TMidi> events = {NoteOn(1000, 69), NoteOn(30001, 72), NoteOff(40000, 69)};
    TLv2Host reference(Bin, rate);
    const TTake want = Play(reference, frames, events, Blocks(4096));
    // Silence up to the note's frame; the bar's bands answer within a few samples.
    EXPECT_GE(FirstSound(want.Left), 1000u);
    EXPECT_LT(FirstSound(want.Left), 1016u);
    EXPECT_EQ(FirstSound(want.Right), FirstSound(want.Left));
    EXPECT_GT(Rms(want.Left.data() + 1000, 2000), 1e-4);
    EXPECT_EQ(LoudestSemitoneNear(want.Left, 1000, 16384, rate, 440.0), 0);
    EXPECT_EQ(reference.Control("lv2_latency"), 0.0f);

    for (const uint32_t size : {1u, 7u, 64u, 0u}) {
        TLv2Host lv2(Bin, rate);
        const TTake got = Play(lv2, frames, events, Blocks(size));
        EXPECT_EQ(got.Left, want.Left) << "LV2, block size " << size;
        EXPECT_EQ(got.Right, want.Right) << "LV2, block size " << size;
    }
    for (const uint32_t size : {4096u, 7u, 0u}) {
        TClapHost clap(Bin + "/Varko.clap", rate);
        const TTake got = Play(clap, frames, events, Blocks(size));
        EXPECT_EQ(got.Left, want.Left) << "CLAP, block size " << size;
        EXPECT_EQ(got.Right, want.Right) << "CLAP, block size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, PluginHost, ::testing::Values(44100.0, 48000.0, 96000.0));

// A chord played for a while, with a parameter change and a pitch bend on the way: not one
// allocation inside the process calls, in either format.
TEST(PluginHostAllocation, ProcessAllocatesNothing) {
    const std::vector<TMidi> events = {
        NoteOn(100, 60),        NoteOn(100, 64),    NoteOn(5000, 67),  {7000, {0xE1, 0x00, 0x50}},
        {9000, {0xB1, 74, 90}}, NoteOff(20000, 60), NoteOff(30000, 64)};
    constexpr size_t Frames = 48000, ChangeAt = 12000;
    TLv2Host lv2(Bin, 48000.0);
    TClapHost clap(Bin + "/Varko.clap", 48000.0);
    // A first pass warms up what a first call may set up.
    Play(lv2, 4096, {}, Blocks(4096));
    Play(clap, 4096, {}, Blocks(4096));
    for (const bool isLv2 : {true, false}) {
        std::vector<float> left(Frames + TLv2Host::MaxBlock), right(left.size());
        std::array<TMidi, 16> local{};
        size_t done = 0, next = 0;
        gAllocations = 0;
        gCounting = true;
        while (done < Frames) {
            const uint32_t n = (done / 64) % 3 == 0 ? 64 : 333;
            size_t count = 0;
            while (next < events.size() && events[next].Frame < done + n) {
                local[count] = events[next++];
                local[count++].Frame -= static_cast<uint32_t>(done);
            }
            const bool change = done <= ChangeAt && done + n > ChangeAt; // the master level
            if (isLv2) {
                if (change) {
                    lv2.Control("master") = 30.0f;
                }
                lv2.Run(n, local.data(), count, left.data() + done, right.data() + done);
            } else {
                if (change) {
                    clap.SetParameter(static_cast<uint32_t>(1), 30.0);
                }
                clap.Process(n, local.data(), count, left.data() + done, right.data() + done);
            }
            done += n;
        }
        gCounting = false;
        EXPECT_EQ(gAllocations.load(), 0) << (isLv2 ? "LV2" : "CLAP");
        EXPECT_GT(Rms(left.data() + 100, 4000), 1e-4) << (isLv2 ? "LV2" : "CLAP");
    }
}

fs::path TempDir(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("varko-plugin-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A MIDI file of the notes, rendered by varko-render --midi and played through the plugin. Both
// play each event from its own sample and bring the strikes up to date at the tone blocks. The
// render tool's first block is rendered as its bank is built and is its output's first block;
// the plugin renders every block at the host's call, so its tones run one block ahead: given
// each event one block earlier, the plugin plays the render tool's samples one block earlier.
TEST(PluginHostRenderTool, TheNotesOfAMidiFileSoundAsVarkoRenderPlaysThem) {
    const fs::path dir = TempDir("render");
    constexpr double Rate = 48000.0;
    constexpr uint32_t Block = 256;
    constexpr double FramesPerTick = Rate / 960.0; // 480 ticks a beat at 120 beats a minute
    const std::vector<std::pair<int, std::array<uint8_t, 3>>> notes = {
        {87, {0x91, 60, 100}},  {215, {0x91, 64, 90}}, {471, {0x81, 60, 0}},
        {471, {0x91, 67, 110}}, {727, {0x81, 64, 0}},  {983, {0x81, 67, 0}}};
    smf_t* smf = smf_new();
    ASSERT_EQ(smf_set_ppqn(smf, 480), 0);
    smf_track_t* track = smf_track_new();
    smf_add_track(smf, track);
    std::vector<TMidi> events;
    for (auto [tick, bytes] : notes) {
        smf_track_add_event_pulses(track, smf_event_new_from_pointer(bytes.data(), 3), tick);
        const auto frame = static_cast<uint32_t>(std::lround(tick * FramesPerTick) - Block);
        events.push_back({frame, bytes});
    }
    const std::string midi = (dir / "notes.mid").string();
    ASSERT_EQ(smf_save(smf, midi.c_str()), 0);
    smf_delete(smf);

    const std::string wav = (dir / "notes.wav").string();
    const std::string command = std::string(VARKO_RENDER_TOOL) + " --scale " + VARKO_EXAMPLES_DIR +
                                "/scales/12-equal.scl --down 1 --up 1" +
                                " --initial-frequency 261.63 --midi " + midi +
                                " --seconds 1.5 --format float -o " + wav + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> rendered(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, rendered.data(), info.frames);
    sf_close(f);

    TLv2Host lv2(Bin, Rate);
    const size_t frames = static_cast<size_t>(info.frames) - Block;
    const TTake played = Play(lv2, frames, events, Blocks(Block));
    double diff = 0.0, sum = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        const float l = rendered[2 * (i + Block)], r = rendered[2 * (i + Block) + 1];
        diff += std::pow(double{played.Left[i]} - l, 2) + std::pow(double{played.Right[i]} - r, 2);
        sum += double{l} * l + double{r} * r;
    }
    const double relative = std::sqrt(diff / sum);
    std::printf("relative RMS difference from varko-render: %.3g\n", relative);
    EXPECT_GT(sum, 1.0);
    EXPECT_LT(relative, 1e-5);
    fs::remove_all(dir);
}

// Steps of 1/1, 3/2, 2/1: the key above the reference note plays a fifth.
constexpr const char* FifthsScale = "! fifths.scl\nFifths\n 2\n!\n 3/2\n 2/1\n";

// A key held while a new scale comes through the worker: the old bank plays until the new one is
// in, and the held key sounds on in it at its new pitch, with no silent block between. A file
// that cannot be used leaves that bank playing and says why in Status.
TEST(PluginHostWorker, AFileChosenWhileAKeyIsHeldRebuildsAndItSoundsOn) {
    const fs::path dir = TempDir("worker");
    std::ofstream(dir / "fifths.scl") << FifthsScale;
    std::ofstream(dir / "hostile.scl") << std::string(300, '\xff') << "\n\n\n";
    const double rate = 48000.0;
    TLv2Host lv2(Bin, rate);
    // Note 61: a semitone up in 12 equal steps (277.18 Hz); a fifth (392.4 Hz) in the new scale.
    const size_t chosenAt = 47 * 512;
    const TTake t = Play(lv2, 96000, {NoteOn(0, 61)}, Blocks(512), [&](size_t frame) {
        if (frame == chosenAt) {
            lv2.ChooseFile("scale", (dir / "fifths.scl").string());
        } else if (frame == chosenAt + 512) {
            usleep(200000); // the rebuild thread's time, which a real-time host gives it
        }
    });
    const double base = 261.63;
    EXPECT_EQ(LoudestSemitoneNear(t.Left, 4000, 16384, rate, base * std::pow(2.0, 1 / 12.0)), 0);
    // The new bank is swapped in a little after the choice.
    EXPECT_EQ(LoudestSemitoneNear(t.Left, 60000, 16384, rate, base * 1.5), 0);
    for (size_t i = 0; i + 256 <= t.Left.size(); i += 256) {
        ASSERT_GT(Rms(t.Left.data() + i, 256), 0.0) << "a silent block at " << i;
    }
    EXPECT_EQ(lv2.Control("status"), 0.0f);

    for (const auto& [file, status] :
         {std::pair{"missing.scl", 1.0f}, std::pair{"hostile.scl", 2.0f}}) {
        const TTake after = Play(lv2, 48000, {NoteOn(0, 61)}, Blocks(512), [&](size_t frame) {
            if (frame == 0) {
                lv2.ChooseFile("scale", (dir / file).string());
            }
        });
        EXPECT_EQ(LoudestSemitoneNear(after.Left, 20000, 16384, rate, base * 1.5), 0) << file;
        EXPECT_EQ(lv2.Control("status"), status) << file;
    }
    fs::remove_all(dir);
}

// A key held while a rebuild comes in strikes anew on the tone the host's reference note gives
// it in the new bank, not the tone of the new bank's default reference note.
TEST(PluginHostWorker, AHeldKeyKeepsItsToneUnderAMovedReferenceNote) {
    const double rate = 48000.0;
    TLv2Host lv2(Bin, rate);
    lv2.Control("reference_note") = 62.0f;
    const size_t askedAt = 48 * 512; // after the first window
    const TTake t = Play(lv2, 96000, {NoteOn(0, 62)}, Blocks(512), [&](size_t frame) {
        if (frame == askedAt) {
            lv2.Control("initial_frequency") = 300.0f;
        } else if (frame == askedAt + 512) {
            usleep(200000); // the rebuild thread's time
        }
    });
    EXPECT_EQ(LoudestSemitoneNear(t.Left, 4000, 16384, rate, 261.63), 0);
    EXPECT_EQ(LoudestSemitoneNear(t.Left, 60000, 16384, rate, 300.0), 0);
}

// The plugin reads its ports in a run; the rebuild they ask for is taken by a later one.
void Settle(TLv2Host& lv2) {
    Play(lv2, 512, {}, Blocks(512));
    usleep(300000);
    Play(lv2, 512, {}, Blocks(512));
}

// A session saved with a scale, a mode file and hinged ends opens on a machine without the
// files: the restored instance plays the same samples as the one saved.
TEST(PluginHostState, ASavedSessionPlaysTheSameWithoutItsFiles) {
    const fs::path dir = TempDir("state");
    std::ofstream(dir / "fifths.scl") << FifthsScale;
    std::ofstream(dir / "object.vmod") << "1, 1\n2.3, 0.5\n4.1, 0.25\n";
    const double rate = 48000.0;
    const std::vector<TMidi> notes = {NoteOn(0, 61), NoteOn(0, 59), NoteOff(20000, 59)};
    std::string saved;
    TTake want;
    {
        TLv2Host lv2(Bin, rate);
        lv2.Control("ends") = 3.0f;
        lv2.ChooseFile("scale", (dir / "fifths.scl").string());
        Play(lv2, 512, {}, Blocks(512));
        lv2.ChooseFile("modes", (dir / "object.vmod").string());
        Play(lv2, 512, {}, Blocks(512));
        Settle(lv2);
        LilvState* state = lv2.Save((dir / "session").string());
        ASSERT_NE(state, nullptr);
        char* text =
            lilv_state_to_string(lv2.World(), &lv2.Urids().MapFeature, &lv2.Urids().UnmapFeature,
                                 state, "urn:varko:test-state", nullptr);
        saved = text;
        lilv_free(text);
        lilv_state_free(state);
        EXPECT_NE(saved.find("2.3, 0.5"), std::string::npos) << saved;
        EXPECT_NE(saved.find("3/2"), std::string::npos) << saved;
    }
    {
        // The instance that played the session, as the saving host heard it after loading it.
        TLv2Host lv2(Bin, rate);
        LilvState* state =
            lilv_state_new_from_string(lv2.World(), &lv2.Urids().MapFeature, saved.c_str());
        ASSERT_NE(state, nullptr);
        lv2.Restore(state);
        lilv_state_free(state);
        Settle(lv2);
        want = Play(lv2, 48000, notes, Blocks(512));
    }
    fs::remove_all(dir); // another machine: the files are gone
    TLv2Host lv2(Bin, rate);
    LilvState* state =
        lilv_state_new_from_string(lv2.World(), &lv2.Urids().MapFeature, saved.c_str());
    ASSERT_NE(state, nullptr);
    lv2.Restore(state);
    lilv_state_free(state);
    EXPECT_EQ(lv2.Control("ends"), 3.0f);
    Settle(lv2);
    const TTake got = Play(lv2, 48000, notes, Blocks(512));
    EXPECT_EQ(got.Left, want.Left);
    EXPECT_EQ(LoudestSemitoneNear(got.Left, 0, 16384, rate, 261.63 * 1.5), 0);

    // CLAP keeps the same state in its own stream.
    std::string clapState;
    {
        TClapHost clap(Bin + "/Varko.clap", rate);
        clap.SetParameter(3, 3.0);
        Play(clap, 512, {}, Blocks(512));
        clapState = clap.SaveState();
    }
    EXPECT_NE(clapState.find("12 equal steps"), std::string::npos);
    TClapHost clap(Bin + "/Varko.clap", rate);
    ASSERT_TRUE(clap.LoadState(clapState));
    EXPECT_EQ(clap.Parameter(3), 3.0);
}

} // namespace
