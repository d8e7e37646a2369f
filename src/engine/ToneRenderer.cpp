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
    explicit TThreadPerToneRenderer(bool timeCritical) : TimeCritical(timeCritical) {}
    ~TThreadPerToneRenderer() override {
        Stop();
        Threads.clear(); // each joins its thread
    }

    bool Add(TTone& tone) override {
        Threads.push_back(std::make_unique<TWaveguideThread>(tone, TimeCritical));
        TWaveguideThread& t = *Threads.back();
        t.Start();
        return t.WaitReady() == TWaveguideThread::TReadyResult::Ready;
    }
    void Release() override {
        for (auto& t : Threads) {
            // Only a tone whose block is written is woken: a release while it renders is not
            // remembered.
            if (t->Tone.Claim()) {
                t->Wake();
            }
        }
    }
    void Stop() override {
        for (auto& t : Threads) {
            t->Terminate();
        }
    }
    bool Finished() const override {
        return std::all_of(Threads.begin(), Threads.end(),
                           [](const auto& t) { return t->Finished(); });
    }
    void WaitIdle() override {
        for (auto& t : Threads) {
            t->Tone.WaitBlockDone();
        }
    }

private:
    const bool TimeCritical;
    std::vector<std::unique_ptr<TWaveguideThread>> Threads;
};

// Every tone rendered by the mixer's caller right after its mix: no hand-off, no thread.
class TInlineRenderer final : public IToneRenderer {
public:
    ~TInlineRenderer() override { Stop(); }

    bool Add(TTone& tone) override {
        Tones.push_back(&tone);
        Claimed.reserve(Tones.size());
        return tone.BuildOnThisThread();
    }
    void Release() override {
        const TFlushDenormalsScope flush;
        Claimed.clear(); // capacity kept: no allocation
        for (TTone* t : Tones) {
            if (t->Claim()) {
                Claimed.push_back(t);
            }
        }
        TTone::RenderClaimedTogether(Claimed);
    }
    void Stop() override {
        for (TTone* t : Tones) {
            t->End();
        }
        Tones.clear();
    }
    bool Finished() const override { return true; }
    void WaitIdle() override {}

private:
    std::vector<TTone*> Tones;
    std::vector<TTone*> Claimed;
};

} // namespace

int PoolThreadCount(int setting) {
    if (setting > 0) {
        return setting;
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

std::unique_ptr<IToneRenderer> MakeToneRenderer(const TToneRendering& How) {
    switch (How.Threads) {
    case TToneThreads::PerCore:
        return std::make_unique<TPoolRenderer>(PoolThreadCount(How.PoolThreads), How.TimeCritical);
    case TToneThreads::Inline:
        return std::make_unique<TInlineRenderer>();
    case TToneThreads::PerTone:
        break;
    }
    return std::make_unique<TThreadPerToneRenderer>(How.TimeCritical);
}

} // namespace varko
