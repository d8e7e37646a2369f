#include "instrument/AudioSession.h"

#include "core/Texts.h"
#include "instrument/InstrumentSettings.h"

#include <algorithm>
#include <thread>

namespace varko {

namespace {

// The channel's name up to its first NUL, as the driver's fixed-size record holds it.
std::string ChannelName(const IAudioHost& host, int channel) {
    std::string name = host.GetOutputChannelName(channel);
    const size_t nul = name.find('\0');
    if (nul != std::string::npos) {
        name.resize(nul);
    }
    return name;
}

} // namespace

TAudioSession::TAudioSession(TInstrumentSettings& settings, TChanged changed)
    : settings_(settings), changed_(std::move(changed)), audioStatus_(text::Stopped) {}

void TAudioSession::SetAudioStatus(const char* text) {
    audioStatus_ = text;
    if (changed_) {
        changed_();
    }
}

void TAudioSession::DeviceLost() {
    SetAudioStatus(text::DeviceLost);
}

const std::vector<std::string>& TAudioSession::DriverList() const {
    static const std::vector<std::string> none;
    return engine_ ? engine_->Host().DriverList() : none;
}

int TAudioSession::DriverIndex() const {
    return settings_.Stored().ASIOdriver;
}

int TAudioSession::ChannelPair() const {
    return settings_.Stored().ASIOchannel;
}

void TAudioSession::SelectDriver(int index) {
    if (!engine_) {
        return;
    }
    engine_->Stop();
    const std::vector<std::string>& list = DriverList();
    if (index >= 0 && index < static_cast<int>(list.size())) {
        const auto& name = list[static_cast<size_t>(index)];
        index = static_cast<int>(std::find(list.begin(), list.end(), name) - list.begin());
    } else {
        index = -1;
    }
    settings_.StoreDriver(index, index >= 0 ? list[static_cast<size_t>(index)] : std::string());
    if (index < 0) {
        if (changed_) {
            changed_();
        }
        return;
    }
    IAudioHost& host = engine_->Host();
    host.SetDriverIndex(index);
    settings_.StoreChannelPair(ChannelPairNames().empty() ? -1 : 0);
    engine_->Start();
    AudioStarted();
    SetAudioStatus(text::Running);
}

std::vector<std::string> TAudioSession::ChannelPairNames() const {
    std::vector<std::string> names;
    if (!engine_) {
        return names;
    }
    const IAudioHost& host = engine_->Host();
    const int pairs = std::max(0, host.OutputChannelCount()) / 2;
    for (int p = 0; p < pairs; ++p) {
        names.push_back(ChannelName(host, 2 * p) + " / " + ChannelName(host, 2 * p + 1));
    }
    return names;
}

void TAudioSession::SelectChannelPair(int pair) {
    const int pairs = static_cast<int>(ChannelPairNames().size());
    settings_.StoreChannelPair(pair >= 0 && pair < pairs ? pair : -1);
    if (DriverIndex() < 0 || ChannelPair() < 0) {
        return;
    }
    engine_->Stop();
    engine_->Host().SetOutputChannelOffset(static_cast<uint16_t>(2 * ChannelPair()));
    engine_->Start();
    SetAudioStatus(text::Running);
}

void TAudioSession::OpenDriverPanel() {
    if (!engine_) {
        return;
    }
    const bool wasRunning = engine_->Running.load();
    if (wasRunning) {
        engine_->Stop();
        SetAudioStatus(text::Stopped);
    }
    engine_->Host().ControlPanel();
    // Audio stopped before (by the player or the watchdog) stays stopped.
    if (wasRunning && DriverIndex() >= 0 && ChannelPair() >= 0) {
        engine_->Start();
        SetAudioStatus(text::Running);
    }
}

void TAudioSession::StartAudio() {
    if (engine_) {
        engine_->Start();
        AudioStarted();
        SetAudioStatus(text::Running);
    }
}

void TAudioSession::AudioStarted() {
    lateBase_ = engine_->LateBlocks.load(std::memory_order_relaxed);
    xrunBase_ = engine_->Host().DeviceXruns();
    resetBase_ = engine_->ToneResets.load(std::memory_order_relaxed);
    lastSwitches_ = engine_->SwitchCount.load(std::memory_order_relaxed);
    lastSwitchTime_ = std::chrono::steady_clock::now();
    lateBlocks_ = xruns_ = toneResets_ = 0;
}

void TAudioSession::WatchAudio() {
    if (!engine_ || preparing_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const uint64_t switches = engine_->SwitchCount.load(std::memory_order_relaxed);
    if (switches != lastSwitches_) {
        lastSwitches_ = switches;
        lastSwitchTime_ = now;
    }
    IAudioHost& host = engine_->Host();
    const char* status = text::Stopped;
    if (engine_->Running.load()) {
        if (host.DeviceLost()) {
            status = text::DeviceLost;
        } else if (now - lastSwitchTime_ > std::chrono::seconds(1)) {
            status = text::DeviceSilent;
        } else {
            status = text::Running;
        }
    }
    const uint64_t late = engine_->LateBlocks.load(std::memory_order_relaxed);
    const uint64_t xruns = host.DeviceXruns();
    // A reloaded driver counts from zero again.
    xrunBase_ = std::min(xrunBase_, xruns);
    const uint64_t resets = engine_->ToneResets.load(std::memory_order_relaxed) - resetBase_;
    if (audioStatus_ != status || lateBlocks_ != late - lateBase_ || xruns_ != xruns - xrunBase_ ||
        toneResets_ != resets) {
        audioStatus_ = status;
        lateBlocks_ = late - lateBase_;
        xruns_ = xruns - xrunBase_;
        toneResets_ = resets;
        if (changed_) {
            changed_();
        }
    }
}

void TAudioSession::StopAudio() {
    if (engine_) {
        engine_->Stop();
        SetAudioStatus(text::Stopped);
    }
}

bool TAudioSession::Running() const {
    return engine_ && engine_->Running.load();
}

std::pair<float, float> TAudioSession::TakePeaks() {
    if (!engine_) {
        return {0.0f, 0.0f};
    }
    const float left = engine_->PeakLeft.exchange(0.0f, std::memory_order_relaxed);
    const float right = engine_->PeakRight.exchange(0.0f, std::memory_order_relaxed);
    return {left, right};
}

std::vector<float> TAudioSession::TakeToneLevels() {
    std::vector<float> levels;
    if (engine_) {
        levels.resize(engine_->Oscillators.size());
        for (size_t t = 0; t < levels.size(); ++t) {
            levels[t] = engine_->TakeToneLevel(t);
        }
    }
    return levels;
}

float TAudioSession::TakeLimiterGain() {
    return engine_ ? engine_->Limiter.TakeLeastGain() : 1.0f;
}

bool TAudioSession::PoolAdvised() const {
    // A few late blocks come from any busy desktop; a hundred since the start do not.
    constexpr uint64_t PilingUp = 100;
    // Four tones a core still wake in time; far beyond, the wake-ups alone miss the period.
    constexpr size_t TonesPerCore = 4;
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return engine_ && lateBlocks_ >= PilingUp &&
           engine_->RenderingInUse().Threads == TToneThreads::PerTone &&
           engine_->Oscillators.size() > TonesPerCore * cores;
}

void TAudioSession::RebuildBegins(bool restart) {
    preparing_ = true;
    if (restart) {
        audioStatus_ = text::Stopped;
    }
}

void TAudioSession::RebuildEnds(bool running) {
    preparing_ = false;
    lastSwitchTime_ = std::chrono::steady_clock::now();
    if (running) {
        audioStatus_ = text::Running;
    }
}

} // namespace varko
