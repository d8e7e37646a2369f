// The instrument played for an hour at real-time pace on a JACK dummy server of its own: random
// pen gestures on the 37-tone bank, a rebuild every 30 s, the server's buffer size changed every
// 2 minutes and the server restarted every 10 minutes. The device is expected to follow both by
// itself (a reset and rebuild for a new period, a reload when the server is back); the soak only
// reopens it as a player would when it has not come back within 10 s, and counts that. Once a
// minute it prints resident memory, threads, late blocks, tone resets and the device's events; at
// the end a summary. A main loop that stops answering for 90 s is reported as a hang and ends the
// run (exit status 3).
// Usage: soak [minutes = 60] [rebuild s = 30] [buffer-size change s = 120] [restart s = 600]
#include "ProcStatus.h"
#include "audio/AsioHost.h"
#include "audio/JackServer.h"
#include "render/JobQueue.h"
#include "render/Renderer.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>

using namespace varko;
using Clock = std::chrono::steady_clock;

namespace {

// A player's hand: strokes along and across the bars, pressing and lifting at random.
class TRandomPen {
public:
    explicit TRandomPen(uint32_t seed) : random_(seed) {}
    TGestureEvent Next(double time) {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        if (u(random_) < (down_ ? 0.01 : 0.05)) {
            down_ = !down_;
            pressure_ = 0.2 + 0.8 * u(random_);
        }
        x_ = std::clamp(x_ + (u(random_) - 0.5) * 0.02, 0.0, 1.0);
        y_ = std::clamp(y_ + (u(random_) - 0.5) * 0.2, 0.0, 1.0);
        TGestureEvent e;
        e.Kind = TGestureEvent::TKind::Pen;
        e.Time = time;
        e.X = x_;
        e.Y = y_;
        e.Pressure = down_ ? pressure_ : 0.0;
        return e;
    }

private:
    std::mt19937 random_;
    bool down_ = false;
    double x_ = 0.5, y_ = 0.5, pressure_ = 0.5;
};

bool SetServerBufferSize(unsigned frames) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open("VarkoSoakControl", JackNoStartServer, &status);
    if (client == nullptr) {
        return false;
    }
    const bool ok = jack_set_buffer_size(client, frames) == 0;
    jack_client_close(client);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double rebuildEvery = argc > 2 ? std::atof(argv[2]) : 30.0;
    const double bufferEvery = argc > 3 ? std::atof(argv[3]) : 120.0;
    const double restartEvery = argc > 4 ? std::atof(argv[4]) : 600.0;
    // Line by line: the forked server would otherwise repeat what is still buffered.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    test::TJackServer server("varko-soak-" + std::to_string(::getpid()), 48000, 256);
    if (!server.Start()) {
        std::fprintf(stderr, "soak: jackd did not start\n");
        return 1;
    }

