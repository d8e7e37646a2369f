// The tones rendered by a pool of real-time threads, one per processor core by default: each
// thread is woken once per block, not once per tone, and takes groups of tones from a shared
// counter until none is left, so that excited and ringing tones spread over the threads.
#pragma once

#include "engine/ToneRenderer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace varko {

class TPoolRenderer final : public IToneRenderer {
public:
    // Tones a thread takes at a time: enough for the vector lanes of several tones together,
    // few enough that the last groups of a block spread over the threads.
    static constexpr size_t GroupSize = 4;

    TPoolRenderer(int threadCount, bool timeCritical);
    ~TPoolRenderer() override;
    TPoolRenderer(const TPoolRenderer&) = delete;
    TPoolRenderer& operator=(const TPoolRenderer&) = delete;

    bool Add(TTone& tone) override;
    // Starts a round: every tone whose block is written is claimed, then the threads are woken
    // once. A release while the last round is still being rendered is not remembered: the
    // tones it owes finish late, and the mixer counts them.
    void Release() override;
    void Stop() override;
    bool Finished() const override;
    void WaitIdle() override;

    int ThreadCount() const { return static_cast<int>(workers_.size()); }

private:
    void Run(int index);
    void RenderRound();

    const bool timeCritical_;
    // Written by the owner's thread while no round is in flight; read by every thread.
    std::vector<TTone*> tones_;
    std::vector<std::thread> workers_;

    // A round: the mixer sets Pending and Next, then moves Generation on and wakes the threads;
    // each takes GroupSize tones at a time from Next and takes what it has done off Pending.
    // All three written by the mixer's thread (round start) and the pool's (their progress).
    alignas(64) std::atomic<uint32_t> generation_{0};
    alignas(64) std::atomic<uint64_t> next_{0};  // the round's tone count << 32 | next tone
    alignas(64) std::atomic<size_t> pending_{0}; // tones of the round not yet done
    // The round's tones, as the threads see them: the list itself changes only between rounds.
    std::atomic<TTone* const*> roundTones_{nullptr};
    std::atomic<bool> stopping_{false}; // owner's thread writes; the pool reads
    std::atomic<int> running_{0};       // threads not yet ended
};

} // namespace varko
