#include "dsp/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace varko {

// The gain at each output sample is the average, over the look-ahead window, of the smallest
// gain any sample in that window needs (with a slow release upwards). Every gain averaged is at
// most what the output sample needs, so the average is too: no overshoot, and no step.

TPeakLimiter::TPeakLimiter() {
    capacity_ = static_cast<size_t>(std::ceil(MaxSampleRate * LookAheadSeconds)) + 1;
    delayLeft_.assign(capacity_, 0.0f);
    delayRight_.assign(capacity_, 0.0f);
    box_.assign(capacity_, 1.0f);
    minGain_.assign(capacity_, 1.0f);
    minAt_.assign(capacity_, 0);
    SetSampleRate(48000.0);
}

void TPeakLimiter::SetSampleRate(double rate) {
    if (!(rate > 0.0) || rate == rate_) {
        return;
    }
    rate_ = rate;
    lookAhead_ = std::clamp<size_t>(static_cast<size_t>(std::lround(rate * LookAheadSeconds)), 1,
                                    capacity_ - 1);
    release_ = static_cast<float>(std::exp(-1.0 / (rate * ReleaseSeconds)));
    Reset();
}

void TPeakLimiter::Reset() {
    std::fill(delayLeft_.begin(), delayLeft_.end(), 0.0f);
    std::fill(delayRight_.begin(), delayRight_.end(), 0.0f);
    std::fill(box_.begin(), box_.end(), 1.0f);
    pos_ = 0;
    minHead_ = 0;
    minCount_ = 0;
    released_ = 1.0f;
    boxSum_ = static_cast<double>(lookAhead_ + 1);
}

// The smallest needed gain over the last lookAhead_ + 1 samples, then the release.
float TPeakLimiter::Hold(float need) {
    const size_t window = lookAhead_ + 1;
    while (minCount_ > 0 && minGain_[(minHead_ + minCount_ - 1) % capacity_] >= need) {
        --minCount_;
    }
    const size_t slot = (minHead_ + minCount_) % capacity_;
    minGain_[slot] = need;
    minAt_[slot] = pos_;
    ++minCount_;
    if (pos_ - minAt_[minHead_] >= window) {
        minHead_ = (minHead_ + 1) % capacity_;
        --minCount_;
    }
    const float least = minGain_[minHead_];
    released_ = least < released_ ? least : least + (released_ - least) * release_;
    return released_;
}

void TPeakLimiter::Process(float* left, float* right, size_t n) {
    const size_t window = lookAhead_ + 1;
    float least = 1.0f;
    for (size_t i = 0; i < n; ++i) {
        const float l = left[i];
        const float r = right != nullptr ? right[i] : l;
        const float peak = std::max(std::fabs(l), std::fabs(r));
        // Not-a-number passes as it is: a limiter cannot mend it.
        const float need = peak > Ceiling ? Ceiling / peak : 1.0f;
        const float held = Hold(need);
        const size_t slot = pos_ % window;
        boxSum_ += static_cast<double>(held) - static_cast<double>(box_[slot]);
        box_[slot] = held;
        // The average of held gains, never above the least of them by rounding.
        const float gain =
            std::min(1.0f, static_cast<float>(boxSum_ / static_cast<double>(window)));
        // The sample lookAhead_ back leaves now.
        const size_t out = (pos_ + window - lookAhead_) % window;
        const float dl = delayLeft_[out], dr = delayRight_[out];
        delayLeft_[slot] = l;
        delayRight_[slot] = r;
        left[i] = dl * gain;
        if (right != nullptr) {
            right[i] = dr * gain;
        }
        least = std::min(least, gain);
        ++pos_;
    }
    // Only the audio thread lowers it; the meters put it back to 1.
    float seen = leastGain_.load(std::memory_order_relaxed);
    while (least < seen &&
           !leastGain_.compare_exchange_weak(seen, least, std::memory_order_relaxed)) {
    }
}

} // namespace varko
