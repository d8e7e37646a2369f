// Records what the engine plays: its blocks into performance.wav and its playing changes into
// performance.txt, stamped with the sample where each is heard. The audio callback only copies
// into two lock-free rings; a writer thread of the recorder's own empties them to disk. A disk
// that cannot keep up or takes nothing more ends the recording: what reached the files stays
// whole and readable.
#pragma once

#include "core/SpscRing.h"
#include "engine/PerformanceTap.h"
#include "files/GestureScript.h"
#include "files/WavStream.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace varko {

struct TRecordingResult {
    bool Ok = true;             // ended by the owner, every file written whole
    bool DiskTooSlow = false;   // the rings filled up: the disk did not keep up
    std::string Error;          // why it ended by itself, or what could not be written
    uint64_t Frames = 0;        // in performance.wav
    uint64_t DroppedBlocks = 0; // blocks not recorded once the rings were full
    uint64_t LateBlocks = 0;    // recorded blocks some tone was not ready for
};

class TRecorder : public IPerformanceTap {
public:
    // Seconds of sound the ring holds while the disk is busy (read by Begin).
    double RingSeconds = 4.0;
    // Playing changes the other ring holds (a busy player makes a few hundred a second).
    static constexpr size_t EventRingCapacity = 1 << 16;

    TRecorder() = default;
    ~TRecorder() override;
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Owner's thread, with the engine stopped: opens wavPath (at rate, stereo) and scriptPath
    // and starts taking what the engine plays from its sample position `position` on. The
    // script starts with header (comment lines). False with the reason when a file cannot be
    // made.
    bool Begin(const std::string& wavPath, const std::string& scriptPath, double rate,
               uint64_t position, const std::string& header, std::string& error);
    // Owner's thread: stops taking, lets the writer empty the rings and closes the files.
    TRecordingResult End();

    bool Recording() const { return writer_.joinable(); }
    // Set by the writer when it stopped by itself; End() then tells why.
    bool Failed() const { return failed_.load(std::memory_order_acquire); }
    uint64_t Frames() const { return framesWritten_.load(std::memory_order_relaxed); }
    uint64_t DroppedBlocks() const { return dropped_.load(std::memory_order_relaxed); }
    // The engine position of the recording's first sample.
    uint64_t StartPosition() const { return start_; }

    // Owner's thread, with the engine stopped: an event of the owner's (the state at the start,
    // a rebuild) at engine position `position`, in order with the engine's changes.
    void Log(uint64_t position, const TGestureEvent& event, const TGestureRebuild* rebuild);

    // Runs on the writer thread once, when the recording stops by itself.
    std::function<void()> OnFailed;

    // IPerformanceTap (audio callback; the owner's thread while the engine is stopped).
    void TapBlock(uint64_t position, const float* left, const float* right, uint32_t n,
                  uint32_t lateTones) override;
    void TapChange(uint64_t position, const TPlayingChange& change) override;

private:
    struct TItem {
        enum class TKind : uint8_t { Change, OwnerLine, Late };
        TKind Kind = TKind::Change;
        uint32_t Count = 0; // Late: the tones not ready
        uint64_t Position = 0;
        TPlayingChange Change;
    };

    void Run();
    void Fail(std::string why, bool tooSlow);
    bool WriteEvents();
    bool WriteLine(const std::string& line);
    std::string ChangeLine(const TItem& item) const;

    std::unique_ptr<TSpscRing<float>> audio_;
    std::unique_ptr<TSpscRing<TItem>> events_;
    std::atomic<bool> armed_{false};
    std::atomic<bool> overflowed_{false};
    std::atomic<bool> failed_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> late_{0};
    std::atomic<uint64_t> framesWritten_{0};
    std::atomic<uint64_t> framesTaken_{0};
    std::atomic<uint32_t> lastBlock_{0};
    uint64_t start_ = 0;

    // The writer's.
    std::thread writer_;
    std::atomic<bool> stopping_{false};
    std::binary_semaphore wake_{0};
    TWavStream wav_;
    std::FILE* script_ = nullptr;
    size_t scriptBytes_ = 0; // written to script_, its header included
    // Tone changes held back while they share one sample: each tone's later change there
    // replaces its earlier one, so a MIDI flood writes a line per tone and sample, not per
    // message. Held in the order the tones first changed; slot_ maps a tone to its entry.
    std::vector<TItem> held_;
    std::vector<int32_t> slot_;
    void HoldTone(const TItem& item);
    void WriteHeld();
    std::string failure_;
    bool tooSlow_ = false;

    // Owner lines, in the order their markers went into the event ring.
    std::mutex ownerLinesMutex_;
    std::deque<std::string> ownerLines_;
};

} // namespace varko
