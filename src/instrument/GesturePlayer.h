// Plays a performance script through the instrument, block by block: the render tool before
// each offline block, the window's replay as the engine's position moves on. An event timed in
// seconds is applied before the first block that starts at or after its time; one stamped @N is
// applied before the block that makes it heard from sample N: the mixer's and a rebuild's at
// that block. What writes a tone's values (a pen or tone event stamped @N, a MIDI message at its
// time) is heard from its own sample: applied one block ahead (a tone renders a block before it
// is mixed), stamped with that sample, which the tone splits its block at.
// Rebuilds are built at most RebuildBurst at once and RebuildsPerSecond a second of music after
// that: one asked for sooner waits, a later one replaces it, and the last one is always built.
#pragma once

#include "files/GestureScript.h"
#include "instrument/ToneZoneGeometry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varko {

class TInstrument;

class TGesturePlayer {
public:
    // script's sample positions count at scriptRate; the instrument plays at its engine's rate
    // and block size. folder holds the files the rebuilds name.
    TGesturePlayer(TInstrument& instrument, TGestureScript&& script, double scriptRate,
                   std::string folder);
    // Plays a script the caller keeps (and keeps alive while this plays): a script of millions
    // of events is not copied.
    TGesturePlayer(TInstrument& instrument, const TGestureScript& script, double scriptRate,
                   std::string folder);
    // For a player made off the owner's thread: the engine's rate and block size are given, and
    // the instrument is not touched until playing starts.
    TGesturePlayer(TInstrument& instrument, TGestureScript&& script, double scriptRate,
                   std::string folder, double engineRate, uint32_t engineBlock);

    // Pen events are read against this zone (the window's, or the render tool's).
    std::function<TToneZoneGeometry()> Zone;
    // Interpolated delay lines whatever the rebuilds say.
    bool ForceInterpolation = false;

    // Applies every event due before the block that starts at enginePosition (the engine's
    // SamplePosition). The first call sets the performance's start there. False with a message
    // naming the line on an event that cannot be applied.
    bool PlayUntil(uint64_t enginePosition, std::string& error);
    bool Finished() const { return next_ >= order_.size() && pending_ == NoEvent; }
    // The engine position of the performance's first sample (once playing has started).
    uint64_t Origin() const { return origin_; }
    // Lifts every tone the script left pressed (a replay stopped early).
    void Release();
    // One event of the script at once, for a caller that keeps its own time.
    bool ApplyEvent(const TGestureEvent& e, std::string& error);

    // A rebuild takes the owner's thread for a while, and a script of a thousand rebuilds a
    // millisecond apart once froze the window. A player's own few quick ones (arrows clicked
    // in a row) stay where they were recorded, so that the take re-renders sample for sample.
    static constexpr double RebuildBurst = 4.0;
    static constexpr double RebuildsPerSecond = 4.0;

private:
    TGesturePlayer(TInstrument& instrument, std::shared_ptr<const TGestureScript> script,
                   double scriptRate, std::string folder, double engineRate, uint32_t engineBlock);
    static double EngineRate(TInstrument& instrument);
    static uint32_t EngineBlock(TInstrument& instrument);
    bool Due(const TGestureEvent& e, uint64_t block) const;
    // Whether a rebuild still to come is due before the same block as the one just taken.
    bool RebuiltAgainBefore(uint64_t block) const;
    // The performance's sample (at the engine's rate) an event is heard from.
    double Heard(const TGestureEvent& e) const;
    // Builds the rebuild at index i of the script's events, then the events held behind it.
    bool Rebuild(size_t i, uint64_t block, std::string& error);

    static constexpr size_t NoEvent = static_cast<size_t>(-1);

    TInstrument& instrument_;
    std::shared_ptr<const TGestureScript> script_;
    double scale_ = 1.0; // engine samples per script sample
    std::string folder_;
    double rate_ = 48000.0;
    uint32_t block_ = 256;
    std::vector<size_t> order_; // events in the order of the block they are due before
    size_t next_ = 0;
    bool started_ = false;
    uint64_t origin_ = 0;       // engine position of the performance's block 0
    std::vector<bool> pressed_; // tones the script last left with pressure
    bool penDown_ = false;
    double rebuilds_ = RebuildBurst; // rebuilds that may be built now
    uint64_t rebuildsAt_ = 0;        // performance block rebuilds_ was counted at
    size_t pending_ = NoEvent;       // a rebuild waiting for its turn (index into the events)
    std::vector<size_t> held_;       // events after the pending rebuild, played on its bank
};

} // namespace varko
