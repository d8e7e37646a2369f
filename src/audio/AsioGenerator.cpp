#include "audio/AsioGenerator.h"

#include <algorithm>

namespace varko {

void TASIOGenerator::ProcessBlock(TArrayOfSingleArray& data, bool) {
    for (TSingleArray& channel : data) {
        std::fill_n(channel.begin(), std::min<size_t>(BlockSize, channel.size()), 0.0f);
    }
}

} // namespace varko
