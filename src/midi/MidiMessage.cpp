#include "midi/MidiMessage.h"

namespace varko {

bool TMidiStreamParser::Byte(uint8_t b) {
    if (b >= 0xF8) {
        return false; // real-time: may come between any two bytes, changes nothing
    }
    if (b >= 0xF0) {
        sysex_ = b == 0xF0;
        // Song position pointer has two data bytes, MTC quarter frame and song select one.
        systemBytesLeft_ = b == 0xF2 ? 2 : (b == 0xF1 || b == 0xF3) ? 1 : 0;
        pending_.Size = 0;
        return false;
    }
    if (b >= 0x80) {
        status_ = b;
        sysex_ = false;
        systemBytesLeft_ = 0;
        pending_.Bytes[0] = b;
        pending_.Size = 1;
        return false;
    }
    if (sysex_) {
        return false;
    }
    if (systemBytesLeft_ > 0) {
        --systemBytesLeft_;
        return false;
    }
    if (status_ == 0) {
        return false; // data without any status: nothing to attach it to
    }
    if (pending_.Size == 0) {
        pending_.Bytes[0] = status_;
        pending_.Size = 1;
    }
    pending_.Bytes[pending_.Size++] = b;
    if (pending_.Size < 1 + MidiDataBytes(status_)) {
        return false;
    }
    complete_ = pending_;
    pending_.Size = 0; // the next data byte starts a message under running status
    return true;
}

} // namespace varko
