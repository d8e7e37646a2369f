// Pen and mouse playing: pointer input over the tone zone becomes the strike position,
// pressure and speed of the tone under the pointer, and two buttons move the resonance.
// No Qt: the window feeds it its mouse and tablet events, the render tool its pen script.
#pragma once

#include "engine/FaderLaws.h"
#include "instrument/ToneZoneGeometry.h"

#include "core/PlayingLimits.h"
#include <cstdint>

#include <functional>

namespace varko {

// The tones the playing values go to (the engine's oscillators, in tone order).
struct IToneTarget {
    virtual ~IToneTarget() = default;
    virtual int ToneCount() const = 0;
    virtual void SetPressure(int tone, float value) = 0;       // 0 .. 1
    virtual void SetSpeed(int tone, float value) = 0;          // 0 .. MaxSpeed, input areas
    virtual void SetStrikePosition(int tone, float value) = 0; // 0 .. 1, top to bottom
    // Every tone's loop gain, from the resonance fader at position fader.
    virtual void SetResonance(float value, int fader) = 0;
    // The tone's frequency against its built one (1: unbent); targets that cannot bend ignore it.
    virtual void SetPitch(int tone, float ratio) {
        (void)tone;
        (void)ratio;
    }
};

// Who calls a playing object (the MIDI playing, the oscillators' tones). Any threads (the pen's,
// the MIDI inputs') take turns under its lock. One thread, which may change only where a release
// and an acquire hand the object over (a plugin's process thread, which must never wait), takes
// no lock.
enum class TCallers : uint8_t { AnyThread, OneThread };

// One reading of the pen: where it is, in the tablet's units, and how hard it presses, in
// 0 .. the pressure axis maximum.
struct TPenSample {
    int32_t X = 0;
    int32_t Y = 0;
    int32_t Pressure = 0;
};

// NOLINTNEXTLINE(readability-identifier-naming): the mouse buttons' own names
enum class TMouseButton { mbLeft, mbRight, mbMiddle, mbOther };

class TPlaying {
public:
    explicit TPlaying(IToneTarget& tones) : tones_(tones) {}

    // Playing state (the window's unit variables).
    int CurrentBar = 0; // -1: over no bar
    bool PenDown = false;
    float LastPointerX = 0; // tablet units in tablet mode, screen pixels in mouse mode
    float LastPointerY = 0;
    float TabletScaleX = 0;     // 1 / lcInExtX
    float TabletScaleY = 0;     // 1 / lcInExtY
    float PressureScale = 0;    // 1 / axMax
    bool MousePressure = false; // mouse mode
    // Mouse mode: a held button presses every bar the drag crosses (otherwise a new bar waits
    // for a new press).
    bool MouseGlide = false;
    bool ShowPressureLevel = true;
    TMouseButton ResonanceRaiseButton = TMouseButton::mbMiddle;
    TMouseButton ResonanceLowerButton = TMouseButton::mbRight;

    // After the bank was built anew: the bar under a held pen gets its pressure and strike
    // position back (the new tones start at rest).
    void CarryOver();

    // The resonance fader, 0 (longest ring) .. 200, and its two repeat timers.
    int ResonanceFader() const { return resonanceFader_; }
    // Clamps to the fader's range; pushes the resonance to every tone only on a real change.
    // Returns whether the position changed.
    bool SetResonanceFader(int position);
    bool RezDownTimerEnabled = false;
    bool RezUpTimerEnabled = false;

    // The pressure display: position 0 .. PressureBarMax (axMax with a tablet, else 100).
    int PressureBarPosition = 0;
    int PressureBarMax = 100;

    // Told when the fader moved (the window moves its slider) and when the pressure display
    // changed (the window repaints its status panel).
    std::function<void(int)> OnResonanceFaderChanged;
    std::function<void()> OnPressureBarChanged;
    // Told when RezDownTimerEnabled or RezUpTimerEnabled changed (start or stop the timers).
    std::function<void()> OnRezTimersChanged;

    // Pointer moved to (x, y) in zone pixels; cursorX/Y is the screen cursor position
    // (used for the speed in mouse mode only).
    void ToneZoneMouseMove(const TToneZoneGeometry& zone, float barWidthReciprocal, int x, int y,
                           float cursorX, float cursorY);
    void PointerDown(TMouseButton button);
    void PointerUp(TMouseButton button);
    // A pen reading: pressure while the tip is down, speed always (a hovering pen too).
    void PenSample(const TPenSample& sample);
    // The context's input extents; a zero extent leaves its scale unchanged.
    void TabletContextUpdate(int32_t inExtX, int32_t inExtY);
    // The pen's pressure axis maximum (at least 1).
    void SetPressureAxisMax(int32_t axMax);
    // A resonance button held: one fader step per tick (the fader's positions run downward).
    void ResonanceStepDown() { SetResonanceFader(resonanceFader_ + 1); }
    void ResonanceStepUp() { SetResonanceFader(resonanceFader_ - 1); }
    void ResonanceResetClick() { SetResonanceFader(ResonanceFaderStart); }
    // Pushes the fader's resonance to every tone (after a rebuild, for example).
    void ApplyResonance();
    // A pressure that MIDI gave a tone (0..1): the display follows it as it follows the pen.
    void ShowMidiPressure(float pressure);

    // A scripted pen: (fx, fy) in 0..1 of the zone, pressure 0..1, tip down or not. The zone's
    // extent (in hundredths of a pixel) stands in for the tablet's; the pressure axis is
    // 0..1023 unless SetPressureAxisMax chose another.
    void Pen(const TToneZoneGeometry& zone, float barWidthReciprocal, float fx, float fy,
             float pressure, bool down);

private:
    // What the pen last pressed CurrentBar with and where, for CarryOver.
    void Press(int bar, float pressure);
    float penPressure_ = 0.0f;
    float penStrike_ = 0.5f;
    bool ValidBar(int bar) const { return bar >= 0 && bar < tones_.ToneCount(); }
    void SetPressureBar(int position);

    IToneTarget& tones_;
    int resonanceFader_ = ResonanceFaderStart;
};

} // namespace varko
