// The recorder between the audio callback and the disk: the WAV holds exactly what the engine
// sent, and a disk that cannot keep up or fills up ends the recording with a readable WAV of
// everything before the loss, and a message that says so.
#include "core/Texts.h"
#include "engine/NullHost.h"
#include "files/GestureScript.h"
#include "files/PerformanceFolder.h"
#include "instrument/Instrument.h"
#include "instrument/SteadyHost.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

std::vector<float> ReadWav(const std::string& path, int& rate) {
    SF_INFO info{};
    std::vector<float> samples;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    rate = 0;
    if (f == nullptr) {
        return samples;
    }
    rate = info.samplerate;
    samples.resize(static_cast<size_t>(info.frames * info.channels));
    samples.resize(static_cast<size_t>(sf_readf_float(f, samples.data(), info.frames)) * 2);
    sf_close(f);
    return samples;
}

// Whether the WAV holds exactly `frames` frames of what was played, from frame `from` on.
::testing::AssertionResult HoldsWhatWasPlayed(const std::string& wav, uint64_t frames,
                                              const std::vector<float>& played, uint64_t from) {
    int rate = 0;
    const std::vector<float> got = ReadWav(wav, rate);
    if (rate == 0) {
        return ::testing::AssertionFailure() << wav << " does not open as a sound file";
    }
    if (got.size() != 2 * frames) {
        return ::testing::AssertionFailure()
               << wav << " has " << got.size() / 2 << " frames, not " << frames;
    }
    if (played.size() < 2 * (from + frames)) {
        return ::testing::AssertionFailure() << "fewer frames were played than recorded";
    }
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != played[2 * from + i]) {
            return ::testing::AssertionFailure() << "frame " << i / 2 << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

// A tone whose every sample differs from the one before.
class TRampThread : public TTone {
protected:
    void RenderBlock(float* out, int n) override {
        for (int i = 0; i < n; ++i) {
            out[i] = static_cast<float>(next_++ % 100000) * 1e-5f;
        }
    }

private:
    uint32_t next_ = 0;
};

struct RecorderTest : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-recorder-" + std::to_string(::getpid()));
    void SetUp() override {
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        std::ofstream(Dir / "fifths.scl") << "Fifths\n 2\n701.955\n2/1\n";
    }
    void TearDown() override { fs::remove_all(Dir); }
};

} // namespace

TEST_F(RecorderTest, TheWavHoldsExactlyWhatTheEngineSent) {
    TInstrument in;
    in.Bank().SetTimeCritical(false);
    auto owned = std::make_unique<test::TSteadyHost>(44100.0, 64);
    test::TSteadyHost& host = *owned;
    host.Capture = true;
    in.AttachHost(std::move(owned));
    host.Engine = &in.Audio().Engine();
    in.Audio().SelectDriver(0);
    in.Bank().SetRepeatUpCount(2);
    in.OpenScale((Dir / "fifths.scl").string());
    ASSERT_TRUE(in.StartRecording((Dir / "music").string()));
    const uint64_t start = in.Recording().Recorder().StartPosition();
    for (int i = 0; i < 200; ++i) {
        in.ToneTarget().SetStrikePosition(i % 7, 0.3f);
        in.ToneTarget().SetSpeed(i % 7, 0.02f * static_cast<float>(i % 5));
        in.ToneTarget().SetPressure(i % 7, i % 3 == 0 ? 0.0f : 0.8f);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const TRecordingResult r = in.StopRecording();
    in.Audio().StopAudio();
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.DroppedBlocks, 0u);
    EXPECT_EQ(r.Frames % 64, 0u);
    EXPECT_TRUE(HoldsWhatWasPlayed(in.Recording().Folder() + "/performance.wav", r.Frames,
                                   host.Played, start));
    // The settings that shape the sound, and the counts, for a re-render.
    TPerformanceFolder folder;
    folder.Use(in.Recording().Folder());
    TPerformanceInfo info;
    std::string error;
    ASSERT_TRUE(folder.ReadInfo(info, error)) << error;
    EXPECT_EQ(info.SampleRate, 44100.0);
    EXPECT_EQ(info.BlockSize, 64u);
    EXPECT_EQ(info.Frames, r.Frames);
    EXPECT_TRUE(info.Complete);
}

