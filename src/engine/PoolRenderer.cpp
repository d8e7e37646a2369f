#include "engine/PoolRenderer.h"

#include "core/RealTime.h"

#include <algorithm>
#include <string>

namespace varko {

TPoolRenderer::TPoolRenderer(int threadCount, bool timeCritical) : timeCritical_(timeCritical) {
    const int count = std::max(threadCount, 1);
    running_.store(count);
    workers_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        workers_.emplace_back([this, i] { Run(i); });
    }
}

TPoolRenderer::~TPoolRenderer() {
    Stop();
    for (std::thread& w : workers_) {
        w.join();
    }
}

bool TPoolRenderer::Add(TTone& tone) {
    // No round is in flight while the owner adds: the first block is rendered here, with the
    // same arithmetic as the pool's.
    WaitIdle();
    tones_.push_back(&tone);
    return tone.BuildOnThisThread();
}

void TPoolRenderer::Release() {
    if (pending_.load(std::memory_order_acquire) != 0 ||
        stopping_.load(std::memory_order_relaxed)) {
        return;
    }
    size_t claimed = 0;
    for (TTone* t : tones_) {
        claimed += t->Claim() ? 1 : 0;
    }
    if (claimed == 0) {
        return;
    }
    pending_.store(tones_.size(), std::memory_order_relaxed);
    roundTones_.store(tones_.data(), std::memory_order_relaxed);
    next_.store(static_cast<uint64_t>(tones_.size()) << 32, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
}

void TPoolRenderer::RenderRound() {
    TTone* group[GroupSize];
    while (true) {
        // The round's size travels with the counter: a thread woken late, after its round,
        // reads a count past that round's end, whatever round the mixer has begun since.
        const uint64_t next = next_.fetch_add(GroupSize, std::memory_order_acq_rel);
        const size_t first = next & 0xffffffffu;
        const size_t count = next >> 32;
        if (first >= count) {
            return;
        }
        TTone* const* tones = roundTones_.load(std::memory_order_relaxed);
        const size_t end = std::min(first + GroupSize, count);
        size_t n = 0;
        for (size_t i = first; i < end; ++i) {
            // Claimed at the round's start: no other thread renders it in this round.
            if (tones[i]->Phase() == TTone::Rendering) {
                group[n++] = tones[i];
            }
        }
        TTone::RenderClaimedTogether({group, n});
        const size_t done = end - first;
        if (pending_.fetch_sub(done, std::memory_order_acq_rel) == done) {
            pending_.notify_all();
        }
    }
}

void TPoolRenderer::Run(int index) {
    const std::string name = "Osc-pool-" + std::to_string(index + 1);
    NameThisThread(name.c_str());
    if (timeCritical_) {
        RaiseToRealTimePriority();
    }
    SetFlushDenormals();
    uint32_t seen = 0;
    while (true) {
        generation_.wait(seen, std::memory_order_acquire);
        seen = generation_.load(std::memory_order_acquire);
        if (stopping_.load(std::memory_order_acquire)) {
            break;
        }
        RenderRound();
    }
    // The last thread out ends the tones still owed a block, so that no one waits for them.
    if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        for (TTone* t : tones_) {
            t->End();
        }
        pending_.store(0, std::memory_order_release);
        pending_.notify_all();
    }
}

void TPoolRenderer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
}

bool TPoolRenderer::Finished() const {
    return running_.load(std::memory_order_acquire) == 0;
}

void TPoolRenderer::WaitIdle() {
    for (size_t p = pending_.load(std::memory_order_acquire); p != 0;
         p = pending_.load(std::memory_order_acquire)) {
        pending_.wait(p, std::memory_order_acquire);
    }
}

} // namespace varko
