#include "instrument/Recorder.h"

#include "core/RealTime.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace varko {

namespace {

// Frames the writer hands to the file at once.
constexpr size_t WriteFrames = 4096;
// How often the writer looks at the rings when nothing wakes it.
constexpr auto WriterPeriod = std::chrono::milliseconds(10);

} // namespace

TRecorder::~TRecorder() {
    End();
}

bool TRecorder::Begin(const std::string& wavPath, const std::string& scriptPath, double rate,
                      uint64_t position, const std::string& header, std::string& error) {
    End();
    if (!wav_.Open(wavPath, static_cast<int>(std::lround(rate)), 2, error)) {
        error = "cannot write \"" + wavPath + "\": " + error;
        return false;
    }
    script_ = std::fopen(scriptPath.c_str(), "wb");
    if (script_ == nullptr) {
        error = "cannot write \"" + scriptPath + "\": " + std::strerror(errno);
        wav_.Close(error);
        return false;
    }
    // Fresh rings: whatever a callback put in after the last recording ended is not this one's.
    const auto samples = static_cast<size_t>(std::ceil(rate * RingSeconds)) * 2;
    audio_ = std::make_unique<TSpscRing<float>>(samples);
    events_ = std::make_unique<TSpscRing<TItem>>(EventRingCapacity);
    {
        const std::lock_guard<std::mutex> lock(ownerLinesMutex_);
        ownerLines_.clear();
    }
    overflowed_.store(false);
    failed_.store(false);
    dropped_.store(0);
    late_.store(0);
    framesTaken_.store(0);
    framesWritten_.store(0);
    stopping_.store(false);
    held_.clear();
    slot_.clear();
    scriptBytes_ = 0;
    failure_.clear();
    tooSlow_ = false;
    start_ = position;
    WriteLine(header);
    writer_ = std::thread([this] { Run(); });
    armed_.store(true, std::memory_order_release);
    return true;
}

TRecordingResult TRecorder::End() {
    TRecordingResult r;
    if (!writer_.joinable()) {
        return r;
    }
    armed_.store(false, std::memory_order_release);
    stopping_.store(true);
    wake_.release();
    writer_.join();
    std::string error;
    const bool wavOk = wav_.Close(error);
    const bool scriptOk = std::fclose(script_) == 0;
    script_ = nullptr;
    r.Frames = framesWritten_.load();
    // Blocks refused by a full ring, and those taken but never written after a failure.
    const uint64_t block = std::max<uint64_t>(lastBlock_.load(), 1);
    const uint64_t unwritten = framesTaken_.load() - std::min(framesTaken_.load(), r.Frames);
    r.DroppedBlocks = dropped_.load() + (unwritten + block - 1) / block;
    r.LateBlocks = late_.load();
    r.DiskTooSlow = tooSlow_;
    if (!failure_.empty()) {
        r.Ok = false;
        r.Error = failure_;
    } else if (!wavOk || !scriptOk) {
        r.Ok = false;
        r.Error = !wavOk ? error : std::strerror(errno);
    }
    return r;
}

void TRecorder::Log(uint64_t position, const TGestureEvent& event, const TGestureRebuild* rebuild) {
    if (!armed_.load(std::memory_order_acquire)) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(ownerLinesMutex_);
        ownerLines_.push_back(GestureLine(event, position - std::min(position, start_), rebuild));
    }
    TItem item;
    item.Kind = TItem::TKind::OwnerLine;
    item.Position = position;
    if (!events_->Push(item)) {
        overflowed_.store(true, std::memory_order_release);
    }
}

