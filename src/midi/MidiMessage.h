// One complete MIDI channel message, and the byte-stream parser that finds such messages in
// whatever a port or a file delivers.
#pragma once

#include "core/MidiBytes.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace varko {

// A channel voice message: the status byte (0x80..0xEF) and its one or two data bytes.
struct TMidiMessage {
    std::array<uint8_t, 3> Bytes{};
    uint8_t Size = 0;
};

// Cuts a MIDI byte stream into channel messages. Running status is kept across system
// exclusive and system common messages: a sender that relies on it there means the status it
// sent last, and a note-off read that way is better than a tone left sounding. Real-time bytes
// may come anywhere. Allocates nothing (it runs on a device's callback thread).
class TMidiStreamParser {
public:
    // Feeds size bytes; calls emit(const TMidiMessage&) for each complete channel message.
    template <typename Emit> void Feed(const uint8_t* data, size_t size, Emit&& emit) {
        for (size_t i = 0; i < size; ++i) {
            if (Byte(data[i])) {
                emit(static_cast<const TMidiMessage&>(complete_));
            }
        }
    }
    // Forgets running status and any message begun.
    void Reset() { *this = TMidiStreamParser(); }

private:
    // Takes one byte; true when it completed a message (then in complete_).
    bool Byte(uint8_t b);

    TMidiMessage pending_;
    TMidiMessage complete_;
    uint8_t status_ = 0; // running status, 0 for none
    bool sysex_ = false;
    int systemBytesLeft_ = 0; // data bytes of a system common message still to come
};

} // namespace varko
