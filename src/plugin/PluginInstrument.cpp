#include "plugin/PluginInstrument.h"

#include "engine/FaderLaws.h"
#include "engine/NullHost.h"
#include "files/ModeFile.h"
#include "files/ScalaFile.h"
#include "files/TextFile.h"
#include "files/ToneList.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace varko {

using P = TPluginParam;

// clang-format off
const std::array<TPluginParamInfo, static_cast<size_t>(TPluginParam::Count)> PluginParams = {{
    {"resonance", "Resonance", 0, 200, ResonanceFaderStart, true, false, false, false},
    {"master", "Master level", 0, 200, MasterFaderStart, true, false, false, false},
    {"stereo", "Stereo", 0, 1, 1, true, true, false, false},
    {"ends", "Ends", 1, 3, 1, true, false, false, true},
    {"mode_limit", "Mode limit", 1, MaxModeLimit, 8, true, false, false, true},
    {"mode_weighting", "Mode weighting", 0, 11, 6, true, false, false, true},
    {"interpolate", "Interpolation", 0, 1, 1, true, true, false, true},
    {"repeat_down", "Repeats down", 0, MaxRepeatCount, 1, true, false, false, true},
    {"repeat_up", "Repeats up", 0, MaxRepeatCount, 1, true, false, false, true},
    {"initial_frequency", "Initial frequency", 10, 10000, 261.63f, false, false, false, true},
    {"reference_note", "Reference note", 0, 127, TMidiPlaying::DefaultReferenceNote, true, false,
     false, false},
    {"mpe", "MPE", 0, 1, 1, true, true, false, false},
    {"status", "Status", 0, 6, 0, true, false, true, false},
}};
// clang-format on

// Twelve equal steps: 1/1 plus eleven steps and the octave.
const char* const TPluginInstrument::DefaultScaleText = "! Varko's scale before any is chosen\n"
                                                        "12 equal steps\n"
                                                        " 12\n!\n"
                                                        " 100.0\n 200.0\n 300.0\n 400.0\n"
                                                        " 500.0\n 600.0\n 700.0\n 800.0\n"
                                                        " 900.0\n 1000.0\n 1100.0\n 2/1\n";

const char* PluginStatusText(TPluginStatus status) {
    switch (status) {
    case TPluginStatus::Ready:
        return "Ready";
    case TPluginStatus::ScaleUnreadable:
        return "The scale file could not be read; the last scale plays on";
    case TPluginStatus::ScaleUnusable:
        return "The scale file holds no usable pitch; the last scale plays on";
    case TPluginStatus::ModesUnreadable:
        return "The mode file could not be read; the last object plays on";
    case TPluginStatus::ModesUnusable:
        return "The mode file holds no usable mode; the last object plays on";
    case TPluginStatus::BankTooLarge:
        return "The tones would need too much memory; the last bank plays on";
    case TPluginStatus::Warning:
        return "Built, with warnings: a file has faulty lines or a tone makes no sound";
    }
    return "";
}

// A built bank: its engine over a host of its own (the process call drives it), the tones that
// playing writes to, and its MIDI playing. Built on the rebuild thread, handed to the process
// thread through pending_ (a release and an acquire), played by it alone, and handed back
// through retired_ to be freed: one thread at a time, so nothing inside takes a lock.
struct TPluginBank {
    std::unique_ptr<TAudioEngine> Engine;
    TOscillatorTones Tones{TCallers::OneThread};
    TMidiPlaying Midi{Tones, TCallers::OneThread};
    // The playing parameters as applied to this bank; -1: not yet.
    std::array<float, static_cast<size_t>(TPluginParam::Count)> Applied{};

    TPluginBank() { Applied.fill(-1.0f); }
    ~TPluginBank() {
        Midi.ReplaceBank(-1, [&] {
            Tones.SetEngine(nullptr);
            Engine.reset();
        });
    }
};

