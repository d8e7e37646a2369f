#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "engine/FaderLaws.h"
#include "files/ModeFile.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace varko {

namespace {

std::string Replace(std::string s, const std::string& what, const std::string& with) {
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size())) {
        s.replace(p, what.size(), with);
    }
    return s;
}

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

TInstrument::TInstrument() {
    AudioStatus = text::Stopped;
}

TInstrument::~TInstrument() {
    ReleaseEngine();
}

void TInstrument::Tell(TInstrumentMessage::TKind kind, std::string text) {
    if (OnMessage) {
        OnMessage(TInstrumentMessage{kind, std::move(text)});
    }
}

void TInstrument::Changed() {
    if (OnStateChanged) {
        OnStateChanged();
    }
}

void TInstrument::SetAudioStatus(const char* text) {
    AudioStatus = text;
    Changed();
}

// ---------------------------------------------------------------------------------------
// Audio

void TInstrument::AttachHost(std::unique_ptr<IAudioHost> host, TOwnerDispatcher dispatch) {
    StopRecording();
    midi_.ReplaceBank(scaleStart_, [&] {
        engine_ = std::make_unique<TAudioEngine>(std::move(host));
        engine_->Tap = &recorder_;
        tones_.SetEngine(engine_.get());
    });
    engine_->OnRebuildTones = [this] { RefreshTones(); };
    engine_->Dispatch = dispatch;
    engine_->Host().OwnerDispatcher = std::move(dispatch);
    // The server went away: the audio stays wanted, and the host plays again (after a
    // rebuild for the device's new rate and period) as soon as the device is back.
    engine_->Host().OnDeviceLost = [this](IAudioHost*) {
        if (!engine_) {
            return;
        }
        SetAudioStatus(text::DeviceLost);
        if (OnDeviceLost) {
            OnDeviceLost();
        }
    };
    engine_->Stereo.store(settings_.StereoSeparation, std::memory_order_relaxed);
    engine_->TwoRowPanning.store(settings_.Paint2Rows, std::memory_order_relaxed);
    engine_->MeterPeaks.store(settings_.ShowMainLevels, std::memory_order_relaxed);
    engine_->MasterGain.store(MasterGainFromFader(settings_.MasterLevel),
                              std::memory_order_relaxed);
    engine_->Limit.store(settings_.Limiter, std::memory_order_relaxed);
}

void TInstrument::ReleaseEngine() {
    StopRecording();
    midi_.ReplaceBank(scaleStart_, [&] {
        tones_.SetEngine(nullptr);
        engine_.reset();
    });
}

const std::vector<std::string>& TInstrument::DriverList() const {
    static const std::vector<std::string> none;
    return engine_ ? engine_->Host().DriverList() : none;
}

void TInstrument::SelectDriver(int index) {
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
    settings_.ASIOdriver = index;
    settings_.ASIOdriverName = index >= 0 ? list[static_cast<size_t>(index)] : std::string();
    if (index < 0) {
        Changed();
        return;
    }
    IAudioHost& host = engine_->Host();
    host.SetDriverIndex(index);
    settings_.ASIOchannel = ChannelPairNames().empty() ? -1 : 0;
    engine_->Start();
    AudioStarted();
    SetAudioStatus(text::Running);
}

