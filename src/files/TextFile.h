// Bounded reading of the player's text files and the line splitting all readers share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varko {

// Scale and mode files are a few kilobytes; anything this large is not one and is refused
// rather than read into memory.
inline constexpr std::size_t MaxPlayerFileBytes = 16u << 20;

// The whole file as bytes, or nothing when it cannot be opened or read, is not a regular
// readable file, or holds more than maxBytes.
std::optional<std::string> ReadFileCapped(const std::string& path, std::size_t maxBytes);

// Up to maxBytes from the start of the file; nothing when it cannot be opened. Sets
// truncated when the file went on beyond that.
std::optional<std::string> ReadFileHead(const std::string& path, std::size_t maxBytes,
                                        bool& truncated);

// Replaces the file's contents with bytes, so that a reader never sees half of them: written to
// a temporary file of a unique name beside it, flushed to disk, then renamed over it. A symbolic
// link is written through (its target is replaced, the link stays); the file keeps its
// permissions. Refuses, changing nothing, when the file exists but is not a regular file or has
// no write permission for anyone (a file the player made read-only stays as it is). Returns
// false on any failure.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);

// Whether the bytes are UTF-8 (scale files come in UTF-8 and in Latin-1).
bool IsValidUtf8(std::string_view text);

// Lines end at CR LF, LF or CR; the line ends are not kept. Text after the last line end
// forms a line only when it is not empty, so a final line end adds no empty line. Every byte,
// NUL included, is kept, except that a UTF-8 byte-order mark at the very start is dropped when
// dropByteOrderMark is set (text editors write one; the program's own files never do).
std::vector<std::string> SplitLines(std::string_view text, bool dropByteOrderMark = true);

} // namespace varko
