#include "dsp/WaveguideDelay.h"

#include <algorithm>
#include <cmath>

namespace varko {

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

void TWaveguideDelay::TickBlock(const float* __restrict Input, const float* __restrict Fb,
                                float* __restrict Accum, int n) {
    float* __restrict buf = Buffer.data();
    int pos = Position;
    int i = 0;
    // Runs between wrap-arounds, so that the inner loop has no index test.
    while (i < n) {
        const int run = std::min(n - i, Size - pos);
        float* __restrict slot = buf + pos;
        for (int k = 0; k < run; ++k) {
            const float out = slot[k];
            const float fb = out * Fb[i + k];
            slot[k] = std::fabs(fb) > DenormalThreshold ? Input[i + k] + fb : Input[i + k];
            Accum[i + k] += out;
        }
        i += run;
        pos += run;
        if (pos == Size) {
            pos = 0;
        }
    }
    Position = pos;
    if (n > 0) {
        Feedback = Fb[n - 1];
    }
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

TWaveguideInterpolatedDelay::TWaveguideInterpolatedDelay(float Length) {
    Whole = WholePart(Length);
    Fraction = Length >= 2.0f && Length <= 1.0e9f ? Length - static_cast<float>(Whole) : 0.0f;
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

void TWaveguideInterpolatedDelay::TickBlock(const float* __restrict Input,
                                            const float* __restrict Fb, float* __restrict Accum,
                                            int n) {
    float* __restrict buf = Buffer.data();
    const int size = Size;
    const float x = Fraction;
    int p = Position;
    int p1 = p + 1 < size ? p + 1 : p + 1 - size;
    int p2 = p1 + 1 < size ? p1 + 1 : p1 + 1 - size;
    int p3 = p2 + 1 < size ? p2 + 1 : p2 + 1 - size;
    for (int i = 0; i < n; ++i) {
        const float out = Hermite(x, buf[p3], buf[p2], buf[p1], buf[p]);
        const float fb = out * Fb[i];
        buf[p] = std::fabs(fb) > DenormalThreshold ? Input[i] + fb : Input[i];
        Accum[i] += out;
        p = p1;
        p1 = p2;
        p2 = p3;
        p3 = p3 + 1 < size ? p3 + 1 : 0;
    }
    Position = p;
    if (n > 0) {
        Feedback = Fb[n - 1];
    }
}

} // namespace varko