std::vector<std::string> TInstrument::ChannelPairNames() const {
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

void TInstrument::SelectChannelPair(int pair) {
    const int pairs = static_cast<int>(ChannelPairNames().size());
    settings_.ASIOchannel = pair >= 0 && pair < pairs ? pair : -1;
    if (DriverIndex() < 0 || settings_.ASIOchannel < 0) {
        return;
    }
    engine_->Stop();
    engine_->Host().SetOutputChannelOffset(static_cast<uint16_t>(2 * settings_.ASIOchannel));
    engine_->Start();
    SetAudioStatus(text::Running);
}

void TInstrument::OpenDriverPanel() {
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

void TInstrument::StartAudio() {
    if (engine_) {
        engine_->Start();
        AudioStarted();
        SetAudioStatus(text::Running);
    }
}

void TInstrument::AudioStarted() {
    lateBase_ = engine_->LateBlocks.load(std::memory_order_relaxed);
    xrunBase_ = engine_->Host().DeviceXruns();
    resetBase_ = engine_->ToneResets.load(std::memory_order_relaxed);
    lastSwitches_ = engine_->SwitchCount.load(std::memory_order_relaxed);
    lastSwitchTime_ = std::chrono::steady_clock::now();
    LateBlocks = Xruns = ToneResets = 0;
}

void TInstrument::WatchAudio() {
    if (!engine_ || Preparing) {
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
    if (AudioStatus != status || LateBlocks != late - lateBase_ || Xruns != xruns - xrunBase_ ||
        ToneResets != resets) {
        AudioStatus = status;
        LateBlocks = late - lateBase_;
        Xruns = xruns - xrunBase_;
        ToneResets = resets;
        Changed();
    }
}

void TInstrument::StopAudio() {
    if (engine_) {
        engine_->Stop();
        SetAudioStatus(text::Stopped);
    }
}

bool TInstrument::Running() const {
    return engine_ && engine_->Running.load();
}

std::pair<float, float> TInstrument::TakePeaks() {
    if (!engine_) {
        return {0.0f, 0.0f};
    }
    const float left = engine_->PeakLeft.exchange(0.0f, std::memory_order_relaxed);
    const float right = engine_->PeakRight.exchange(0.0f, std::memory_order_relaxed);
    return {left, right};
}

std::vector<float> TInstrument::TakeToneLevels() {
    std::vector<float> levels;
    if (engine_) {
        levels.resize(engine_->Oscillators.size());
        for (size_t t = 0; t < levels.size(); ++t) {
            levels[t] = engine_->TakeToneLevel(t);
        }
    }
    return levels;
}

std::vector<bool> TInstrument::HeldTones() {
    std::vector<bool> held(static_cast<size_t>(tones_.ToneCount()), false);
    midi_.MarkHeldTones(held);
    const int bar = playing_.CurrentBar;
    if (playing_.PenDown && bar >= 0 && static_cast<size_t>(bar) < held.size()) {
        held[static_cast<size_t>(bar)] = true;
    }
    return held;
}

float TInstrument::TakeLimiterGain() {
    return engine_ ? engine_->Limiter.TakeLeastGain() : 1.0f;
}

// ---------------------------------------------------------------------------------------
// Scale, tone list and bank

bool TInstrument::ReadScale(const std::string& path) {
    ScalaFile file = ReadScalaFile(path);
    if (!file.Opened) {
        Tell(TInstrumentMessage::TKind::Error, text::ScaleNotOpened);
        return false;
    }
    Scale = std::move(file);
    ScalePath = path;
    Changed();
    if (Scale.HasErrors) {
        Tell(TInstrumentMessage::TKind::Warning, text::ScaleErrors);
    }
    return true;
}

void TInstrument::OpenScale(const std::string& path) {
    ReadScale(path);
    // Also after a file that failed: the tones are rebuilt from the previous scale.
    Apply();
}

void TInstrument::CalculateRepeats() {
    if (auto tones =
            varko::CalculateRepeats(Scale.Degrees, RepeatDownCount, RepeatUpCount, RepeatEnds)) {
        Tones = std::move(*tones);
        scaleStart_ = ScaleStartIndex(Scale.Degrees.size(), RepeatDownCount, RepeatEnds);
    }
    const auto keys = KeyTones();
    midi_.SetKeyTones(keys ? &*keys : nullptr);
    if (keys) {
        // The mapping's reference frequency tunes the scale: the 1/1 follows from any key it
        // gives a bar.
        bool any = false;
        for (int key = 0; key < 128 && !any; ++key) {
            const int tone = (*keys)[static_cast<size_t>(key)];
            const auto hertz = MappedKeyFrequency(Kbm, Scale.Degrees, key);
            if (tone >= 0 && hertz && Tones[static_cast<size_t>(tone)] > 0.0f) {
                const float f = *hertz / Tones[static_cast<size_t>(tone)];
                if (std::isfinite(f) && f > 0.0f) {
                    InitialFrequency = f;
                    any = true;
                }
            }
        }
        if (!any) {
            Tell(TInstrumentMessage::TKind::Warning, text::KeyboardMappingNoBars);
        }
    }
    // Mouse speed is measured from here, so the first move does not jump.
    if (playing_.MousePressure && CursorPosition) {
        std::tie(playing_.LastPointerX, playing_.LastPointerY) = CursorPosition();
    }
}

std::optional<std::array<int, 128>> TInstrument::KeyTones() const {
    if (!Kbm.Usable || Scale.Degrees.size() < 2 || scaleStart_ < 0) {
        return std::nullopt;
    }
    const auto count = static_cast<int64_t>(Scale.Degrees.size() - 1);
    std::array<int, 128> keys{};
    for (int key = 0; key < 128; ++key) {
        int64_t tone = -1;
        if (const auto degree = MappedDegree(Kbm, static_cast<size_t>(count), key)) {
            if (RepeatEnds) {
                // Every copy of the scale holds both its ends: count + 1 tones a period. A
                // degree on a copy's start is also the end of the copy below, for the top key.
                const int64_t period =
                    *degree >= 0 ? *degree / count : -((-*degree + count - 1) / count);
                const int64_t copy = period + RepeatDownCount;
                tone = copy * (count + 1) + (*degree - period * count);
                if (tone >= static_cast<int64_t>(Tones.size()) && *degree == period * count &&
                    copy >= 1) {
                    tone = (copy - 1) * (count + 1) + count;
                }
            } else {
                tone = scaleStart_ + *degree;
            }
        }
        keys[static_cast<size_t>(key)] =
            tone >= 0 && tone < static_cast<int64_t>(Tones.size()) ? static_cast<int>(tone) : -1;
    }
    return keys;
}

void TInstrument::OpenKeyboardMapping(const std::string& path) {
    if (path.empty()) {
        Kbm = {};
        KbmPath.clear();
    } else {
        KeyboardMapping kbm = ReadKeyboardMapping(path);
        if (!kbm.Opened || !kbm.Usable) {
            std::string text =
                kbm.Opened ? text::KeyboardMappingUnusable : text::KeyboardMappingNotOpened;
            for (const KbmMessage& m : kbm.Messages) {
                text += "\n" + m.Text;
            }
            Tell(TInstrumentMessage::TKind::Error, text);
            return;
        }
        if (!kbm.Messages.empty()) {
            std::string text = text::KeyboardMappingErrors;
            for (const KbmMessage& m : kbm.Messages) {
                text += "\n" + m.Text;
            }
            Tell(TInstrumentMessage::TKind::Warning, text);
        }
        Kbm = std::move(kbm);
        KbmPath = path;
    }
    Apply();
}

void TInstrument::Apply() {
    CalculateRepeats();
    RefreshTones();
    Changed();
}

TToneBankInput TInstrument::BankInput() const {
    TToneBankInput in;
    in.ToneRatios = Tones;
    in.InitialFrequency = InitialFrequency;
    in.ExternalObject = ExternalObject;
    in.End = End;
    in.ModeWeighting = ModeWeighting;
    in.ModeLimit = ModeLimit;
    in.ResonanceFader = playing_.ResonanceFader();
    in.InterpolateDelays = settings_.InterpolateDelays;
    in.BendRoom = settings_.BendPitch ? TMidiPlaying::BendRoom : 1.0f;
    in.Paint2Rows = settings_.Paint2Rows;
    in.ModeRatios = ModeRatios;
    in.ModeLevels = ModeLevels;
    in.ModeFileName = ModeFileName();
    in.Seed = Seed;
    in.ToneSeeds = ToneSeeds;
    in.Rendering = Rendering();
    in.MakeTone = MakeTone;
    return in;
}

bool TInstrument::PoolAdvised() const {
    // A few late blocks come from any busy desktop; a hundred since the start do not.
    constexpr uint64_t PilingUp = 100;
    // Four tones a core still wake in time; far beyond, the wake-ups alone miss the period.
    constexpr size_t TonesPerCore = 4;
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return engine_ && LateBlocks >= PilingUp &&
           engine_->RenderingInUse().Threads == TToneThreads::PerTone &&
           engine_->Oscillators.size() > TonesPerCore * cores;
}

TToneRendering TInstrument::Rendering() const {
    TToneRendering how;
    how.TimeCritical = TimeCritical;
    if (RenderingOverride) {
        how.Threads = *RenderingOverride;
        how.PoolThreads = PoolThreadsOverride;
    } else {
        how.Threads = settings_.ToneThreadsPerCore ? TToneThreads::PerCore : TToneThreads::PerTone;
        how.PoolThreads = settings_.PoolThreads;
    }
    return how;
}

TToneBankResult TInstrument::RefreshTones() {
    return RebuildBank(engine_ && engine_->Running.load());
}

TToneBankResult TInstrument::RebuildBank(bool restart) {
    if (!engine_) {
        return {};
    }
    Preparing = true;
    if (restart) {
        AudioStatus = text::Stopped;
    }
    NoSoundWarning = false;
    Changed();
    if (OnRebuild) {
        OnRebuild(true);
    }
    TToneBankInput in = BankInput();
    // Runs on the ending thread: the news goes to the owner's thread, if the instrument is
    // still there when it arrives.
    in.OnFailed = [this, dispatch = engine_->Dispatch,
                   alive = std::weak_ptr<int>(alive_)](TTone& t) {
        if (!dispatch) {
            return;
        }
        dispatch([this, alive, crash = t.CrashText()] {
            if (alive.lock() && OnOscillatorCrash) {
                OnOscillatorCrash(crash);
            }
        });
    };
    // Stopped here rather than in the bank's rebuild: the recorder hears of the new bank before
    // it plays.
    if (engine_->Running.load()) {
        engine_->Stop();
    }
    TToneBankResult r;
    // MIDI messages wait while the oscillators they would touch are ended and replaced.
    midi_.ReplaceBank(scaleStart_, [&] {
        r = varko::RefreshTones(*engine_, in);
        tones_.BankChanged();
    });
    // What the pen holds goes on in the new bank (the held keys were struck anew above).
    playing_.CarryOver();
    LastRebuildPosition = engine_->SamplePosition.load();
    if (!r.Abandoned) {
        LogRebuild(in);
        if (restart) {
            engine_->Start();
            r.Running = true;
        }
    }
    Preparing = false;
    // However long the rebuild took, the restarted audio gets its second to flow.
    lastSwitchTime_ = std::chrono::steady_clock::now();
    if (!r.Abandoned) {
        // An abandoned bank is followed by the dead oscillator's crash report.
        NoSoundWarning = r.WarnNoSound;
        ModeFileWarning = ModeFileWarning || r.WarnModeFile;
        if (r.Running) {
            AudioStatus = text::Running;
        }
        if (r.ObjectDescription) {
            ObjectStatus = *r.ObjectDescription;
        }
    }
    Changed();
    if (OnRebuild) {
        OnRebuild(false);
    }
    if (r.Capped) {
        Tell(TInstrumentMessage::TKind::Warning,
             Replace(Replace(text::TooManyTones, "%1", std::to_string(r.RequestedTones)), "%2",
                     std::to_string(MaxTones)));
    }
    if (r.TooLarge) {
        Tell(TInstrumentMessage::TKind::Error,
             Replace(Replace(text::BankTooLarge, "%1", std::to_string(r.BankBytes >> 20)), "%2",
                     std::to_string(MaxBankBytes >> 20)));
    }
    return r;
}

std::vector<float> TInstrument::BarRatios() const {
    const size_t n = std::min(Tones.size(), static_cast<size_t>(MaxTones));
    return {Tones.begin(), Tones.begin() + static_cast<std::ptrdiff_t>(n)};
}

// ---------------------------------------------------------------------------------------
// Vibration mode files

bool TInstrument::LoadModeFile(const std::string& path) {
    ModeFileWarning = false;
    ModeRatios.clear();
    ModeLevels.clear();
    ModeFile file = ReadModeFile(path);
    if (!file.Opened) {
        Changed();
        Tell(TInstrumentMessage::TKind::Error, text::ModeFileNotOpened);
        return false;
    }
    History.Insert(path);
    selectedModeFile_ = 0;
    ModeRatios = std::move(file.Ratios);
    ModeLevels = std::move(file.Levels);
    ModeFileWarning = file.HasFaultyLines;
    Changed();
    return true;
}

bool TInstrument::LoadModeFileFromHistory(int entry) {
    ModeFileWarning = false;
    ModeRatios.clear();
    ModeLevels.clear();
    if (entry < 0 || entry >= static_cast<int>(History.size())) {
        Changed();
        return false;
    }
    ModeFile file = ReadModeFile(History[static_cast<size_t>(entry)]);
    if (!file.Opened) {
        Tell(TInstrumentMessage::TKind::Error, text::ModeFileNotOpened);
        History.Remove(static_cast<size_t>(entry));
        selectedModeFile_ = -1;
        Changed();
        return false;
    }
    selectedModeFile_ = entry;
    ModeRatios = std::move(file.Ratios);
    ModeLevels = std::move(file.Levels);
    ModeFileWarning = file.HasFaultyLines;
    Changed();
    return true;
}

std::string TInstrument::ModeFileName() const {
    if (selectedModeFile_ < 0 || selectedModeFile_ >= static_cast<int>(History.size())) {
        return {};
    }
    return ModeFileItemName(History[static_cast<size_t>(selectedModeFile_)]);
}

} // namespace varko