TPluginInstrument::TPluginInstrument(double sampleRate) {
    for (size_t i = 0; i < PluginParams.size(); ++i) {
        params_[i].store(PluginParams[i].Default);
    }
    sampleRate_.store(sampleRate);
    files_.ScaleText = DefaultScaleText;
    current_ = Build();
    if (current_) {
        banksBuilt_.fetch_add(1);
    }
    rebuilder_ = std::thread([this] { RebuildLoop(); });
}

TPluginInstrument::~TPluginInstrument() {
    quit_.store(true);
    Wake();
    rebuilder_.join();
    FreeRetired();
    delete pending_.exchange(nullptr);
}

void TPluginInstrument::SetParameter(uint32_t index, float value) {
    if (index >= PluginParams.size() || PluginParams[index].Output || !std::isfinite(value)) {
        return;
    }
    const TPluginParamInfo& info = PluginParams[index];
    value = std::clamp(value, info.Min, info.Max);
    if (info.Integer) {
        value = std::round(value);
    }
    const float old = params_[index].exchange(value, std::memory_order_relaxed);
    if (info.Rebuilds && old != value) {
        RequestRebuild();
    }
}

float TPluginInstrument::Parameter(uint32_t index) const {
    return index < params_.size() ? params_[index].load(std::memory_order_relaxed) : 0.0f;
}

bool TPluginInstrument::ChooseScaleFile(const std::string& path) {
    const auto text = ReadFileCapped(path, MaxPlayerFileBytes);
    return UseScale(text.value_or(""), path, !text);
}

bool TPluginInstrument::ChooseModeFile(const std::string& path) {
    const auto text = ReadFileCapped(path, MaxPlayerFileBytes);
    return UseModes(text.value_or(""), path, !text);
}

// A session's text comes after its path, whose file may be gone or changed: the text decides,
// and the rebuild says afresh how the bank stands.
bool TPluginInstrument::SetScaleText(const std::string& text, const std::string& path) {
    // An empty text is a session saved before any scale was chosen.
    const bool ok =
        text.empty() ? UseScale(DefaultScaleText, "", false) : UseScale(text, path, false);
    RequestRebuild();
    return ok;
}

bool TPluginInstrument::SetModeText(const std::string& text, const std::string& path) {
    const bool ok = UseModes(text, text.empty() ? "" : path, false);
    RequestRebuild();
    return ok;
}

bool TPluginInstrument::UseScale(const std::string& text, const std::string& path,
                                 bool readFailed) {
    if (readFailed) {
        SetStatus(TPluginStatus::ScaleUnreadable, path);
        return false;
    }
    // The 1/1 alone is no scale.
    if (text.size() > MaxPlayerFileBytes || ParseScalaText(text).Degrees.size() < 2) {
        SetStatus(TPluginStatus::ScaleUnusable, path);
        return false;
    }
    {
        const std::lock_guard lock(filesMutex_);
        if (files_.ScaleText == text && files_.ScalePath == path) {
            return true;
        }
        files_.ScaleText = text;
        files_.ScalePath = path;
    }
    RequestRebuild();
    return true;
}

bool TPluginInstrument::UseModes(const std::string& text, const std::string& path,
                                 bool readFailed) {
    if (readFailed) {
        SetStatus(TPluginStatus::ModesUnreadable, path);
        return false;
    }
    if (!text.empty() && (text.size() > MaxPlayerFileBytes || ParseModeText(text).Ratios.empty())) {
        SetStatus(TPluginStatus::ModesUnusable, path);
        return false;
    }
    {
        const std::lock_guard lock(filesMutex_);
        if (files_.ModeText == text && files_.ModePath == path) {
            return true;
        }
        files_.ModeText = text;
        files_.ModePath = path;
    }
    RequestRebuild();
    return true;
}

std::string TPluginInstrument::ScaleText() const {
    const std::lock_guard lock(filesMutex_);
    return files_.ScaleText;
}

std::string TPluginInstrument::ScalePath() const {
    const std::lock_guard lock(filesMutex_);
    return files_.ScalePath;
}

std::string TPluginInstrument::ModeText() const {
    const std::lock_guard lock(filesMutex_);
    return files_.ModeText;
}

