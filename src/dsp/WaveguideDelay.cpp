#include "dsp/WaveguideDelay.h"

#include <algorithm>
#include <cmath>

namespace varko {

int32_t WholeSampleLength(float length) {
    if (!(length >= 2.0f)) {
        return 2;
    }
    // Far past any line a band builds; keeps the conversion defined.
    return length > 1.0e9f ? 1000000000 : static_cast<int32_t>(std::nearbyint(length));
}

float SoundingFrequency(float frequency, float sampleRate, bool interpolate) {
    if (interpolate || !(frequency > 0.0f) || !(sampleRate > 0.0f) || !std::isfinite(frequency) ||
        !std::isfinite(sampleRate)) {
        return frequency;
    }
    return sampleRate / static_cast<float>(WholeSampleLength(sampleRate / frequency));
}

TWaveguideDelay::TWaveguideDelay(int32_t length)
    : Buffer(static_cast<size_t>(length < 2 ? 2 : length), 0.0f), Size(length < 2 ? 2 : length) {}

float TWaveguideDelay::Tick(float input) {
    const float out = Buffer[Position];
    Buffer[Position] = input;
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
int32_t WholePart(float length) {
    if (!(length >= 2.0f)) {
        return 2;
    }
    if (length > 1.0e9f) {
        return 1000000000;
    }
    return static_cast<int32_t>(length);
}
} // namespace

TWaveguideInterpolatedDelay::TLength TWaveguideInterpolatedDelay::SplitLength(float length) {
    TLength split;
    split.Whole = WholePart(length);
    split.Fraction =
        length >= 2.0f && length <= 1.0e9f ? length - static_cast<float>(split.Whole) : 0.0f;
    return split;
}

TWaveguideInterpolatedDelay::TWaveguideInterpolatedDelay(float length) {
    const TLength split = SplitLength(length);
    Whole = split.Whole;
    Fraction = split.Fraction;
    Size = Whole + 2;
    Buffer.assign(static_cast<size_t>(Size), 0.0f);
}

float TWaveguideInterpolatedDelay::Tick(float input) {
    // By age: Buffer[p] is Size ticks old, Buffer[p + k] is Size - k ticks old.
    const int p = Position;
    const int p1 = p + 1 < Size ? p + 1 : p + 1 - Size;
    const int p2 = p + 2 < Size ? p + 2 : p + 2 - Size;
    const int p3 = p + 3 < Size ? p + 3 : p + 3 - Size;
    const float out = Hermite(Fraction, Buffer[p3], Buffer[p2], Buffer[p1], Buffer[p]);
    Buffer[p] = input;
    const float fb = out * Feedback;
    if (std::fabs(fb) > DenormalThreshold) {
        Buffer[p] = Buffer[p] + fb;
    }
    Position = p1;
    return out;
}

} // namespace varko
