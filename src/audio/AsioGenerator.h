// A signal source the host can pre-fill its input or output arrays with.
#pragma once

#include "engine/AudioHost.h"

#include <cstdint>

namespace varko {

class TASIOGenerator {
public:
    virtual ~TASIOGenerator() = default;

    double SampleRate = 44100.0; // hertz
    uint32_t BlockSize = 2048;   // samples per channel per block

    // Fills every channel array with the next BlockSize samples (at most the array's length);
    // this base form gives silence. Runs in the buffer switch: must not allocate.
    virtual void ProcessBlock(TArrayOfSingleArray& data, bool isOutput);
};

} // namespace varko
