// A long recording at real-time pace: the 37-tone bank on the null host, played by a stand-in
// player a hundred times a second, recorded to disk. Reports the resident memory over the run
// (after a warm-up), the blocks the engine played against the frames in the WAV, the blocks the
// recorder dropped and the late blocks. Exits 1 when a block was lost or the memory grew by more
// than 2 MB.
// Usage: record_soak [seconds = 600] [folder = the temporary folder] [block size = 256]
#include "ProcStatus.h"
#include "engine/NullHost.h"
#include "instrument/Instrument.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

using namespace varko;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double WarmUpSeconds = 10.0;
constexpr long AllowedGrowthKiB = 2048;

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const std::string root =
        argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / "varko-soak").string();
    const auto block = static_cast<uint32_t>(argc > 3 ? std::atoi(argv[3]) : 256);

    const std::string scale = root + "-12-equal.scl";
    {
        std::ofstream f(scale);
        f << "12 equal\n12\n";
        for (int i = 1; i <= 12; ++i) {
            f << i * 100 << ".0\n";
        }
    }
    TInstrument in;
    in.OnMessage = [](const TInstrumentMessage& m) {
        std::fprintf(stderr, "record_soak: %s\n", m.Text.c_str());
    };
    auto owned = std::make_unique<TNullHost>(48000.0, block, true);
    owned->TimeCritical = true;
    in.AttachHost(std::move(owned));
    in.Audio().SelectDriver(0);
    in.Bank().SetRepeatDownCount(1);
    in.Bank().SetRepeatUpCount(1);
    in.OpenScale(scale);
    if (!in.StartRecording(root)) {
        return 1;
    }
    const std::string folder = in.Recording().Folder();
    const uint64_t startPosition = in.Recording().Recorder().StartPosition();
    const uint64_t lateBefore = in.Audio().Engine().LateBlocks.load();
    std::printf("recording %g s of 37 tones at 48000 Hz, blocks of %u, into %s\n", seconds, block,
                folder.c_str());

    std::mt19937 rng(1);
    std::uniform_int_distribution<int> tone(0, 36);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    long minKiB = 0, maxKiB = 0, warmKiB = 0;
    const auto start = Clock::now();
    auto next = start;
    for (long tick = 0;; ++tick) {
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (t >= seconds || !in.Recording().Active()) {
            break;
        }
        const int k = tone(rng);
        in.ToneTarget().SetStrikePosition(k, unit(rng));
        in.ToneTarget().SetSpeed(k, unit(rng) * 0.05f);
        in.ToneTarget().SetPressure(k, unit(rng) < 0.4f ? 0.0f : unit(rng));
        if (tick % 100 == 0) {
            const long kib = ProcStatusValue("VmRSS");
            if (t >= WarmUpSeconds) {
                if (warmKiB == 0) {
                    warmKiB = minKiB = maxKiB = kib;
                }
                minKiB = std::min(minKiB, kib);
                maxKiB = std::max(maxKiB, kib);
            }
            if (tick % 6000 == 0) {
                std::printf("%5.0f s  resident %ld KiB  recorded %.1f s\n", t, kib,
                            in.Recording().RecordedSeconds());
                std::fflush(stdout);
            }
        }
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
    }
    const uint64_t played = in.Audio().Engine().SamplePosition.load() - startPosition;
    const TRecordingResult r = in.StopRecording();
    const uint64_t late = in.Audio().Engine().LateBlocks.load() - lateBefore;
    in.Audio().StopAudio();

    SF_INFO info{};
    SNDFILE* wav = sf_open((folder + "/performance.wav").c_str(), SFM_READ, &info);
    const auto wavFrames = static_cast<uint64_t>(wav != nullptr ? info.frames : 0);
    if (wav != nullptr) {
        sf_close(wav);
    }
    std::printf("played %llu frames until the stop, the WAV holds %llu (%s), dropped blocks %llu, "
                "late tone blocks %llu\n",
                static_cast<unsigned long long>(played), static_cast<unsigned long long>(wavFrames),
                r.Ok ? "ended cleanly" : r.Error.c_str(),
                static_cast<unsigned long long>(r.DroppedBlocks),
                static_cast<unsigned long long>(late));
    std::printf("resident memory after %g s: %ld KiB, lowest %ld KiB, highest %ld KiB: spread %ld "
                "KiB\n",
                WarmUpSeconds, warmKiB, minKiB, maxKiB, maxKiB - minKiB);
    if (argc <= 2) {
        std::filesystem::remove_all(folder);
    }
    std::filesystem::remove(scale);
    // The engine may play a block or two between the count and the stop; none may be missing.
    const bool lost = !r.Ok || r.DroppedBlocks != 0 || wavFrames + block < played;
    return lost || maxKiB - minKiB > AllowedGrowthKiB ? 1 : 0;
}
