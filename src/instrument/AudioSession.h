// The audio session: the engine over its host, the driver and channel pair chosen, the audio
// started and stopped, and the watch over how it really plays. Owner's thread only; the
// engine's own fields say which of them the audio thread touches.
#pragma once

#include "engine/AudioEngine.h"
#include "instrument/InstrumentMessage.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace varko {

class TInstrumentSettings;

class TAudioSession {
public:
    // The driver and pair chosen are stored in settings.
    TAudioSession(TInstrumentSettings& settings, TChanged changed);
    TAudioSession(const TAudioSession&) = delete;
    TAudioSession& operator=(const TAudioSession&) = delete;

    bool HasEngine() const { return engine_ != nullptr; }
    TAudioEngine& Engine() { return *engine_; }
    const TAudioEngine& Engine() const { return *engine_; }
    // Puts an engine in place of the last (none: the audio is gone); the caller keeps the
    // tones and the MIDI away from the bank meanwhile.
    void Replace(std::unique_ptr<TAudioEngine> engine) { engine_ = std::move(engine); }
    // The device went away: status "Device lost" (the host plays again when it is back).
    void DeviceLost();
    // Tones in the bank now (0 without an engine).
    size_t ToneCount() const { return engine_ ? engine_->Oscillators.size() : 0; }

    const std::vector<std::string>& DriverList() const;
    // The open driver's index in DriverList, -1 for none.
    int DriverIndex() const;
    // Stops the audio, opens the driver (a name listed twice opens its first entry; -1 or an
    // index out of the list: none) and starts the audio on its first channel pair.
    void SelectDriver(int index);
    // "left / right" for each pair of the open driver's output channels.
    std::vector<std::string> ChannelPairNames() const;
    int ChannelPair() const;
    // Restarts the audio on another pair; nothing without a driver or with pair -1.
    void SelectChannelPair(int pair);
    // The driver's own panel, opened with the audio stopped; audio that ran runs again.
    void OpenDriverPanel();
    void StartAudio();
    void StopAudio();
    bool Running() const;
    // The largest |left| and |right| since the last call (for the level meters).
    std::pair<float, float> TakePeaks();
    // The master limiter's least gain (0 .. 1) since the last call, 1 when it did not act.
    float TakeLimiterGain();
    // Each tone's largest |sample| since the last call (the bars' light), one per tone.
    std::vector<float> TakeToneLevels();

    // Looks at the audio as it really is and updates AudioStatus and the glitch counts; says
    // changed when they changed. The owner calls it a few times a second.
    void WatchAudio();
    // "Running" only while the device asks for blocks; "Stopped", "Device lost" or "Device
    // silent" (no block for a second) otherwise.
    const std::string& AudioStatus() const { return audioStatus_; }
    uint64_t LateBlocks() const {
        return lateBlocks_;
    } // tone blocks not ready in time, since the audio last started
    uint64_t Xruns() const { return xruns_; } // the device's over- and underruns, likewise
    uint64_t ToneResets() const {
        return toneResets_;
    } // blocks silenced as their bands ran away, likewise
    // Late blocks pile up under a thread per tone with far more tones than processor cores:
    // the pool would serve this bank better.
    bool PoolAdvised() const;

    // A rebuild of the bank is under way (the watch rests meanwhile).
    bool Preparing() const { return preparing_; }
    void RebuildBegins(bool restart);
    // However long the rebuild took, restarted audio gets its second to flow.
    void RebuildEnds(bool running);

private:
    void SetAudioStatus(const char* text);
    // The audio (re)starts: the glitch counts start from zero, blocks get a second to flow.
    void AudioStarted();

    TInstrumentSettings& settings_;
    TChanged changed_;
    std::unique_ptr<TAudioEngine> engine_;
    bool preparing_ = false;
    std::string audioStatus_;
    uint64_t lateBlocks_ = 0, xruns_ = 0, toneResets_ = 0;
    uint64_t lateBase_ = 0, xrunBase_ = 0, resetBase_ = 0, lastSwitches_ = 0;
    std::chrono::steady_clock::time_point lastSwitchTime_;
};

} // namespace varko
