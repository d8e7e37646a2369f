#include "render/PlayTool.h"

#include "audio/AsioHost.h"
#include "audio/DriverList.h"
#include "audio/RtAudioDriver.h"
#include "render/JobQueue.h"
#include "render/RenderTool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace varko {

namespace {} // namespace

int ListDevices(std::FILE* out, std::FILE* err) {
    const TAsioDriverRecords records = BuildDriverList();
    for (const auto& r : records) {
        std::fprintf(out, "%s\n", r.Name.c_str());
    }
    // A back end that sees nothing is named too: its server may just not be running.
    for (const std::string& api : RtAudioBackEnds()) {
        const std::string prefix = api + ": ";
        if (std::none_of(records.begin(), records.end(),
                         [&](const TAsioDriverRecord& r) { return r.Name.starts_with(prefix); })) {
            std::fprintf(err, "varko-render: %s: no output device\n", api.c_str());
        }
    }
    if (records.empty()) {
        std::fprintf(err, "varko-render: no audio output devices found\n");
        return 1;
    }
    return 0;
}

int PlayOnDevice(TRenderSession& session, const TRenderOptions& o, std::FILE* out, std::FILE* err) {
    TGestureScript script;
    std::string error;
    if (!LoadScriptOption(o, script, err)) {
        return 2;
    }
    // The driver's threads may post until the host is gone, which is after this function
    // returns: the queue lives as long as anyone can post to it.
    auto jobs = std::make_shared<TJobQueue>();
    const TOwnerDispatcher dispatch = [jobs](std::function<void()> job) {
        jobs->Post(std::move(job));
    };
    auto host = std::make_unique<TASIOHost>();
    TASIOHost& device = *host;
    device.OwnerDispatcher = dispatch;
    if (device.DriverList().empty()) {
        std::fprintf(err, "varko-render: no audio output devices found\n");
        return 1;
    }
    if (o.Device.empty()) {
        device.SetDriverIndex(0);
    } else {
        device.SetDriverName(o.Device);
        if (device.DriverName() != o.Device) {
            std::fprintf(err, "varko-render: no audio output device \"%s\" (see --list-devices)\n",
                         o.Device.c_str());
            return 1;
        }
    }
    if (device.DriverIndex() < 0 || device.BufferSize() == 0) {
        std::fprintf(err, "varko-render: the device \"%s\" could not be opened\n",
                     device.DriverName().c_str());
        return 1;
    }
    if (!session.Build(std::move(host), error, dispatch)) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 1;
    }
    for (const auto& w : session.Warnings) {
        std::fprintf(err, "varko-render: warning: %s\n", w.c_str());
    }
    if (!CheckScriptTones(script, static_cast<int>(session.Engine().Oscillators.size()), o.Gesture,
                          error)) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 2;
    }
    TInstrument& instrument = session.Instrument;
    instrument.Audio().StartAudio();
    if (!session.Engine().Running.load() || !device.Active()) {
        std::fprintf(err, "varko-render: the device \"%s\" could not be started\n",
                     device.DriverName().c_str());
        return 1;
    }
    std::fprintf(out, "Playing on %s (%g Hz, %u samples per block, %.1f ms output latency).\n",
                 device.DriverName().c_str(), device.SampleRate(), device.BufferSize(),
                 1000.0 * device.OutputLatency() / device.SampleRate());
    std::fflush(out);

    using clock = std::chrono::steady_clock;
    // Without a length it plays on until its sound has died away.
    std::optional<TTailEnd> tail;
    if (!o.Seconds && !session.RecordedSeconds()) {
        tail.emplace(session.LastEventSeconds(script));
    }
    const double seconds =
        o.Seconds ? *o.Seconds : (tail ? tail->MaxSeconds() : *session.RecordedSeconds());
    TGesturePlayer player = session.MakePlayer(script);
    const double rate = device.SampleRate();
    const auto start = clock::now();
    const auto end =
        start + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    // The device is looked at this often: a loss and a return are told when they happen.
    const auto watch = std::chrono::milliseconds(100);
    size_t next = 0;
    bool lost = false, everLost = false;
    for (;;) {
        const auto now = clock::now();
        const double t = std::chrono::duration<double>(now - start).count();
        while (next < script.Events.size() && script.Events[next].Seconds(rate) <= t) {
            if (!player.ApplyEvent(script.Events[next], error)) {
                instrument.Audio().StopAudio();
                std::fprintf(err, "varko-render: %s\n", error.c_str());
                return 2;
            }
            ++next;
        }
        instrument.Audio().WatchAudio();
        if (device.DeviceLost() != lost) {
            lost = !lost;
            everLost = everLost || lost;
            if (lost) {
                std::fprintf(err, "varko-render: the audio device was lost at %.1f s\n", t);
            } else {
                std::fprintf(err,
                             "varko-render: the audio device is back at %.1f s (%g Hz, %u "
                             "samples per block)\n",
                             t, device.SampleRate(), device.BufferSize());
            }
        }
        if (now >= end) {
            break;
        }
        if (tail) {
            const auto [left, right] = instrument.Audio().TakePeaks();
            if (tail->Over(t, std::max(left, right))) {
                break;
            }
        }
        auto wake = std::min(end, now + watch);
        if (const double tick = session.Tick(t); tick >= 0.0) {
            wake = std::min(wake, now + std::chrono::duration_cast<clock::duration>(
                                            std::chrono::duration<double>(tick)));
        }
        if (next < script.Events.size()) {
            wake = std::min(wake, start + std::chrono::duration_cast<clock::duration>(
                                              std::chrono::duration<double>(
                                                  script.Events[next].Seconds(rate))));
        }
        jobs->RunUntil(wake);
    }
    instrument.Audio().WatchAudio();
    instrument.Audio().StopAudio();
    std::fprintf(out, "Late tone blocks: %llu\nDevice xruns: %llu\nTone resets: %llu\n",
                 static_cast<unsigned long long>(instrument.Audio().LateBlocks()),
                 static_cast<unsigned long long>(instrument.Audio().Xruns()),
                 static_cast<unsigned long long>(instrument.Audio().ToneResets()));
    if (everLost) {
        std::fprintf(err, "varko-render: the audio device was lost while playing\n");
        return 1;
    }
    return 0;
}

} // namespace varko
