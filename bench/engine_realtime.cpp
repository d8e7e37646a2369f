// The 37 x 8 bank at real-time pace with the null host: late blocks and the 99th percentile
// of the time from a block request until every oscillator is done; resident memory.
// Usage: engine_realtime [block size = 128] [seconds = 60] [fifo | normal: oscillators not
// SCHED_FIFO] [tones = 37] [pertone | pool | poolN | inline = pertone]
#include "ProcStatus.h"
#include "engine_bank.h"

#include "core/RealTime.h"
#include "engine/NullHost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <semaphore>
#include <string>

using namespace varko;
using Clock = std::chrono::steady_clock;

namespace {} // namespace

int main(int argc, char** argv) {
    const uint32_t block = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 128;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 60.0;
    auto hostPtr = std::make_unique<TNullHost>(48000.0, block, true);
    TNullHost& host = *hostPtr;
    host.TimeCritical = true;
    TAudioEngine engine(std::move(hostPtr));
    const long before = ProcStatusValue("VmRSS");
    const bool fifo = !(argc > 3 && std::string(argv[3]) == "normal");
    const int tones = argc > 4 ? std::atoi(argv[4]) : 37;
    const TToneRendering how = bench::RenderingNamed(argc > 5 ? argv[5] : "pertone", fifo);
    const int bands = bench::BuildBank(engine, how, tones);
    const long after = ProcStatusValue("VmRSS");

    // A monitor waits for the oscillators after each switch and records the completion time.
    const size_t capacity = static_cast<size_t>(seconds * 48000.0 / block) + 16;
    std::vector<double> times;
    times.reserve(capacity);
    std::counting_semaphore<1 << 20> switched{0};
    std::atomic<int64_t> requestNs{0};
    std::atomic<bool> done{false};
    std::atomic<uint64_t> missed{0};
    std::thread monitor([&] {
        RaiseToRealTimePriority();
        while (true) {
            switched.acquire();
            if (done.load()) {
                break;
            }
            const int64_t t0 = requestNs.load();
            engine.WaitForOscillators();
            const int64_t t1 = Clock::now().time_since_epoch().count();
            if (times.size() < capacity) {
                times.push_back(static_cast<double>(t1 - t0) * 1e-6);
            }
        }
    });
    int n = 0;
    // Requests that come more than half a period off their schedule: the clock thread itself was
    // held up (by the system, not by the oscillators).
    const auto periodNs = static_cast<int64_t>(1e9 * block / 48000.0);
    int64_t firstNs = 0;
    uint64_t heldUp = 0;
    host.OnBufferSwitch32 = [&](IAudioHost* sender, const TArrayOfSingleArray& in,
                                TArrayOfSingleArray& out) {
        const int64_t t0 = Clock::now().time_since_epoch().count();
        if (n == 0) {
            firstNs = t0;
        } else if (std::llabs(t0 - firstNs - n * periodNs) > periodNs / 2) {
            ++heldUp;
            firstNs = t0 - n * periodNs; // the null host keeps its pace from here
        }
        engine.BufferSwitch(sender, in, out);
        requestNs.store(t0);
        switched.release();
        bench::Stir(engine, ++n);
    };
    engine.Start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    engine.Stop();
    done.store(true);
    switched.release();
    monitor.join();
    (void)missed;

    std::sort(times.begin(), times.end());
    const double p99 = times.empty() ? 0 : times[times.size() * 99 / 100];
    const double worst = times.empty() ? 0 : times.back();
    std::printf("%s, block %u: %d tones, %d bands, %llu blocks in %.0f s, late tone-blocks %llu, "
                "completion p99 %.3f ms (period %.3f ms, worst %.3f ms), resident %ld KiB "
                "(bank %ld KiB), requests off schedule by > half a period %llu\n",
                bench::RenderingName(how.Threads), block, tones, bands,
                static_cast<unsigned long long>(host.BlockCount.load()), seconds,
                static_cast<unsigned long long>(engine.LateBlocks.load()), p99,
                1000.0 * block / 48000.0, worst, after, after - before,
                static_cast<unsigned long long>(heldUp));
    return 0;
}