    TRenderOptions options;
    options.Scale = std::string(VARKO_EXAMPLES_DIR) + "/scales/12-equal.scl";
    options.Down = 1;
    options.Up = 1; // 37 tones
    options.Play = true;
    TRenderSession session;
    std::string error;
    if (!session.Prepare(options, error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return 1;
    }
    TJobQueue jobs;
    auto hostPtr = std::make_unique<TASIOHost>();
    TASIOHost& device = *hostPtr;
    const auto jack = std::find(device.DriverList().begin(), device.DriverList().end(),
                                std::string("JACK: system"));
    if (jack == device.DriverList().end()) {
        std::fprintf(stderr, "soak: no JACK device\n");
        return 1;
    }
    const int driver = static_cast<int>(jack - device.DriverList().begin());
    device.SetDriverIndex(driver);
    const auto start = Clock::now();
    auto seconds = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    bool lost = false;
    uint64_t lostNotices = 0, resets = 0, rebuilds = 0, reopens = 0, failedReopens = 0;
    uint64_t backByItself = 0;
    uint64_t bufferChanges = 0, bufferNotFollowed = 0, restarts = 0;
    session.Instrument.OnDeviceLost = [&] {
        lost = true;
        ++lostNotices;
        std::printf("  at %.1f s: device lost\n", seconds());
    };
    const TOwnerDispatcher dispatch = [&jobs](std::function<void()> job) {
        jobs.Post(std::move(job));
    };
    if (!session.Build(std::move(hostPtr), error, dispatch)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return 1;
    }
    TAudioEngine& engine = session.Engine();
    // The driver's resets rebuild the bank through the instrument; count them on the way.
    engine.OnRebuildTones = [&, rebuild = engine.OnRebuildTones] {
        ++resets;
        std::printf("  at %.1f s: driver reset, bank rebuilt at %u frames\n", seconds(),
                    device.BufferSize());
        rebuild();
    };
    TInstrument& instrument = session.Instrument;
    instrument.Audio().StartAudio();
    if (!engine.Running.load() || !device.Active()) {
        std::fprintf(stderr, "soak: the JACK device did not start\n");
        return 1;
    }

    std::atomic<int64_t> heartbeat{Clock::now().time_since_epoch().count()};
    std::atomic<const char*> stage{"playing"}; // what the main loop is doing, for a hang
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const auto beat = Clock::time_point(Clock::duration(heartbeat.load()));
            if (Clock::now() - beat > std::chrono::seconds(90)) {
                std::fprintf(stdout, "HANG: the main loop has not answered for 90 s (%s)\n",
                             stage.load());
                std::fflush(stdout);
                std::_Exit(3);
            }
        }
    });

    // Reopens the driver as a player who chooses it again does.
    auto reopen = [&] {
        stage = "stopping the engine";
        instrument.Audio().StopAudio();
        stage = "closing the driver";
        device.SetDriverIndex(-1);
        stage = "opening the driver";
        device.SetDriverIndex(driver);
        stage = "rebuilding";
        instrument.RefreshTones();
        stage = "starting the engine";
        instrument.Audio().StartAudio();
        stage = "playing";
        lost = false;
        if (engine.Running.load() && device.Active()) {
            ++reopens;
        } else {
            ++failedReopens;
        }
    };

    // Waits up to 10 s for the device to play again by itself: not lost, blocks flowing.
    auto waitForReturn = [&] {
        const auto until = Clock::now() + std::chrono::seconds(10);
        uint64_t switches = engine.SwitchCount.load();
        int flowing = 0;
        while (Clock::now() < until) {
            heartbeat = Clock::now().time_since_epoch().count();
            jobs.RunUntil(Clock::now() + std::chrono::milliseconds(50));
            instrument.Audio().WatchAudio();
            const uint64_t now = engine.SwitchCount.load();
            flowing = !device.DeviceLost() && now != switches ? flowing + 1 : 0;
            switches = now;
            if (flowing >= 4) {
                lost = false;
                return true;
            }
        }
        return false;
    };

    auto at = [&](double s) {
        return start +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    };
    const auto end = at(minutes * 60.0);
    double nextRebuild = rebuildEvery, nextBuffer = bufferEvery / 2, nextRestart = restartEvery;
    double nextReport = 60.0, nextPen = 0.0, nextRetry = 0.0;
    const unsigned sizes[] = {128, 512, 1024, 256};
    size_t nextSize = 0;
    unsigned wantedSize = 256;
    double checkSizeAt = -1.0;
    TRandomPen pen(7);
    const TGestureScript noScript;
    TGesturePlayer player = session.MakePlayer(noScript);
    const long rssStart = ProcStatusValue("VmRSS");
    long rssMax = rssStart;
    uint64_t lastLate = 0;
    std::printf("minute  rss_KiB threads  late(+new)  tone_resets  lost reopen buffer "
                "driver_resets rebuilds\n");
    std::fflush(stdout);
    while (Clock::now() < end) {
        heartbeat = Clock::now().time_since_epoch().count();
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (t >= nextPen) {
            player.ApplyEvent(pen.Next(t), error);
            nextPen += 0.025;
        }
        if (t >= nextRebuild) {
            session.Instrument.RefreshTones();
            ++rebuilds;
            nextRebuild += rebuildEvery;
        }
        if (t >= nextBuffer) {
            wantedSize = sizes[nextSize++ % std::size(sizes)];
            stage = "changing the buffer size";
            const bool changed = SetServerBufferSize(wantedSize);
            stage = "playing";
            if (changed) {
                ++bufferChanges;
                std::printf("  at %.1f s: server buffer size set to %u\n", t, wantedSize);
                checkSizeAt = t + 10.0;
            }
            nextBuffer += bufferEvery;
        }
        if (checkSizeAt >= 0 && t >= checkSizeAt) {
            if (device.BufferSize() != wantedSize || !engine.Running.load()) {
                ++bufferNotFollowed;
                std::printf("  at %.0f s the device runs %u frames, the server %u%s\n", t,
                            device.BufferSize(), wantedSize,
                            engine.Running.load() ? "" : " (engine stopped)");
            }
            checkSizeAt = -1.0;
        }
        if (t >= nextRestart) {
            ++restarts;
            const auto killed = Clock::now();
            stage = "stopping the server";
            server.Stop();
            stage = "waiting for the loss";
            // The device must notice that its server is gone, within a bounded time.
            while (!lost && Clock::now() - killed < std::chrono::seconds(10)) {
                heartbeat = Clock::now().time_since_epoch().count();
                jobs.RunUntil(Clock::now() + std::chrono::milliseconds(50));
            }
            const double noticed = std::chrono::duration<double>(Clock::now() - killed).count();
            stage = "starting the server";
            if (!server.Start()) {
                std::printf("  at %.0f s the server did not come back\n", t);
                break;
            }
            heartbeat = Clock::now().time_since_epoch().count();
            wantedSize = 256;
            const bool noticedLoss = lost;
            stage = "waiting for the device to come back";
            const bool back = waitForReturn();
            stage = "playing";
            if (back) {
                ++backByItself;
            } else {
                reopen();
            }
            std::printf(
                "  restart at %.0f s: %s after %.1f s, %s after %.1f s\n", t,
                noticedLoss ? "loss noticed" : "loss NOT noticed", noticed,
                back ? "playing again by itself"
                     : (engine.Running.load() ? "playing again after a reopen" : "NOT playing"),
                std::chrono::duration<double>(Clock::now() - killed).count());
            nextRestart += restartEvery;
        }
        instrument.Audio().WatchAudio();
        // A loss outside a restart that does not end by itself, or a reopen that failed: the
        // player chooses the driver again.
        if (lost && !waitForReturn()) {
            std::printf("  at %.1f s: lost outside a restart and not back within 10 s\n", t);
            reopen();
            nextRetry = t + 5.0;
        } else if (!engine.Running.load() && t >= nextRetry) {
            reopen();
            nextRetry = t + 5.0;
        }
        if (t >= nextReport) {
            const long rss = ProcStatusValue("VmRSS");
            rssMax = std::max(rssMax, rss);
            const uint64_t late = engine.LateBlocks.load();
            std::printf(
                "%6.0f %8ld %7ld %6llu(+%llu) %12llu %5llu %6llu %6llu %13llu %8llu\n", t / 60.0,
                rss, ProcStatusValue("Threads"), static_cast<unsigned long long>(late),
                static_cast<unsigned long long>(late - lastLate),
                static_cast<unsigned long long>(engine.ToneResets.load()),
                static_cast<unsigned long long>(lostNotices),
                static_cast<unsigned long long>(reopens),
                static_cast<unsigned long long>(bufferChanges),
                static_cast<unsigned long long>(resets), static_cast<unsigned long long>(rebuilds));
            std::fflush(stdout);
            lastLate = late;
            nextReport += 60.0;
        }
        stage = "running the host's and the engine's jobs";
        jobs.RunUntil(std::min(at(nextPen), at(nextReport)));
        stage = "playing";
    }
    instrument.Audio().StopAudio();
    done = true;
    watchdog.join();
    const long rssEnd = ProcStatusValue("VmRSS");
    std::printf(
        "summary: %.0f min, resident %ld KiB at the start, %ld at the end, %ld at most; "
        "late blocks %llu; tone resets %llu; restarts %llu (lost noticed %llu, back by itself "
        "%llu, reopened %llu, failed %llu); buffer-size changes %llu (not followed %llu); driver "
        "resets "
        "%llu; rebuilds %llu\n",
        minutes, rssStart, rssEnd, std::max(rssMax, rssEnd),
        static_cast<unsigned long long>(engine.LateBlocks.load()),
        static_cast<unsigned long long>(engine.ToneResets.load()),
        static_cast<unsigned long long>(restarts), static_cast<unsigned long long>(lostNotices),
        static_cast<unsigned long long>(backByItself), static_cast<unsigned long long>(reopens),
        static_cast<unsigned long long>(failedReopens),
        static_cast<unsigned long long>(bufferChanges),
        static_cast<unsigned long long>(bufferNotFollowed), static_cast<unsigned long long>(resets),
        static_cast<unsigned long long>(rebuilds));
    return 0;
}
