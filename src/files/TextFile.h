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

// Lines end at CR LF, LF or CR; the line ends are not kept. Text after the last line end
// forms a line only when it is not empty, so a final line end adds no empty line. Every byte,
// NUL included, is kept, except that a UTF-8 byte-order mark at the very start is dropped when
// dropByteOrderMark is set (text editors write one; the program's own files never do).
std::vector<std::string> SplitLines(std::string_view text, bool dropByteOrderMark = true);

} // namespace varko
