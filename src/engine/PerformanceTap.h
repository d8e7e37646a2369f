// What the engine played, for a recorder: every output block and every playing change, each at
// the sample position where it is heard. Positions count the samples the engine has sent to the
// host since it was created.
#pragma once

#include "engine/PlayingChanges.h"

#include <cstdint>

namespace varko {

class IPerformanceTap {
public:
    virtual ~IPerformanceTap() = default;

    // Audio callback: the stereo block starting at position, after the master gain, as the host
    // sends it to the device; lateTones tones were not ready for it. Must not allocate, lock or
    // block.
    virtual void TapBlock(uint64_t position, const float* left, const float* right, uint32_t n,
                          uint32_t lateTones) = 0;

    // A playing change that takes effect at position. On the audio callback while the engine
    // runs, else on the owner's thread; never on both at once. Same rules as TapBlock.
    virtual void TapChange(uint64_t position, const TPlayingChange& change) = 0;
};

} // namespace varko
