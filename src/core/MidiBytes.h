// What a MIDI channel status byte says about its message, for every layer that reads MIDI.
#pragma once

#include <cstdint>

namespace varko {

// Data bytes that follow a channel status byte: 1 for program change and channel pressure,
// 2 for the others, 0 for a byte that is not a channel status.
constexpr int MidiDataBytes(uint8_t status) {
    switch (status & 0xF0) {
    case 0x80: // note off
    case 0x90: // note on
    case 0xA0: // polyphonic aftertouch
    case 0xB0: // control change
    case 0xE0: // pitch bend
        return 2;
    case 0xC0: // program change
    case 0xD0: // channel pressure
        return 1;
    default:
        return 0;
    }
}

} // namespace varko
