// A performance recorded while its playing values change at any moment between and during
// blocks re-renders from its folder to the very samples the engine played.
#include "instrument/Instrument.h"
#include "instrument/SteadyHost.h"
#include "render/Renderer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

struct Interleaved {
    int Rate = 0;
    std::vector<float> Samples;
};

Interleaved Read(const std::string& path) {
    SF_INFO info{};
    Interleaved a;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        return a;
    }
    a.Rate = info.samplerate;
    a.Samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, a.Samples.data(), info.frames);
    sf_close(f);
    return a;
}

struct RecordRender : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-record-" + std::to_string(::getpid()));
    TInstrument In;
    test::TSteadyHost* Host = nullptr;

    void SetUp() override {
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        auto h = std::make_unique<test::TSteadyHost>(48000.0, 128);
        Host = h.get();
        In.AttachHost(std::move(h));
        Host->Engine = &In.Audio().Engine();
        In.Bank().SetTimeCritical(false);
        In.Audio().SelectDriver(0);
        std::ofstream(Dir / "five.scl") << "five\n5\n240.0\n480.0\n720.0\n960.0\n2/1\n";
        std::ofstream(Dir / "bowl.vmod") << "1, 1\n2.71, 0.5\n5.15, 0.25\n";
    }
    void TearDown() override { fs::remove_all(Dir); }

    void Blocks(uint64_t n) {
        const uint64_t until = Host->Blocks.load() + n;
        while (Host->Blocks.load() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

} // namespace

TEST_F(RecordRender, TheGestureReRendersToTheSamplesThatWerePlayed) {
    In.Bank().SetRepeatUpCount(1);
    In.OpenScale((Dir / "five.scl").string());
    ASSERT_EQ(In.Audio().Engine().Oscillators.size(), 11u);
    ASSERT_TRUE(In.Audio().Running());
    ASSERT_TRUE(In.StartRecording((Dir / "music").string()));
    const std::string folder = In.Recording().Folder();

    // Changes at random moments: inside blocks, between them, several in one block.
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> tone(0, 10), pause(0, 3000);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    IToneTarget& tones = In.ToneTarget();
    auto play = [&](int changes) {
        for (int i = 0; i < changes; ++i) {
            const int t = tone(rng);
            tones.SetStrikePosition(t, unit(rng));
            tones.SetSpeed(t, unit(rng) * 0.05f);
            tones.SetPressure(t, unit(rng) < 0.3f ? 0.0f : unit(rng));
            if (i % 9 == 4) { // a bend, as MIDI pitch bend plays it
                tones.SetPitch(t, i % 27 == 4 ? 1.0f : 0.7f + unit(rng));
            }
            if (i % 40 == 7) {
                In.Playing().SetResonanceFader(static_cast<int>(unit(rng) * 60));
            }
            if (i % 50 == 13) {
                In.Settings().SetMasterLevel(15 + static_cast<int>(unit(rng) * 10));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(pause(rng)));
        }
    };
    play(150);
    In.Settings().SetStereoSeparation(false);
    play(30);
    In.Settings().SetStereoSeparation(true);
    // A rebuild while recording: another object, other repeats.
    ASSERT_TRUE(In.ModeFiles().Load((Dir / "bowl.vmod").string()));
    In.Bank().SetExternalObject(true);
    In.Bank().SetRepeatDownCount(1);
    In.Apply();
    ASSERT_EQ(In.Audio().Engine().Oscillators.size(), 16u);
    play(150);
    Blocks(100); // the last tones ring on a little
    const TRecordingResult r = In.StopRecording();
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.DroppedBlocks, 0u);
    EXPECT_EQ(r.LateBlocks, 0u);
    ASSERT_GT(r.Frames, 100u * 128); // a slow machine (or a sanitizer) plays fewer blocks

    // The folder holds the copies and the settings; the gesture names them.
    for (const char* name :
         {"performance.wav", "performance.txt", "performance.ini", "five.scl", "bowl.vmod"}) {
        EXPECT_TRUE(fs::exists(fs::path(folder) / name)) << name;
    }
    std::ifstream script(fs::path(folder) / "performance.txt");
    const std::string text((std::istreambuf_iterator<char>(script)), {});
    EXPECT_NE(text.find("\nrebuild @0 scale=five.scl modes=- frequency=200 down=0 up=1"),
              std::string::npos)
        << text.substr(0, 400);
    EXPECT_NE(text.find(" scale=five.scl modes=bowl.vmod "), std::string::npos);
    EXPECT_NE(text.find("\nstereo @"), std::string::npos);
    EXPECT_NE(text.find("\nmaster @"), std::string::npos);
    EXPECT_NE(text.find("\nfader @"), std::string::npos);
    EXPECT_NE(text.find("\npitch @"), std::string::npos);

    const std::string out = (Dir / "again.wav").string();
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(RunRenderTool({"--performance", folder, "-o", out}, sink, sink), 0);
    std::fclose(sink);
    const Interleaved live = Read((fs::path(folder) / "performance.wav").string());
    const Interleaved again = Read(out);
    EXPECT_EQ(live.Rate, 48000);
    EXPECT_EQ(again.Rate, 48000);
    ASSERT_EQ(live.Samples.size(), 2 * r.Frames);
    ASSERT_EQ(again.Samples.size(), live.Samples.size());
    size_t firstDifference = live.Samples.size();
    double energy = 0.0;
    for (size_t i = 0; i < live.Samples.size(); ++i) {
        energy += static_cast<double>(live.Samples[i]) * live.Samples[i];
        if (firstDifference == live.Samples.size() && live.Samples[i] != again.Samples[i]) {
            firstDifference = i;
        }
    }
    EXPECT_GT(energy, 1e-3) << "the recording is silent";
    EXPECT_EQ(firstDifference, live.Samples.size())
        << "differs from frame " << firstDifference / 2 << " of " << r.Frames;
}
