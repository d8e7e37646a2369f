// Delay lines of one waveguide band: the ring whose length sets the band's period and whose
// feedback is the band's loop gain.
#pragma once

#include <cstdint>
#include <vector>

namespace varko {

// Feedback terms and filter outputs of smaller magnitude count as zero, so that ringing bands
// decay to true zero instead of lingering in denormals.
inline constexpr float DenormalThreshold = 1e-20f;

// The whole samples a line of the given length is rounded to when it is not interpolated (2 or
// more).
int32_t WholeSampleLength(float length);

// The frequency in hertz a band tuned to Frequency really rings at: Frequency with interpolated
// lines, else SampleRate over its line's whole-sample length. Frequency when either is not a
// positive finite number.
float SoundingFrequency(float frequency, float sampleRate, bool interpolate);

class TWaveguideDelay {
public:
    // Length in samples (values below 2 give 2).
    explicit TWaveguideDelay(int32_t length);
    virtual ~TWaveguideDelay() = default;
    TWaveguideDelay(const TWaveguideDelay&) = delete;
    TWaveguideDelay& operator=(const TWaveguideDelay&) = delete;

    // One sample in, the sample of Size ticks ago out; writes Input + out * Feedback.
    virtual float Tick(float input);

    std::vector<float> Buffer; // the ring, all 0.0 at creation
    int32_t Size = 2;          // slots of Buffer, at least 2
    int32_t Position = 0;      // slot read and then written by the next Tick
    float Feedback = 0.0f;     // loop gain, set by the owner before every Tick

protected:
    TWaveguideDelay() = default;
};

// A delay line of fractional length L, read with a 4-point Hermite interpolation at exactly L
// samples, so that a band rings at its mode frequency. The ring holds floor(L) + 2 slots: the
// four points around the read position are the samples floor(L) - 1 .. floor(L) + 2 ticks old.
class TWaveguideInterpolatedDelay : public TWaveguideDelay {
public:
    // Length in samples, 2 or more (smaller values give 2; not a finite number gives 2).
    explicit TWaveguideInterpolatedDelay(float length);

    float Tick(float input) override;

    // A length split into its whole samples (2 .. 1e9) and its fraction (0 <= Fraction < 1).
    struct TLength {
        int32_t Whole = 2;
        float Fraction = 0.0f;
    };
    static TLength SplitLength(float length);

    // 4-point third-order Hermite through ym1, y0, y1, y2 at x in [0, 1] (x = 0 gives y0).
    static float Hermite(float x, float ym1, float y0, float y1, float y2) {
        const float c0 = y0;
        const float c1 = 0.5f * (y1 - ym1);
        const float c2 = ym1 - 2.5f * y0 + 2.0f * y1 - 0.5f * y2;
        const float c3 = 1.5f * (y0 - y1) + 0.5f * (y2 - ym1);
        return ((c3 * x + c2) * x + c1) * x + c0;
    }

    float Fraction = 0.0f; // fractional part of the length, 0 <= Fraction < 1
    int32_t Whole = 2;     // integer part of the length, at least 2
};

} // namespace varko