std::string TPluginInstrument::ModePath() const {
    const std::lock_guard lock(filesMutex_);
    return files_.ModePath;
}

std::string TPluginInstrument::StatusText() const {
    const std::lock_guard lock(filesMutex_);
    return statusText_;
}

void TPluginInstrument::SetStatus(TPluginStatus status, const std::string& detail) {
    std::string text = PluginStatusText(status);
    if (!detail.empty()) {
        text += " (" + detail + ")";
    }
    {
        const std::lock_guard lock(filesMutex_);
        statusText_ = text;
    }
    params_[static_cast<size_t>(P::Status)].store(static_cast<float>(status));
    if (status != TPluginStatus::Ready) {
        std::fprintf(stderr, "Varko: %s\n", text.c_str());
    }
}

std::unique_ptr<TPluginBank> TPluginInstrument::Build() {
    const std::lock_guard build(buildMutex_);
    TFiles f;
    {
        const std::lock_guard lock(filesMutex_);
        f = files_;
    }
    const auto param = [&](P p) { return params_[static_cast<size_t>(p)].load(); };
    const auto whole = [&](P p) { return static_cast<int>(param(p)); };
    const ScalaFile scale = ParseScalaText(f.ScaleText);
    const int down = whole(P::RepeatDown), up = whole(P::RepeatUp);
    const auto ratios = CalculateRepeats(scale.Degrees, down, up, false);
    if (!ratios) {
        SetStatus(TPluginStatus::ScaleUnusable, f.ScalePath);
        return nullptr;
    }
    TToneBankInput in;
    in.ToneRatios = *ratios;
    in.InitialFrequency = param(P::InitialFrequency);
    bool modeWarning = false;
    if (!f.ModeText.empty()) {
        ModeFile modes = ParseModeText(f.ModeText);
        in.ExternalObject = true;
        in.ModeRatios = std::move(modes.Ratios);
        in.ModeLevels = std::move(modes.Levels);
        in.ModeFileName = ModeFileItemName(f.ModePath);
        modeWarning = modes.HasFaultyLines;
    }
    in.End = static_cast<TEndType>(whole(P::Ends));
    in.ModeWeighting = whole(P::ModeWeighting);
    in.ModeLimit = whole(P::ModeLimit);
    in.ResonanceFader = whole(P::Resonance);
    in.InterpolateDelays = param(P::Interpolate) != 0.0f;
    in.Seed = Seed;
    in.Rendering = {TToneThreads::Inline, 0, false};

    auto bank = std::make_unique<TPluginBank>();
    bank->Engine =
        std::make_unique<TAudioEngine>(std::make_unique<TNullHost>(sampleRate_.load(), BankBlock));
    bank->Tones.SetEngine(bank->Engine.get());
    TToneBankResult r;
    const int scaleStart = ScaleStartIndex(scale.Degrees.size(), down, false);
    bank->Midi.ReplaceBank(scaleStart, [&] {
        r = RefreshTones(*bank->Engine, in);
        bank->Tones.BankChanged();
    });
    if (r.TooLarge || r.Abandoned || r.BuiltTones == 0) {
        SetStatus(TPluginStatus::BankTooLarge, r.CrashText);
        return nullptr;
    }
    UpdateStereoConstants(*bank->Engine, false);
    const bool warn = scale.HasErrors || modeWarning || r.WarnNoSound || r.WarnModeFile;
    SetStatus(warn ? TPluginStatus::Warning : TPluginStatus::Ready, "");
    return bank;
}

void TPluginInstrument::RequestRebuild() {
    rebuildsAsked_.fetch_add(1);
    Wake();
}

void TPluginInstrument::Wake() {
    if (!wakePosted_.exchange(true)) {
        wake_.release();
    }
}

