// An engine over the real audio host, as the end-to-end tests drive it: the host's notices
// queued and run on the test's thread (the owner's), a bank of four tones with the
// fundamental mode alone (so that a spectrum's peak is the tone's), and a pen resting on the
// held bar, moved a little now and then so that it keeps exciting it.
#pragma once

#include "audio/AsioHost.h"
#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace varko::test {

template <class TBase> class THostedEngineTest : public TBase {
protected:
    // Makes the host and the engine; a reset rebuilds the bank, a loss is counted.
    void AttachEngine() {
        auto host = std::make_unique<TASIOHost>();
        host_ = host.get();
        engine_ = std::make_unique<TAudioEngine>(std::move(host));
        auto post = [this](std::function<void()> job) {
            std::lock_guard lock(queueMutex_);
            queue_.push_back(std::move(job));
        };
        host_->OwnerDispatcher = post;
        engine_->Dispatch = post;
        engine_->OnRebuildTones = [this] { Build(); };
        host_->OnDeviceLost = [this](IAudioHost*) { ++lostEvents_; };
    }

    // The bank for the host's rate and block size.
    void Build() {
        const TToneBankResult result = RefreshTones(*engine_, bank_);
        ASSERT_EQ(result.BuiltTones, static_cast<int>(bank_.ToneRatios.size()));
    }

    // Runs the host's queued notices on this (the owner's) thread, and moves the pen there,
    // as the window does, so that rebuilds never race with it.
    void Pump() {
        std::deque<std::function<void()>> jobs;
        {
            std::lock_guard lock(queueMutex_);
            jobs.swap(queue_);
        }
        for (auto& job : jobs) {
            job();
        }
        MovePen();
    }
    // Waits up to limit for cond, pumping notices; true when it came.
    bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            Pump();
            if (cond()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Pump();
        return cond();
    }
    void Sleep(std::chrono::milliseconds ms) {
        WaitFor([] { return false; }, ms);
    }

    TToneBankInput bank_ = [] {
        TToneBankInput input;
        input.ToneRatios = {1.0f, 2.205f, 3.0f, 4.0f};
        input.InitialFrequency = 200.0f;
        input.ModeLimit = 1;
        input.ResonanceFader = 150;
        input.InterpolateDelays = true;
        input.Seed = 1;
        return input;
    }();
    TASIOHost* host_ = nullptr; // owned by the engine
    std::unique_ptr<TAudioEngine> engine_;
    size_t heldTone_ = SIZE_MAX;
    bool stirAll_ = false; // every tone played, not only the held one
    int lostEvents_ = 0;

private:
    void MovePen() {
        const auto now = std::chrono::steady_clock::now();
        if (!engine_ || heldTone_ >= engine_->Oscillators.size() ||
            now - lastPen_ < std::chrono::milliseconds(30)) {
            return;
        }
        lastPen_ = now;
        penSpeed_ = penSpeed_ == 0.05f ? 0.06f : 0.05f;
        for (size_t t = 0; t < engine_->Oscillators.size(); ++t) {
            if (t != heldTone_ && !stirAll_) {
                continue;
            }
            TTone& tone = *engine_->Oscillators[t];
            tone.StrikePosition = 0.5f;
            tone.Pressure = 0.6f;
            tone.Speed = penSpeed_;
        }
    }

    std::chrono::steady_clock::time_point lastPen_;
    float penSpeed_ = 0.05f;
    std::mutex queueMutex_;
    std::deque<std::function<void()>> queue_;
};

} // namespace varko::test
