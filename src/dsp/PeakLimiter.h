// A transparent look-ahead peak limiter for the stereo master: the signal is delayed by the
// look-ahead, and the gain is lowered smoothly over that time before a peak arrives, so that
// no sample leaves above the ceiling. Below the ceiling the signal passes unchanged (only
// delayed). Allocates in its constructor only; no locks.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace varko {

class TPeakLimiter {
public:
    // Highest rate it can keep its look-ahead at; above it the look-ahead is shorter.
    static constexpr double MaxSampleRate = 384000.0;
    static constexpr double LookAheadSeconds = 0.002;
    static constexpr double ReleaseSeconds = 0.08;
    // -0.5 dBFS: integer formats and inter-sample overs keep a little room.
    static constexpr float Ceiling = 0.944f;

    TPeakLimiter();

    // The rate in hertz; a different one from the last clears the state. Real-time safe.
    void SetSampleRate(double rate);
    // Forgets the signal and the gain: silence, unity gain.
    void Reset();
    // n samples of each channel in place (right may be left for mono).
    void Process(float* left, float* right, size_t n);
    // The look-ahead in samples at the current rate: the delay the limiter adds.
    size_t Latency() const { return lookAhead_; }

    // The least gain applied (0 .. 1) since the last call; 1 when it did not limit. Any thread.
    float TakeLeastGain() { return leastGain_.exchange(1.0f, std::memory_order_relaxed); }

private:
    float Hold(float need);

    double rate_ = 0.0;
    size_t lookAhead_ = 1;
    float release_ = 0.0f; // per-sample factor towards unity
    // The delayed signal, the window of gains for the moving average, and the sliding minimum
    // of the needed gain (a monotonic queue of (sample, gain)), each one window long.
    std::vector<float> delayLeft_, delayRight_, box_;
    std::vector<float> minGain_;
    std::vector<size_t> minAt_;
    size_t capacity_ = 0;
    size_t pos_ = 0;     // samples processed since the reset
    size_t minHead_ = 0; // queue front and its length, in the ring of capacity_
    size_t minCount_ = 0;
    float released_ = 1.0f;
    double boxSum_ = 0.0;
    // Written by the audio thread, taken by the meters.
    std::atomic<float> leastGain_{1.0f};
};

} // namespace varko