void TPluginInstrument::RebuildLoop() {
    while (!quit_.load()) {
        // Also wakes now and then to free banks swapped out. Only a release taken opens the
        // way to the next: a binary semaphore must never be released twice.
        if (wake_.try_acquire_for(std::chrono::milliseconds(50))) {
            wakePosted_.store(false);
        }
        FreeRetired();
        if (quit_.load()) {
            break;
        }
        const uint64_t asked = rebuildsAsked_.load();
        if (asked == rebuildsDone_) {
            continue;
        }
        if (auto bank = Build()) {
            Publish(std::move(bank));
        }
        {
            const std::lock_guard lock(doneMutex_);
            rebuildsDone_ = asked;
        }
        doneChanged_.notify_all();
    }
    // Nobody waits for rebuilds that will never come.
    {
        const std::lock_guard lock(doneMutex_);
        rebuildsDone_ = rebuildsAsked_.load();
    }
    doneChanged_.notify_all();
}

void TPluginInstrument::Publish(std::unique_ptr<TPluginBank> bank) {
    banksBuilt_.fetch_add(1);
    // A bank published earlier and never taken has never played: it goes at once.
    delete pending_.exchange(bank.release(), std::memory_order_acq_rel);
}

void TPluginInstrument::FreeRetired() {
    TPluginBank* old = nullptr;
    while (retired_.Pop(old)) {
        delete old;
    }
}

void TPluginInstrument::WaitForRebuilds() {
    const uint64_t asked = rebuildsAsked_.load();
    Wake();
    std::unique_lock lock(doneMutex_);
    doneChanged_.wait(lock, [&] { return rebuildsDone_ >= asked || quit_.load(); });
}

void TPluginInstrument::SetSampleRate(double rate) {
    if (rate > 0.0 && rate != sampleRate_.load()) {
        sampleRate_.store(rate);
        RequestRebuild();
    }
}

void TPluginInstrument::Activate() {
    WaitForRebuilds();
    // No process call runs: the newest bank is taken here.
    if (TPluginBank* p = pending_.exchange(nullptr, std::memory_order_acq_rel)) {
        current_.reset(p);
        banksSwapped_.fetch_add(1);
    }
    keys_ = {};
}

int TPluginInstrument::ToneCount() const {
    return current_ ? current_->Tones.ToneCount() : 0;
}

void TPluginInstrument::SwapIn() {
    if (retired_.Free() == 0) {
        return; // the rebuild thread has not freed the last ones yet: take it next time
    }
    TPluginBank* p = pending_.exchange(nullptr, std::memory_order_acq_rel);
    if (p == nullptr) {
        return;
    }
    TPluginBank* old = current_.release();
    current_.reset(p);
    if (old != nullptr) {
        retired_.Push(old);
        Wake();
    }
    banksSwapped_.fetch_add(1, std::memory_order_relaxed);
    // The new bank takes the host's reference note and MPE setting before the keys still down
    // find their tones in it.
    ApplyPlayingParameters();
    ReplayHeld();
}

void TPluginInstrument::ApplyPlayingParameters() {
    TPluginBank& b = *current_;
    const auto changed = [&](P p) {
        const auto i = static_cast<size_t>(p);
        const float v = params_[i].load(std::memory_order_relaxed);
        if (v == b.Applied[i]) {
            return false;
        }
        b.Applied[i] = v;
        return true;
    };
    if (changed(P::Resonance)) {
        const int q = static_cast<int>(b.Applied[static_cast<size_t>(P::Resonance)]);
        b.Tones.SetResonance(ResonanceFromFader(q), q);
    }
    if (changed(P::Master)) {
        const int p = static_cast<int>(b.Applied[static_cast<size_t>(P::Master)]);
        b.Engine->MasterGain.store(MasterGainFromFader(p), std::memory_order_relaxed);
    }
    if (changed(P::Stereo)) {
        b.Engine->Stereo.store(b.Applied[static_cast<size_t>(P::Stereo)] != 0.0f,
                               std::memory_order_relaxed);
    }
    if (changed(P::ReferenceNote)) {
        b.Midi.SetReferenceNote(static_cast<int>(b.Applied[static_cast<size_t>(P::ReferenceNote)]));
    }
    if (changed(P::Mpe)) {
        b.Midi.SetMpe(b.Applied[static_cast<size_t>(P::Mpe)] != 0.0f);
    }
}