void TRecorder::TapBlock(uint64_t position, const float* left, const float* right, uint32_t n,
                         uint32_t lateTones) {
    if (!armed_.load(std::memory_order_acquire) || position < start_) {
        return;
    }
    // After the first block that did not fit, none is taken: the file stays one unbroken stretch.
    lastBlock_.store(n, std::memory_order_relaxed);
    if (overflowed_.load(std::memory_order_relaxed) || failed_.load(std::memory_order_relaxed) ||
        audio_->Free() < 2 * size_t{n}) {
        overflowed_.store(true, std::memory_order_release);
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    audio_->PushGenerated(2 * size_t{n}, [&](size_t i) {
        const float* channel = (i & 1) != 0 ? right : left;
        return channel != nullptr ? channel[i / 2] : 0.0f;
    });
    framesTaken_.fetch_add(n, std::memory_order_relaxed);
    if (lateTones != 0) {
        late_.fetch_add(1, std::memory_order_relaxed);
        TItem item;
        item.Kind = TItem::TKind::Late;
        item.Position = position;
        item.Count = lateTones;
        events_->Push(item); // only a comment: losing it loses nothing
    }
}

void TRecorder::TapChange(uint64_t position, const TPlayingChange& change) {
    if (!armed_.load(std::memory_order_acquire) || overflowed_.load(std::memory_order_relaxed)) {
        return;
    }
    TItem item;
    item.Kind = TItem::TKind::Change;
    item.Position = position;
    item.Change = change;
    if (!events_->Push(item)) {
        overflowed_.store(true, std::memory_order_release);
    }
}

void TRecorder::Fail(std::string why, bool tooSlow) {
    if (!failure_.empty()) {
        return;
    }
    failure_ = std::move(why);
    tooSlow_ = tooSlow;
    failed_.store(true, std::memory_order_release);
    if (OnFailed) {
        OnFailed();
    }
}

bool TRecorder::WriteLine(const std::string& line) {
    if (line.empty()) {
        return true;
    }
    // What a recording writes, the readers read.
    if (scriptBytes_ + line.size() + 1 > MaxScriptBytes) {
        Fail("the gesture reached the longest a performance script may be", false);
        return false;
    }
    scriptBytes_ += line.size() + 1;
    if (std::fwrite(line.data(), 1, line.size(), script_) != line.size() ||
        (line.back() != '\n' && std::fputc('\n', script_) == EOF)) {
        Fail(std::string("the gesture could not be written: ") + std::strerror(errno), false);
        return false;
    }
    return true;
}

std::string TRecorder::ChangeLine(const TItem& item) const {
    const TPlayingChange& c = item.Change;
    TGestureEvent e;
    switch (c.Kind) {
    case TPlayingChange::TKind::Tone:
        e.Kind = TGestureEvent::TKind::Tone;
        e.Tone = c.Tone;
        e.Pressure = c.Pressure;
        e.Speed = c.Speed;
        e.X = c.Strike;
        break;
    case TPlayingChange::TKind::Resonance:
        e.Kind = TGestureEvent::TKind::Fader;
        e.Position = c.Fader;
        break;
    case TPlayingChange::TKind::Master:
        e.Kind = TGestureEvent::TKind::Master;
        e.Position = c.Fader;
        break;
    case TPlayingChange::TKind::Pitch:
        e.Kind = TGestureEvent::TKind::Pitch;
        e.Tone = c.Tone;
        e.X = c.Value;
        break;
    case TPlayingChange::TKind::Mix:
        e.Kind = TGestureEvent::TKind::Stereo;
        e.Stereo = c.Stereo;
        e.TwoRows = c.TwoRows;
        break;
    }
    return GestureLine(e, item.Position - std::min(item.Position, start_), nullptr);
}

void TRecorder::HoldTone(const TItem& item) {
    if (!held_.empty() && held_.front().Position != item.Position) {
        WriteHeld();
    }
    const auto tone = static_cast<size_t>(std::max(item.Change.Tone, 0));
    if (tone >= slot_.size()) {
        slot_.resize(tone + 1, -1);
    }
    int32_t& slot = slot_[tone];
    if (slot >= 0) {
        held_[static_cast<size_t>(slot)] = item;
        return;
    }
    slot = static_cast<int32_t>(held_.size());
    held_.push_back(item);
}

void TRecorder::WriteHeld() {
    for (const TItem& item : held_) {
        WriteLine(ChangeLine(item));
        slot_[static_cast<size_t>(std::max(item.Change.Tone, 0))] = -1;
    }
    held_.clear();
}

bool TRecorder::WriteEvents() {
    TItem item;
    bool any = false;
    while (failure_.empty() && events_->Pop(item)) {
        any = true;
        // Values for one tone at one sample: only the last is ever heard.
        if (item.Kind == TItem::TKind::Change && item.Change.Kind == TPlayingChange::TKind::Tone) {
            HoldTone(item);
            continue;
        }
        WriteHeld();
        switch (item.Kind) {
        case TItem::TKind::Change:
            WriteLine(ChangeLine(item));
            break;
        case TItem::TKind::OwnerLine: {
            std::string line;
            {
                const std::lock_guard<std::mutex> lock(ownerLinesMutex_);
                line = std::move(ownerLines_.front());
                ownerLines_.pop_front();
            }
            WriteLine(line);
            break;
        }
        case TItem::TKind::Late:
            WriteLine("# late @" + std::to_string(item.Position - std::min(item.Position, start_)) +
                      ": " + std::to_string(item.Count) + " tone(s) not ready");
            break;
        }
    }
    // Whole lines on disk as the sound is, even when nothing follows them for a while.
    WriteHeld();
    return any;
}

void TRecorder::Run() {
    NameThisThread("VarkoRecorder");
    std::vector<float> frames(WriteFrames * 2);
    for (;;) {
        const bool stopping = stopping_.load();
        // Read before emptying the rings: everything taken before the first loss is in them.
        const bool overflowed = overflowed_.load(std::memory_order_acquire);
        bool busy = false;
        while (failure_.empty()) {
            const size_t got = audio_->Pop(frames.data(), frames.size()) / 2;
            if (got == 0) {
                break;
            }
            busy = true;
            if (!wav_.Write(frames.data(), got)) {
                Fail(wav_.Error(), false);
            }
            framesWritten_.store(wav_.Frames(), std::memory_order_relaxed);
        }
        if (WriteEvents()) {
            busy = true;
            // Whole lines on disk as the sound is: a crash loses at most the last moment of
            // both, not seconds of the gesture.
            std::fflush(script_);
        }
        if (failure_.empty() && overflowed) {
            // Everything before the first lost block is in the files now.
            Fail("the disk did not keep up", true);
        }
        if (!failure_.empty() || (stopping && !busy)) {
            break;
        }
        if (!busy) {
            (void)wake_.try_acquire_for(WriterPeriod);
        }
    }
    if (failure_.empty()) {
        WriteHeld();
    }
    held_.clear();
    std::fflush(script_);
}

} // namespace varko
