#include "dsp/WaveguideDelay.h"

#include <algorithm>
#include <cmath>

namespace varko {

int32_t WholeSampleLength(float Length) {
    if (!(Length >= 2.0f)) {
        return 2;
    }
    // Far past any line a band builds; keeps the conversion defined.
    return Length > 1.0e9f ? 1000000000 : static_cast<int32_t>(std::nearbyint(Length));
}

float SoundingFrequency(float Frequency, float SampleRate, bool Interpolate) {
    if (Interpolate || !(Frequency > 0.0f) || !(SampleRate > 0.0f) || !std::isfinite(Frequency) ||
        !std::isfinite(SampleRate)) {
        return Frequency;
    }
    return SampleRate / static_cast<float>(WholeSampleLength(SampleRate / Frequency));
}

TWaveguideDelay::TWaveguideDelay(int32_t Length)
    : Buffer(static_cast<size_t>(Length < 2 ? 2 : Length), 0.0f), Size(Length < 2 ? 2 : Length) {}

float TWaveguideDelay::Tick(float Input) {
    const float out = Buffer[Position];
    Buffer[Position] = Input;
    const float fb = out * Feedback;
    if (std::fabs(fb) > DenormalThreshold) {
        Buffer[Position] = Buffer[Position] + fb;
    }
    if (++Position > Size - 1) {
        Position = 0;
    }
    return out;
}

namespace {
int32_t WholePart(float Length) {
    if (!(Length >= 2.0f)) {
        return 2;
    }
    if (Length > 1.0e9f) {
        return 1000000000;
    }
    return static_cast<int32_t>(Length);
}
} // namespace

TWaveguideInterpolatedDelay::TLength TWaveguideInterpolatedDelay::SplitLength(float Length) {
    TLength split;
    split.Whole = WholePart(Length);
    split.Fraction =
        Length >= 2.0f && Length <= 1.0e9f ? Length - static_cast<float>(split.Whole) : 0.0f;
    return split;
}

TWaveguideInterpolatedDelay::TWaveguideInterpolatedDelay(float Length) {
    const TLength split = SplitLength(Length);
    Whole = split.Whole;
    Fraction = split.Fraction;
    Size = Whole + 2;
    Buffer.assign(static_cast<size_t>(Size), 0.0f);
}

float TWaveguideInterpolatedDelay::Tick(float Input) {
    // By age: Buffer[p] is Size ticks old, Buffer[p + k] is Size - k ticks old.
    const int p = Position;
    const int p1 = p + 1 < Size ? p + 1 : p + 1 - Size;
    const int p2 = p + 2 < Size ? p + 2 : p + 2 - Size;
    const int p3 = p + 3 < Size ? p + 3 : p + 3 - Size;
    const float out = Hermite(Fraction, Buffer[p3], Buffer[p2], Buffer[p1], Buffer[p]);
    Buffer[p] = Input;
    const float fb = out * Feedback;
    if (std::fabs(fb) > DenormalThreshold) {
        Buffer[p] = Buffer[p] + fb;
    }
    Position = p1;
    return out;
}

} // namespace varko