TEST_F(RecorderTest, ADiskThatCannotKeepUpEndsTheRecordingWithEverythingBeforeTheLoss) {
    // Blocks as fast as the machine makes them, into a ring of a few blocks: the writer, which
    // looks every few milliseconds, falls behind at once.
    auto owned = std::make_unique<TNullHost>(48000.0, 256, false);
    TNullHost& host = *owned;
    std::vector<float> played;
    host.OnBlockDone = [&](const TArrayOfSingleArray& out) {
        for (size_t i = 0; i < out[0].size(); ++i) {
            played.push_back(out[0][i]);
            played.push_back(out[1][i]);
        }
    };
    TAudioEngine engine(std::move(owned));
    auto ramp = std::make_unique<TRampThread>();
    ramp->BlockSize = 256;
    ASSERT_TRUE(engine.AddTone(std::move(ramp)));
    TRecorder recorder;
    recorder.RingSeconds = 0.02;
    engine.Tap = &recorder;
    TPlayingChange master;
    master.Kind = TPlayingChange::TKind::Master;
    std::string error;
    ASSERT_TRUE(recorder.Begin((Dir / "slow.wav").string(), (Dir / "slow.txt").string(), 48000.0, 0,
                               "# slow\n", error))
        << error;
    engine.Start();
    for (int i = 0; i < 2000 && !recorder.Failed(); ++i) {
        master.Value = static_cast<float>(i % 100) / 100.0f; // logged too
        engine.Change(master);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    engine.Stop();
    ASSERT_TRUE(recorder.Failed());
    const TRecordingResult r = recorder.End();
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.DiskTooSlow);
    EXPECT_GT(r.DroppedBlocks, 0u);
    EXPECT_TRUE(HoldsWhatWasPlayed((Dir / "slow.wav").string(), r.Frames, played, 0));
}

