#include "instrument/Playing.h"

#include "dsp/BarModes.h"

#include <algorithm>
#include <cmath>

namespace varko {

bool TPlaying::SetResonanceFader(int position) {
    const int p = std::clamp(position, FaderMin, FaderMax);
    if (p == resonanceFader_) {
        return false;
    }
    resonanceFader_ = p;
    ApplyResonance();
    if (OnResonanceFaderChanged) {
        OnResonanceFaderChanged(p);
    }
    return true;
}

void TPlaying::ApplyResonance() {
    tones_.SetResonance(ResonanceFromFader(resonanceFader_), resonanceFader_);
}

void TPlaying::ShowMidiPressure(float pressure) {
    if (ShowPressureLevel) {
        SetPressureBar(static_cast<int>(
            std::lround(std::clamp(pressure, 0.0f, 1.0f) * static_cast<float>(PressureBarMax))));
    }
}

void TPlaying::SetPressureBar(int position) {
    PressureBarPosition = std::clamp(position, 0, PressureBarMax);
    if (OnPressureBarChanged) {
        OnPressureBarChanged();
    }
}

void TPlaying::ToneZoneMouseMove(const TToneZoneGeometry& zone, float barWidthReciprocal, int x,
                                 int y, float cursorX, float cursorY) {
    if (zone.ToneCount <= 0) {
        return;
    }
    const TToneZoneHit hit = ToneZoneHitTest(zone, barWidthReciprocal, x, y);
    if (!ValidBar(hit.Bar)) {
        if (ValidBar(CurrentBar)) {
            tones_.SetPressure(CurrentBar, 0);
        }
        CurrentBar = -1;
        return;
    }
    // The bar being left falls silent; the new one waits for a press or a packet, unless the
    // mouse glides: then the held button presses it as it pressed the first.
    const bool entered = hit.Bar != CurrentBar;
    if (entered && ValidBar(CurrentBar)) {
        tones_.SetPressure(CurrentBar, 0);
    }
    CurrentBar = hit.Bar;
    tones_.SetStrikePosition(CurrentBar, hit.StrikePosition);
    penStrike_ = hit.StrikePosition;
    if (entered) {
        penPressure_ = 0.0f;
    }
    if (entered && MouseGlide && MousePressure && PenDown) {
        Press(CurrentBar, varko::MousePressure);
    }
    if (MousePressure && zone.Width > 0 && zone.Height > 0) {
        const float dy = (cursorY - LastPointerY) / static_cast<float>(zone.Height);
        const float dx = (cursorX - LastPointerX) / static_cast<float>(zone.Width);
        tones_.SetSpeed(CurrentBar, std::sqrt(dy * dy + dx * dx));
        LastPointerX = cursorX;
        LastPointerY = cursorY;
    }
}

void TPlaying::PointerDown(TMouseButton button) {
    PenDown = true;
    if (MousePressure && ValidBar(CurrentBar)) {
        Press(CurrentBar, varko::MousePressure);
        if (ShowPressureLevel) {
            SetPressureBar(PressureBarMax / 2);
        }
    }
    const bool down = RezDownTimerEnabled;
    const bool up = RezUpTimerEnabled;
    if (button == ResonanceLowerButton) {
        SetResonanceFader(resonanceFader_ + 1);
        RezDownTimerEnabled = true;
    }
    if (button == ResonanceRaiseButton) {
        SetResonanceFader(resonanceFader_ - 1);
        RezUpTimerEnabled = true;
    }
    if ((down != RezDownTimerEnabled || up != RezUpTimerEnabled) && OnRezTimersChanged) {
        OnRezTimersChanged();
    }
}

void TPlaying::PointerUp(TMouseButton button) {
    PenDown = false;
    penPressure_ = 0.0f;
    if (MousePressure && ValidBar(CurrentBar)) {
        tones_.SetPressure(CurrentBar, 0);
        if (ShowPressureLevel) {
            SetPressureBar(0);
        }
    }
    const bool down = RezDownTimerEnabled;
    const bool up = RezUpTimerEnabled;
    if (button == ResonanceRaiseButton) {
        RezUpTimerEnabled = false;
    }
    if (button == ResonanceLowerButton) {
        RezDownTimerEnabled = false;
    }
    if ((down != RezDownTimerEnabled || up != RezUpTimerEnabled) && OnRezTimersChanged) {
        OnRezTimersChanged();
    }
}

void TPlaying::PenSample(const TPenSample& sample) {
    const int32_t pressure = sample.Pressure;
    if (ValidBar(CurrentBar)) {
        if (PenDown) {
            Press(CurrentBar, std::clamp(static_cast<float>(pressure) * PressureScale, 0.0f, 1.0f));
        }
        const float dy = (static_cast<float>(sample.Y) - LastPointerY) * TabletScaleY;
        const float dx = (static_cast<float>(sample.X) - LastPointerX) * TabletScaleX;
        tones_.SetSpeed(CurrentBar, std::sqrt(dy * dy + dx * dx));
        LastPointerX = static_cast<float>(sample.X);
        LastPointerY = static_cast<float>(sample.Y);
    }
    if (PenDown && ShowPressureLevel) {
        SetPressureBar(pressure);
    }
}

void TPlaying::Press(int bar, float pressure) {
    tones_.SetPressure(bar, pressure);
    penPressure_ = pressure;
}

void TPlaying::CarryOver() {
    if (PenDown && ValidBar(CurrentBar) && penPressure_ > 0.0f) {
        tones_.SetStrikePosition(CurrentBar, penStrike_);
        tones_.SetPressure(CurrentBar, penPressure_);
    }
}

void TPlaying::TabletContextUpdate(int32_t inExtX, int32_t inExtY) {
    // A zero extent would make the scale infinite; keep the previous one.
    if (inExtX != 0) {
        TabletScaleX = static_cast<float>(1.0 / std::abs(static_cast<double>(inExtX)));
    }
    if (inExtY != 0) {
        TabletScaleY = static_cast<float>(1.0 / std::abs(static_cast<double>(inExtY)));
    }
}

void TPlaying::SetPressureAxisMax(int32_t axMax) {
    const int32_t m = std::max(axMax, 1);
    PressureScale = static_cast<float>(1.0 / m);
    PressureBarMax = m;
}

void TPlaying::Pen(const TToneZoneGeometry& zone, float barWidthReciprocal, float fx, float fy,
                   float pressure, bool down) {
    constexpr int32_t AxMax = DefaultPressureMax;
    if (PressureScale == 0.0f) {
        SetPressureAxisMax(AxMax);
    }
    // Hundredths of a pixel, as the window's pen source reports them.
    constexpr float Units = 100.0f;
    TabletContextUpdate(std::max(zone.Width, 1) * 100, std::max(zone.Height, 1) * 100);
    const float px = std::clamp(fx, 0.0f, 1.0f) * static_cast<float>(zone.Width);
    const float py = std::clamp(fy, 0.0f, 1.0f) * static_cast<float>(zone.Height);
    // The pointer first chooses the bar, as the mouse events do for a real pen.
    const bool wasMouse = MousePressure;
    MousePressure = false;
    ToneZoneMouseMove(zone, barWidthReciprocal, static_cast<int>(px), static_cast<int>(py), px, py);
    if (down && !PenDown) {
        PointerDown(TMouseButton::mbLeft);
    }
    TPenSample sample;
    sample.X = static_cast<int32_t>(std::lround(px * Units));
    sample.Y = static_cast<int32_t>(std::lround(py * Units));
    sample.Pressure = static_cast<int32_t>(std::lround(std::clamp(pressure, 0.0f, 1.0f) * AxMax));
    PenSample(sample);
    // A real pen's last packet (pressure 0) arrives before the button release, so a lift
    // leaves the tone without pressure.
    if (!down && PenDown) {
        PointerUp(TMouseButton::mbLeft);
    }
    MousePressure = wasMouse;
}

} // namespace varko
