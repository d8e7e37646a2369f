// The bank at real-time pace through a JACK server of its own (dummy back end): late tone
// blocks, JACK's xruns and the blocks played, with every tone kept excited.
// Usage: engine_jack [tones = 37] [seconds = 60] [period = 128] [modes = 8]
//                    [pertone | pool | poolN | inline = pertone]
#include "engine_bank.h"

#include "../tests/audio/JackServer.h"
#include "audio/AsioHost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace varko;

int main(int argc, char** argv) {
    const int tones = argc > 1 ? std::atoi(argv[1]) : 37;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 60.0;
    const unsigned period = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 128;
    const int modes = argc > 4 ? std::atoi(argv[4]) : 8;
    const TToneRendering how = bench::RenderingNamed(argc > 5 ? argv[5] : "pertone", true);
    test::TJackServer server("varko-bench-" + std::to_string(::getpid()), 48000, period);
    if (!server.Start()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    auto hostPtr = std::make_unique<TASIOHost>();
    TASIOHost& host = *hostPtr;
    TAudioEngine engine(std::move(hostPtr));
    host.OwnerDispatcher = [](const std::function<void()>&) {};
    engine.Dispatch = [](const std::function<void()>&) {};
    const auto& list = host.DriverList();
    const auto it = std::find(list.begin(), list.end(), "JACK: system");
    if (it == list.end()) {
        std::fprintf(stderr, "no JACK driver listed\n");
        return 1;
    }
    host.SetDriverIndex(static_cast<int>(it - list.begin()));
    if (host.BufferSize() != period) {
        std::fprintf(stderr, "the driver runs %u-sample blocks\n",
                     static_cast<unsigned>(host.BufferSize()));
        return 1;
    }
    const int bands = bench::BuildBank(engine, how, tones, modes);
    test::TJackCapture capture(0);
    engine.Start();
    if (!host.Active()) {
        std::fprintf(stderr, "the driver did not start: %s\n", host.DriverErrorMessage().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the connections settle
    const uint64_t lateBefore = engine.LateBlocks.load();
    const int xrunsBefore = capture.XRuns.load();
    const auto start = std::chrono::steady_clock::now();
    int n = 0;
    // A pen moving on every bar: each change of speed starts a new strike envelope.
    while (std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
        bench::Stir(engine, ++n);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const uint64_t late = engine.LateBlocks.load() - lateBefore;
    const int xruns = capture.XRuns.load() - xrunsBefore;
    engine.Stop();
    std::printf("JACK dummy, %u-sample blocks at 48000 Hz, %d tones (%d bands) for %.0f s: "
                "late tone-blocks %llu, JACK xruns %d\n",
                period, tones, bands, seconds, static_cast<unsigned long long>(late), xruns);
    return late == 0 && xruns == 0 ? 0 : 2;
}