// In a process of its own: a small file system of its own, filled by a recording. Exit 0 when
// everything held, 77 when no file system could be mounted here, else the number of the check
// that failed.
int RecordOntoASmallFileSystem(const fs::path& dir) {
    const std::string mount = (dir / "small").string();
    fs::create_directories(mount);
    // As root a mount namespace is enough; otherwise a user namespace gives the right to one.
    if (::unshare(CLONE_NEWNS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        return 77;
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=400k") != 0) {
        return 77;
    }
    TInstrument in;
    in.Bank().SetTimeCritical(false);
    auto owned = std::make_unique<TNullHost>(48000.0, 256, true);
    TNullHost& host = *owned;
    std::vector<float> played;
    played.reserve(48000 * 2 * 20);
    host.OnBlockDone = [&](const TArrayOfSingleArray& out) {
        for (size_t i = 0; i < out[0].size(); ++i) {
            played.push_back(out[0][i]);
            played.push_back(out[1][i]);
        }
    };
    std::vector<std::string> told;
    in.OnMessage = [&](const TInstrumentMessage& m) { told.push_back(m.Text); };
    in.AttachHost(std::move(owned));
    in.Audio().SelectDriver(0);
    in.OpenScale((dir / "fifths.scl").string());
    if (!in.StartRecording(mount + "/Varko")) {
        return 1;
    }
    const uint64_t start = in.Recording().Recorder().StartPosition();
    const std::string folder = in.Recording().Folder();
    // About 1.1 s of sound fills 400 kB; the recording stops by itself.
    for (int i = 0; i < 1000 && in.Recording().Active(); ++i) {
        in.ToneTarget().SetSpeed(i % 3, 0.05f);
        in.ToneTarget().SetPressure(i % 3, 0.7f);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        in.CheckRecording();
    }
    in.Audio().StopAudio();
    if (in.Recording().Active()) {
        return 2; // never ended
    }
    if (told.size() != 1 || told[0].rfind("Recording stopped: No space left on device.", 0) != 0 ||
        told[0].find("block(s) were dropped") == std::string::npos) {
        std::fprintf(stderr, "told: %s\n", told.empty() ? "nothing" : told[0].c_str());
        return 3;
    }
    SF_INFO info{};
    SNDFILE* wav = sf_open((folder + "/performance.wav").c_str(), SFM_READ, &info);
    if (wav == nullptr || info.frames < 48000 / 2 || info.channels != 2) {
        return 4;
    }
    sf_close(wav);
    // The gesture and the ini reach as far as the sound: a full disk must not leave them empty.
    std::string error;
    const auto script = LoadGestureScript(folder + "/performance.txt", error);
    if (!script || script->Events.size() < 3) {
        std::fprintf(stderr, "gesture: %s\n", script ? "too few events" : error.c_str());
        return 6;
    }
    TPerformanceFolder take;
    take.Use(folder);
    TPerformanceInfo written;
    if (!take.ReadInfo(written, error) || written.Frames != static_cast<uint64_t>(info.frames) ||
        written.DroppedBlocks == 0) {
        std::fprintf(stderr, "ini: Frames=%llu DroppedBlocks=%llu, the WAV has %lld frames\n",
                     static_cast<unsigned long long>(written.Frames),
                     static_cast<unsigned long long>(written.DroppedBlocks),
                     static_cast<long long>(info.frames));
        return 7;
    }
    if (fs::exists(folder + "/.reserve")) {
        return 8; // the room kept for the end outlived the take
    }
    const ::testing::AssertionResult same = HoldsWhatWasPlayed(
        folder + "/performance.wav", static_cast<uint64_t>(info.frames), played, start);
    if (!same) {
        std::fprintf(stderr, "%s\n", same.message());
        return 5;
    }
    return 0;
}

TEST_F(RecorderTest, AFullDiskEndsTheTakeWithTheWavTheGestureAndTheIniReadable) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(RecordOntoASmallFileSystem(Dir));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the recording process died";
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no small file system can be mounted here (neither as root nor in a user "
                        "namespace), so a full disk cannot be tried";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed";
}

// A MIDI flood (50,000 messages a second) once stopped a recording as "the disk did not keep up"
// with the disk idle, and left a script too big to re-render: a tone's values at one sample are
// one line, however many messages set them.
TEST_F(RecorderTest, AMidiFloodIsWrittenAsALinePerToneAndSample) {
    TInstrument in;
    in.Bank().SetTimeCritical(false);
    in.AttachHost(std::make_unique<TNullHost>(48000.0, 256, true));
    in.Audio().SelectDriver(0);
    in.OpenScale((Dir / "fifths.scl").string());
    in.Audio().StartAudio();
    ASSERT_TRUE(in.StartRecording((Dir / "takes").string()));
    const std::string folder = in.Recording().Folder();
    std::atomic<bool> done{false};
    std::atomic<uint64_t> messages{0};
    std::thread flood([&] {
        for (int ch = 1; ch < 4; ++ch) {
            const uint8_t on[] = {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(59 + ch),
                                  100};
            in.Midi().Message(0, on, 3, 0.0);
        }
        // The reported flood's rate, 50,000 a second, sent in bursts of 500.
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; !done.load(); ++i) {
            const uint8_t touch[] = {static_cast<uint8_t>(0xD1 + i % 3),
                                     static_cast<uint8_t>(i % 128)};
            in.Midi().Message(0, touch, 2, i * 2e-5);
            ++messages;
            if (i % 500 == 499) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(20 * (i + 1)));
            }
        }
    });
    for (int i = 0; i < 150 && in.Recording().Active(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        in.CheckRecording();
    }
    done = true;
    flood.join();
    ASSERT_TRUE(in.Recording().Active()) << "the recording stopped by itself";
    const TRecordingResult r = in.StopRecording();
    in.Audio().StopAudio();
    EXPECT_TRUE(r.Ok) << r.Error;
    EXPECT_FALSE(r.DiskTooSlow);
    ASSERT_GT(messages.load(), 10000u);
    std::string error;
    const auto script = LoadGestureScript(folder + "/performance.txt", error);
    ASSERT_TRUE(script) << error;
    size_t toneLines = 0;
    for (const TGestureEvent& e : script->Events) {
        toneLines += e.Kind == TGestureEvent::TKind::Tone;
    }
    // Three tones, each at most once per block (and once more where a batch was cut).
    const uint64_t blocks = r.Frames / 256 + 1;
    EXPECT_LE(toneLines, 3 * 2 * blocks) << messages.load() << " messages";
}
