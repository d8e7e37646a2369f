// Any bytes as a Standard MIDI File, and as a live MIDI byte stream: no crash, and every
// message read is a well-formed channel message; the file's events in time order, with finite
// times that end by the file's end.
#include "midi/MidiFile.h"
#include "midi/MidiMessage.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckMessage(const varko::TMidiMessage& m) {
    if (m.Bytes[0] < 0x80 || m.Bytes[0] > 0xEF || m.Size != 1 + varko::MidiDataBytes(m.Bytes[0])) {
        std::abort();
    }
    for (int i = 1; i < m.Size; ++i) {
        if (m.Bytes[static_cast<size_t>(i)] >= 0x80) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    if (const auto file = varko::ParseMidiFile(data, size, error)) {
        double last = 0.0;
        for (const auto& e : file->Events) {
            if (!std::isfinite(e.Seconds) || e.Seconds < last) {
                std::abort();
            }
            last = e.Seconds;
            CheckMessage(e.Message);
        }
        if (!std::isfinite(file->EndSeconds) || file->EndSeconds < last) {
            std::abort();
        }
    } else if (error.empty()) {
        std::abort();
    }
    varko::TMidiStreamParser stream;
    stream.Feed(data, size, CheckMessage);
    return 0;
}
