#include "instrument/GesturePlayer.h"

#include "instrument/Instrument.h"

#include <algorithm>
#include <cmath>

namespace varko {

namespace {

// Events whose values a tone's oscillator reads: they must arrive one block before they sound.
bool ReachesTones(const TGestureEvent& e) {
    return e.Kind == TGestureEvent::TKind::Pen || e.Kind == TGestureEvent::TKind::Tone ||
           e.Kind == TGestureEvent::TKind::Fader || e.Kind == TGestureEvent::TKind::Midi ||
           e.Kind == TGestureEvent::TKind::Pitch;
}

// Events that write a tone's playing values, which the tone takes at any sample of its block.
bool PlacedInBlock(const TGestureEvent& e) {
    return (e.Sample &&
            (e.Kind == TGestureEvent::TKind::Pen || e.Kind == TGestureEvent::TKind::Tone)) ||
           e.Kind == TGestureEvent::TKind::Midi;
}

} // namespace

TGesturePlayer::TGesturePlayer(TInstrument& instrument, TGestureScript&& script, double scriptRate,
                               std::string folder)
    : TGesturePlayer(instrument, std::make_shared<const TGestureScript>(std::move(script)),
                     scriptRate, std::move(folder), EngineRate(instrument),
                     EngineBlock(instrument)) {}

TGesturePlayer::TGesturePlayer(TInstrument& instrument, const TGestureScript& script,
                               double scriptRate, std::string folder)
    : TGesturePlayer(
          instrument, std::shared_ptr<const TGestureScript>(std::shared_ptr<void>(), &script),
          scriptRate, std::move(folder), EngineRate(instrument), EngineBlock(instrument)) {}

TGesturePlayer::TGesturePlayer(TInstrument& instrument, TGestureScript&& script, double scriptRate,
                               std::string folder, double engineRate, uint32_t engineBlock)
    : TGesturePlayer(instrument, std::make_shared<const TGestureScript>(std::move(script)),
                     scriptRate, std::move(folder), engineRate, engineBlock) {}

double TGesturePlayer::EngineRate(TInstrument& instrument) {
    return instrument.Audio().HasEngine() ? instrument.Audio().Engine().Host().SampleRate()
                                          : 48000.0;
}

uint32_t TGesturePlayer::EngineBlock(TInstrument& instrument) {
    return instrument.Audio().HasEngine() ? instrument.Audio().Engine().Host().BufferSize() : 256;
}

TGesturePlayer::TGesturePlayer(TInstrument& instrument,
                               std::shared_ptr<const TGestureScript> script, double scriptRate,
                               std::string folder, double engineRate, uint32_t engineBlock)
    : instrument_(instrument), script_(std::move(script)), folder_(std::move(folder)),
      rate_(engineRate), block_(std::max<uint32_t>(engineBlock, 1)) {
    scale_ = scriptRate > 0.0 ? rate_ / scriptRate : 1.0;
    // Where each event falls, in engine samples: it is due before the first block starting
    // there or later.
    std::vector<double> at(script_->Events.size());
    double lastRebuild = -1e300;
    for (size_t i = 0; i < at.size(); ++i) {
        const TGestureEvent& e = script_->Events[i];
        if (PlacedInBlock(e)) {
            // Due (below) while Heard < start + 2 blocks: the same "at <= start" as the others.
            // Heard after the first block of a bank rebuilt above it, it plays that bank (the
            // first block is rendered as the bank is built, before any event reaches it).
            at[i] = Heard(e) - 2.0 * block_ + 1.0;
            if (Heard(e) >= lastRebuild + block_) {
                at[i] = std::max(at[i], lastRebuild);
            }
        } else if (!e.Sample) {
            at[i] = e.Time * rate_;
        } else {
            at[i] = static_cast<double>(*e.Sample) * scale_ - (ReachesTones(e) ? block_ : 0.0);
        }
        if (e.Kind == TGestureEvent::TKind::Rebuild) {
            lastRebuild = at[i];
        }
        order_.push_back(i);
    }
    std::stable_sort(order_.begin(), order_.end(),
                     [&](size_t a, size_t b) { return at[a] < at[b]; });
}

double TGesturePlayer::Heard(const TGestureEvent& e) const {
    return e.Sample ? std::floor(static_cast<double>(*e.Sample) * scale_)
                    : std::round(e.Time * rate_);
}

bool TGesturePlayer::Due(const TGestureEvent& e, uint64_t block) const {
    const double start = static_cast<double>(block) * static_cast<double>(block_);
    if (PlacedInBlock(e)) {
        // Due while the block the tones render next, one on from the block mixed at start,
        // still reaches its sample.
        return Heard(e) < start + 2.0 * static_cast<double>(block_);
    }
    if (!e.Sample) {
        // The render tool's rule since scripts were timed in seconds.
        return e.Time <= start / rate_;
    }
    const double heard = static_cast<double>(*e.Sample) * scale_;
    return heard <= start + (ReachesTones(e) ? static_cast<double>(block_) : 0.0);
}

bool TGesturePlayer::RebuiltAgainBefore(uint64_t block) const {
    for (size_t i = next_; i < order_.size(); ++i) {
        const TGestureEvent& later = script_->Events[order_[i]];
        if (!Due(later, block)) {
            return false;
        }
        if (later.Kind == TGestureEvent::TKind::Rebuild) {
            return true;
        }
    }
    return false;
}

bool TGesturePlayer::PlayUntil(uint64_t enginePosition, std::string& error) {
    if (!started_) {
        started_ = true;
        origin_ = enginePosition;
    }
    const uint64_t block = (enginePosition - std::min(enginePosition, origin_)) / block_;
    if (block > rebuildsAt_) {
        rebuilds_ = std::min(RebuildBurst, rebuilds_ + static_cast<double>(block - rebuildsAt_) *
                                                           block_ / rate_ * RebuildsPerSecond);
        rebuildsAt_ = block;
    }
    // One bank per block at most: the one built last is the one heard.
    bool built = false;
    if (pending_ != NoEvent && rebuilds_ >= 1.0) {
        if (!Rebuild(pending_, block, error)) {
            return false;
        }
        built = true;
    }
    while (next_ < order_.size()) {
        const size_t i = order_[next_];
        const TGestureEvent& e = script_->Events[i];
        if (!Due(e, block)) {
            break;
        }
        ++next_;
        if (e.Kind == TGestureEvent::TKind::Rebuild) {
            // A bank replaced before it sounds a block is never heard, and one asked for too
            // soon after the last waits: a later rebuild replaces it, with what it held.
            if (RebuiltAgainBefore(block) || built || rebuilds_ < 1.0) {
                pending_ = i;
                held_.clear();
                continue;
            }
            if (!Rebuild(i, block, error)) {
                return false;
            }
            built = true;
            continue;
        }
        if (pending_ != NoEvent) {
            // Written for the pending bank: played on it once it is built.
            held_.push_back(i);
            continue;
        }
        // Heard from its own sample, which a recording of this performance names again.
        const double heard = PlacedInBlock(e) ? Heard(e) : 0.0;
        const TChangeTimeScope stamp(heard > 0.0 ? origin_ + static_cast<uint64_t>(heard) : 0);
        if (!ApplyEvent(e, error)) {
            return false;
        }
    }
    return true;
}

bool TGesturePlayer::Rebuild(size_t i, uint64_t block, std::string& error) {
    pending_ = NoEvent;
    std::vector<size_t> held;
    held.swap(held_);
    if (!ApplyEvent(script_->Events[i], error)) {
        return false;
    }
    rebuilds_ -= 1.0;
    // The new bank's first block is the performance's block `block`, wherever the engine stood
    // when it was built.
    const uint64_t at = instrument_.Bank().LastRebuildPosition();
    origin_ = at - std::min(at, block * block_);
    // Their own samples have passed: they take effect at once.
    for (const size_t h : held) {
        if (!ApplyEvent(script_->Events[h], error)) {
            return false;
        }
    }
    return true;
}

bool TGesturePlayer::ApplyEvent(const TGestureEvent& e, std::string& error) {
    IToneTarget& tones = instrument_.ToneTarget();
    switch (e.Kind) {
    case TGestureEvent::TKind::Pen: {
        const TToneZoneGeometry zone = Zone ? Zone() : TToneZoneGeometry();
        instrument_.Playing().Pen(zone, zone.BarWidthReciprocal(), static_cast<float>(e.X),
                                  static_cast<float>(e.Y), static_cast<float>(e.Pressure),
                                  e.Pressure > 0.0);
        penDown_ = e.Pressure > 0.0;
        break;
    }
    case TGestureEvent::TKind::Tone:
        if (e.Tone >= tones.ToneCount()) {
            error = "line " + std::to_string(e.Line) + ": there is no tone " +
                    std::to_string(e.Tone) + " (the scale gives " +
                    std::to_string(tones.ToneCount()) + " tones)";
            return false;
        }
        tones.SetPressure(e.Tone, static_cast<float>(e.Pressure));
        tones.SetSpeed(e.Tone, static_cast<float>(e.Speed));
        tones.SetStrikePosition(e.Tone, static_cast<float>(e.X));
        pressed_.resize(static_cast<size_t>(tones.ToneCount()), false);
        pressed_[static_cast<size_t>(e.Tone)] = e.Pressure > 0.0;
        break;
    case TGestureEvent::TKind::Pitch:
        if (e.Tone < tones.ToneCount()) {
            tones.SetPitch(e.Tone, static_cast<float>(e.X));
        }
        break;
    case TGestureEvent::TKind::Fader:
        instrument_.Playing().SetResonanceFader(e.Position);
        break;
    case TGestureEvent::TKind::Master:
        instrument_.Settings().SetMasterLevel(e.Position);
        break;
    case TGestureEvent::TKind::Midi:
        // As a keyboard on channel 1 plays it; its strikes decay as the owner ticks the MIDI.
        instrument_.Midi().Message(0, e.Bytes.data(), static_cast<size_t>(e.Size),
                                   e.Seconds(rate_ / scale_));
        break;
    case TGestureEvent::TKind::Stereo:
        instrument_.Settings().SetStereoSeparation(e.Stereo);
        instrument_.Settings().SetPaint2Rows(e.TwoRows);
        break;
    case TGestureEvent::TKind::Rebuild: {
        std::string why;
        if (e.Rebuild < 0 || static_cast<size_t>(e.Rebuild) >= script_->Rebuilds.size() ||
            !instrument_.ApplyRebuild(script_->Rebuilds[static_cast<size_t>(e.Rebuild)], folder_,
                                      ForceInterpolation, why)) {
            error = "line " + std::to_string(e.Line) + ": " + why;
            return false;
        }
        pressed_.assign(pressed_.size(), false);
        penDown_ = false;
        break;
    }
    }
    return true;
}

void TGesturePlayer::Release() {
    IToneTarget& tones = instrument_.ToneTarget();
    for (size_t i = 0; i < pressed_.size() && static_cast<int>(i) < tones.ToneCount(); ++i) {
        if (pressed_[i]) {
            tones.SetPressure(static_cast<int>(i), 0.0f);
        }
    }
    pressed_.assign(pressed_.size(), false);
    TPlaying& play = instrument_.Playing();
    if (penDown_ && play.CurrentBar >= 0 && play.CurrentBar < tones.ToneCount()) {
        tones.SetPressure(play.CurrentBar, 0.0f);
    }
    play.PenDown = false;
    penDown_ = false;
}

} // namespace varko
