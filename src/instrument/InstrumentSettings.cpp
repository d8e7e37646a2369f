#include "instrument/InstrumentSettings.h"

#include "engine/FaderLaws.h"
#include "engine/ToneBank.h"
#include "instrument/AudioSession.h"

#include <algorithm>

namespace varko {

namespace {

constexpr int ResonanceRateMin = 1;
constexpr int ResonanceRateMax = 10;

} // namespace

TInstrumentSettings::TInstrumentSettings(TAudioSession& audio, TPlaying& playing,
                                         TMidiPlaying& midi,
                                         const std::function<std::pair<float, float>()>& cursor,
                                         std::function<void(bool now)> bankChanged)
    : audio_(audio), playing_(playing), midi_(midi), cursor_(cursor),
      bankChanged_(std::move(bankChanged)) {}

void TInstrumentSettings::StoreDriver(int index, std::string name) {
    settings_.ASIOdriver = index;
    settings_.ASIOdriverName = std::move(name);
}

void TInstrumentSettings::SetStereoSeparation(bool on) {
    settings_.StereoSeparation = on;
    UpdateStereoConstants();
}

void TInstrumentSettings::UpdateStereoConstants() {
    if (!audio_.HasEngine()) {
        return;
    }
    TAudioEngine& engine = audio_.Engine();
    TPlayingChange c;
    c.Kind = TPlayingChange::TKind::Mix;
    c.Stereo = settings_.StereoSeparation;
    c.TwoRows = settings_.Paint2Rows;
    // Without tones the constants stay as they are.
    TStereoConstants pan;
    if (!StereoConstants(static_cast<int>(engine.Oscillators.size()), c.TwoRows, pan)) {
        pan.PanOffset = engine.PanOffset.load(std::memory_order_relaxed);
        pan.PanStep = engine.PanStep.load(std::memory_order_relaxed);
    }
    c.PanOffset = pan.PanOffset;
    c.PanStep = pan.PanStep;
    engine.Change(c);
}

void TInstrumentSettings::SetInterpolateDelays(bool on) {
    const bool changed = settings_.InterpolateDelays != on;
    settings_.InterpolateDelays = on;
    if (changed && bankChanged_) {
        bankChanged_(false);
    }
}

void TInstrumentSettings::SetMasterLevel(int position) {
    settings_.MasterLevel = std::clamp(position, FaderMin, FaderMax);
    if (audio_.HasEngine()) {
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Master;
        c.Value = MasterGainFromFader(settings_.MasterLevel);
        c.Fader = settings_.MasterLevel;
        audio_.Engine().Change(c);
    }
}

void TInstrumentSettings::SetLimiter(bool on) {
    settings_.Limiter = on;
    if (audio_.HasEngine()) {
        audio_.Engine().Limit.store(on, std::memory_order_relaxed);
    }
}

void TInstrumentSettings::SetResonanceControl(int index) {
    settings_.ResonanceControl = std::clamp(index, -1, 1);
    // No button chosen leaves the buttons as they are.
    if (settings_.ResonanceControl == 0) {
        playing_.ResonanceRaiseButton = TMouseButton::mbMiddle;
        playing_.ResonanceLowerButton = TMouseButton::mbRight;
    } else if (settings_.ResonanceControl == 1) {
        playing_.ResonanceRaiseButton = TMouseButton::mbRight;
        playing_.ResonanceLowerButton = TMouseButton::mbMiddle;
    }
}

void TInstrumentSettings::SetResonanceRate(int rate) {
    settings_.ResonanceRate = std::clamp(rate, ResonanceRateMin, ResonanceRateMax);
}

void TInstrumentSettings::SetMousePressure(bool on) {
    if (settings_.AllowMouse == on && playing_.MousePressure == on) {
        return;
    }
    settings_.AllowMouse = on;
    playing_.MousePressure = on;
    if (on && cursor_) {
        // Mouse speed is measured from here, so the first move does not jump.
        std::tie(playing_.LastPointerX, playing_.LastPointerY) = cursor_();
    } else {
        playing_.LastPointerX = 0;
        playing_.LastPointerY = 0;
    }
}

void TInstrumentSettings::SetMouseGlide(bool on) {
    settings_.MouseGlide = on;
    playing_.MouseGlide = on;
}

void TInstrumentSettings::SetShowMainLevels(bool on) {
    settings_.ShowMainLevels = on;
    if (audio_.HasEngine()) {
        audio_.Engine().MeterPeaks.store(on, std::memory_order_relaxed);
    }
}

void TInstrumentSettings::SetShowPressureLevel(bool on) {
    settings_.ShowPressureLevel = on;
    playing_.ShowPressureLevel = on;
}

void TInstrumentSettings::SetPaint2Rows(bool on) {
    settings_.Paint2Rows = on;
    UpdateStereoConstants();
}

void TInstrumentSettings::SetReferenceNote(int note) {
    settings_.ReferenceNote = std::clamp(note, 0, 127);
    midi_.SetReferenceNote(settings_.ReferenceNote);
}

void TInstrumentSettings::SetMpe(bool on) {
    settings_.MPE = on;
    midi_.SetMpe(on);
}

void TInstrumentSettings::SetBendPitch(bool on) {
    const bool changed = settings_.BendPitch != on;
    settings_.BendPitch = on;
    midi_.SetBendPitch(on);
    // The rings' room to bend down comes with the bank.
    if (changed && bankChanged_) {
        bankChanged_(audio_.ToneCount() > 0);
    }
}

void TInstrumentSettings::SetKeyReleaseDamps(bool on) {
    settings_.KeyReleaseDamps = on;
    midi_.SetReleaseDamps(on);
}

void TInstrumentSettings::SetToneThreads(bool perCore, int poolThreads) {
    poolThreads = std::clamp(poolThreads, 0, MaxPoolThreads);
    if (settings_.ToneThreadsPerCore == perCore && settings_.PoolThreads == poolThreads) {
        return;
    }
    settings_.ToneThreadsPerCore = perCore;
    settings_.PoolThreads = poolThreads;
    if (bankChanged_) {
        bankChanged_(audio_.ToneCount() > 0);
    }
}

void TInstrumentSettings::SetLabelKind(int kind) {
    settings_.LabelKind = std::clamp(kind, 0, 3);
}

void TInstrumentSettings::SetPanelChoice(const std::string& driver, int bufferSize,
                                         int sampleRate) {
    settings_.PanelDriver = driver;
    settings_.PanelBufferSize = bufferSize;
    settings_.PanelSampleRate = sampleRate;
}

void TInstrumentSettings::StoreSession(const TVarkoSettings& s) {
    settings_.SessionScale = s.SessionScale;
    settings_.SessionKeyboardMapping = s.SessionKeyboardMapping;
    settings_.SessionFrequency = s.SessionFrequency;
    settings_.SessionRepeatDown = s.SessionRepeatDown;
    settings_.SessionRepeatUp = s.SessionRepeatUp;
    settings_.SessionRepeatEnds = s.SessionRepeatEnds;
    settings_.SessionModeFile = s.SessionModeFile;
    settings_.SessionEnd = s.SessionEnd;
    settings_.SessionModeLimit = s.SessionModeLimit;
    settings_.SessionWeighting = s.SessionWeighting;
    settings_.SessionResonance = s.SessionResonance;
}

} // namespace varko
