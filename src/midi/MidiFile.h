// Standard MIDI Files (formats 0, 1 and 2): the channel messages of every track with their
// times in seconds, through the file's tempo map.
// Our own reader rather than libsmf: Debian 12's libsmf 1.3 reads past the end of a truncated
// file and has no SMPTE time division.
#pragma once

#include "midi/MidiMessage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varko {

struct TMidiFileEvent {
    double Seconds = 0.0; // from the start of the file
    TMidiMessage Message;
};

struct TMidiFile {
    // Every track's channel messages merged in time order; at equal times the earlier track
    // first, then the track's own order.
    std::vector<TMidiFileEvent> Events;
    double EndSeconds = 0.0; // the end of the longest track (its end-of-track event)
    int Format = 0;
    int Tracks = 0;
    // A track ended inside an event, a chunk ran past the end of the file, or tracks the header
    // announced are missing: what came before was read.
    bool Damaged = false;
};

// Files larger than this are not MIDI files anyone plays.
inline constexpr size_t MaxMidiFileBytes = size_t{8} << 20;

// Reads a file held in memory. Nothing, with a message, when it is not a MIDI file (no header,
// a header too short, a division of 0). Work and memory are bounded by the size.
std::optional<TMidiFile> ParseMidiFile(const uint8_t* data, size_t size, std::string& error);

// Reads a file from disk; a file that cannot be read gives a message naming it.
std::optional<TMidiFile> ReadMidiFile(const std::string& path, std::string& error);

} // namespace varko
