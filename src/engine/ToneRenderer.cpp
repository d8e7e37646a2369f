#include "engine/ToneRenderer.h"

#include "core/RealTime.h"
#include "engine/PoolRenderer.h"
#include "engine/WaveguideThread.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace varko {

namespace {

// A thread of its own per tone, released by the mixer one by one.
class TThreadPerToneRenderer final : public IToneRenderer {
public:
    explicit TThreadPerToneRenderer(bool timeCritical) : timeCritical_(timeCritical) {}
    ~TThreadPerToneRenderer() override {
        Stop();
        threads_.clear(); // each joins its thread
    }

    bool Add(TTone& tone) override {
        threads_.push_back(std::make_unique<TWaveguideThread>(tone, timeCritical_));
        TWaveguideThread& t = *threads_.back();
        t.Start();
        return t.WaitReady() == TWaveguideThread::TReadyResult::Ready;
    }
    void Release() override {
        for (auto& t : threads_) {
            // Only a tone whose block is written is woken: a release while it renders is not
            // remembered.
            if (t->Tone.Claim()) {
                t->Wake();
            }
        }
    }
    void Stop() override {
        for (auto& t : threads_) {
            t->Terminate();
        }
    }
    bool Finished() const override {
        return std::all_of(threads_.begin(), threads_.end(),
                           [](const auto& t) { return t->Finished(); });
    }
    void WaitIdle() override {
        for (auto& t : threads_) {
            t->Tone.WaitBlockDone();
        }
    }

private:
    const bool timeCritical_;
    std::vector<std::unique_ptr<TWaveguideThread>> threads_;
};

// Every tone rendered by the mixer's caller right after its mix: no hand-off, no thread.
class TInlineRenderer final : public IToneRenderer {
public:
    ~TInlineRenderer() override { Stop(); }

    bool Add(TTone& tone) override {
        tones_.push_back(&tone);
        claimed_.reserve(tones_.size());
        return tone.BuildOnThisThread();
    }
    void Release() override {
        const TFlushDenormalsScope flush;
        claimed_.clear(); // capacity kept: no allocation
        for (TTone* t : tones_) {
            if (t->Claim()) {
                claimed_.push_back(t);
            }
        }
        TTone::RenderClaimedTogether(claimed_);
    }
    void Stop() override {
        for (TTone* t : tones_) {
            t->End();
        }
        tones_.clear();
    }
    bool Finished() const override { return true; }
    void WaitIdle() override {}

private:
    std::vector<TTone*> tones_;
    std::vector<TTone*> claimed_;
};

} // namespace

int PoolThreadCount(int setting) {
    if (setting > 0) {
        return setting;
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

std::unique_ptr<IToneRenderer> MakeToneRenderer(const TToneRendering& how) {
    switch (how.Threads) {
    case TToneThreads::PerCore:
        return std::make_unique<TPoolRenderer>(PoolThreadCount(how.PoolThreads), how.TimeCritical);
    case TToneThreads::Inline:
        return std::make_unique<TInlineRenderer>();
    case TToneThreads::PerTone:
        break;
    }
    return std::make_unique<TThreadPerToneRenderer>(how.TimeCritical);
}

} // namespace varko
