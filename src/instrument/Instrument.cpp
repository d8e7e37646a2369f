#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "engine/FaderLaws.h"

#include <algorithm>

namespace varko {

namespace {

std::string Replace(std::string s, const std::string& what, const std::string& with) {
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size())) {
        s.replace(p, what.size(), with);
    }
    return s;
}

} // namespace

TInstrument::TInstrument() = default;

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

// ---------------------------------------------------------------------------------------
// The engine

void TInstrument::AttachHost(std::unique_ptr<IAudioHost> host, TOwnerDispatcher dispatch) {
    StopRecording();
    midi_.ReplaceBank(bank_.ScaleStart(), [&] {
        audio_.Replace(std::make_unique<TAudioEngine>(std::move(host)));
        audio_.Engine().Tap = &recording_.Recorder();
        tones_.SetEngine(&audio_.Engine());
    });
    TAudioEngine& engine = audio_.Engine();
    engine.OnRebuildTones = [this] { RefreshTones(); };
    engine.Dispatch = dispatch;
    engine.Host().OwnerDispatcher = std::move(dispatch);
    // The server went away: the audio stays wanted, and the host plays again (after a
    // rebuild for the device's new rate and period) as soon as the device is back.
    engine.Host().OnDeviceLost = [this](IAudioHost*) {
        if (!audio_.HasEngine()) {
            return;
        }
        audio_.DeviceLost();
        if (OnDeviceLost) {
            OnDeviceLost();
        }
    };
    const TVarkoSettings& s = settings_.Stored();
    engine.Stereo.store(s.StereoSeparation, std::memory_order_relaxed);
    engine.TwoRowPanning.store(s.Paint2Rows, std::memory_order_relaxed);
    engine.MeterPeaks.store(s.ShowMainLevels, std::memory_order_relaxed);
    engine.MasterGain.store(MasterGainFromFader(s.MasterLevel), std::memory_order_relaxed);
    engine.Limit.store(s.Limiter, std::memory_order_relaxed);
}

void TInstrument::ReleaseEngine() {
    StopRecording();
    midi_.ReplaceBank(bank_.ScaleStart(), [&] {
        tones_.SetEngine(nullptr);
        audio_.Replace(nullptr);
    });
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

// ---------------------------------------------------------------------------------------
// Building the bank

void TInstrument::OpenScale(const std::string& path) {
    bank_.ReadScale(path);
    // Also after a file that failed: the tones are rebuilt from the previous scale.
    Apply();
}

void TInstrument::OpenKeyboardMapping(const std::string& path) {
    if (bank_.ReadKeyboardMapping(path)) {
        Apply();
    }
}

void TInstrument::CalculateRepeats() {
    bank_.CalculateRepeats();
    const auto keys = bank_.KeyTones();
    midi_.SetKeyTones(keys ? &*keys : nullptr);
    // Mouse speed is measured from here, so the first move does not jump.
    if (playing_.MousePressure && CursorPosition) {
        std::tie(playing_.LastPointerX, playing_.LastPointerY) = CursorPosition();
    }
}

void TInstrument::Apply() {
    bank_.Mark(PendingAll);
    ApplyPending();
}

TPending TInstrument::ApplyPending() {
    const TPending work = bank_.Pending();
    if (work & PendingToneList) {
        CalculateRepeats();
    }
    if (work != PendingNone) {
        RefreshTones();
        Changed();
    }
    return work;
}

TToneBankInput TInstrument::BankInput() const {
    const TVarkoSettings& s = settings_.Stored();
    TToneBankInput in;
    bank_.FillInput(in);
    in.ResonanceFader = playing_.ResonanceFader();
    in.InterpolateDelays = s.InterpolateDelays;
    in.BendRoom = s.BendPitch ? TMidiPlaying::BendRoom : 1.0f;
    in.Paint2Rows = s.Paint2Rows;
    in.ModeRatios = modeFiles_.Ratios();
    in.ModeLevels = modeFiles_.Levels();
    in.ModeFileName = modeFiles_.Name();
    in.Rendering = Rendering();
    return in;
}

TToneBankResult TInstrument::RefreshTones() {
    return RebuildBank(audio_.Running());
}

TToneBankResult TInstrument::RebuildBank(bool restart) {
    if (!audio_.HasEngine()) {
        return {};
    }
    TAudioEngine& engine = audio_.Engine();
    audio_.RebuildBegins(restart);
    bank_.BankBuilding();
    Changed();
    if (OnRebuild) {
        OnRebuild(true);
    }
    TToneBankInput in = BankInput();
    // Runs on the ending thread: the news goes to the owner's thread, if the instrument is
    // still there when it arrives.
    in.OnFailed = [this, dispatch = engine.Dispatch, alive = std::weak_ptr<int>(alive_)](TTone& t) {
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
    if (engine.Running.load()) {
        engine.Stop();
    }
    TToneBankResult r;
    // MIDI messages wait while the oscillators they would touch are ended and replaced.
    midi_.ReplaceBank(bank_.ScaleStart(), [&] {
        r = varko::RefreshTones(engine, in);
        tones_.BankChanged();
    });
    // What the pen holds goes on in the new bank (the held keys were struck anew above).
    playing_.CarryOver();
    bank_.BankBuilt(r, engine.SamplePosition.load());
    if (!r.Abandoned) {
        LogRebuild(in);
        if (restart) {
            engine.Start();
            r.Running = true;
        }
    }
    // An abandoned bank is followed by the dead oscillator's crash report.
    audio_.RebuildEnds(!r.Abandoned && r.Running);
    if (!r.Abandoned) {
        modeFiles_.BankWarns(r.WarnModeFile);
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

} // namespace varko