void TPluginInstrument::Process(float* left, float* right, uint32_t frames,
                                const TPluginEvent* events, uint32_t count) {
    if (!current_) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        return;
    }
    SwapIn();
    ApplyPlayingParameters();
    TPluginBank& b = *current_;
    const double rate = b.Engine->Host().SampleRate();
    uint32_t frame = 0, e = 0;
    while (frame < frames) {
        while (e < count && events[e].Frame <= frame) {
            Deliver(events[e++]);
        }
        // A segment ends at the next event and never crosses a tone block's end.
        uint32_t end = frames;
        if (e < count && events[e].Frame < end) {
            end = events[e].Frame;
        }
        const auto intoBlock = static_cast<uint32_t>(position_ % BankBlock);
        const uint32_t n = std::min(end - frame, BankBlock - intoBlock);
        // Strikes decay and movement turns into speed once a tone block, as the render tool has
        // them.
        if (intoBlock == 0) {
            b.Midi.Tick(static_cast<double>(position_) / rate);
        }
        b.Engine->RenderNow(left + frame, right + frame, n);
        frame += n;
        position_ += n;
    }
    while (e < count) {
        Deliver(events[e++]); // past the block's end: at its end
    }
}

void TPluginInstrument::Deliver(const TPluginEvent& e) {
    const uint32_t size = std::min<uint32_t>(e.Size, sizeof e.Data);
    RememberEvent(e.Data, size);
    const double seconds = static_cast<double>(position_) / current_->Engine->Host().SampleRate();
    current_->Midi.Message(0, e.Data, size, seconds);
}

void TPluginInstrument::RememberEvent(const uint8_t* d, uint32_t size) {
    if (size < 2) {
        return;
    }
    TChannelMemory& c = keys_[d[0] & 0x0F];
    const int a = d[1] & 0x7F;
    const int v = size > 2 ? d[2] & 0x7F : 0;
    switch (d[0] & 0xF0) {
    case 0x80:
        c.Velocity[static_cast<size_t>(a)] = 0;
        break;
    case 0x90:
        c.Velocity[static_cast<size_t>(a)] = static_cast<uint8_t>(v);
        break;
    case 0xB0:
        if (a == 1) {
            c.Wheel = v;
        } else if (a == 64) {
            c.Pedal = v >= 64;
        } else if (a == 74) {
            c.Slide = v;
        } else if (a == 120 || a == 123) {
            c.Velocity.fill(0);
        }
        break;
    case 0xD0:
        c.Pressure = a;
        break;
    case 0xE0:
        c.Bend = a | (v << 7);
        break;
    default:
        break;
    }
}

void TPluginInstrument::ReplayHeld() {
    TMidiPlaying& midi = current_->Midi;
    const double seconds = static_cast<double>(position_) / current_->Engine->Host().SampleRate();
    const auto send = [&](uint8_t s, int a, int b, size_t size) {
        const uint8_t bytes[3] = {s, static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
        midi.Message(0, bytes, size, seconds);
    };
    for (size_t ch = 0; ch < keys_.size(); ++ch) {
        const TChannelMemory& c = keys_[ch];
        const auto n = static_cast<uint8_t>(ch);
        if (c.Bend >= 0) {
            send(0xE0 | n, c.Bend & 0x7F, c.Bend >> 7, 3);
        }
        if (c.Slide >= 0) {
            send(0xB0 | n, 74, c.Slide, 3);
        }
        if (c.Wheel >= 0) {
            send(0xB0 | n, 1, c.Wheel, 3);
        }
        if (c.Pedal) {
            send(0xB0 | n, 64, 127, 3);
        }
        for (size_t k = 0; k < c.Velocity.size(); ++k) {
            if (c.Velocity[k] != 0) {
                send(0x90 | n, static_cast<int>(k), c.Velocity[k], 3);
            }
        }
        if (c.Pressure >= 0) {
            send(0xD0 | n, c.Pressure, 0, 2);
        }
    }
}

} // namespace varko
