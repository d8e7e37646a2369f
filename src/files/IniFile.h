// A small INI file that keeps every line it does not change: unknown keys and sections,
// comments and the order of lines survive a read-modify-write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varko {

class TIniFile {
public:
    enum class TLoadResult { Loaded, Missing, Unreadable };

    // Reads the file; a missing file reads as empty. Files above MaxBytes are refused.
    TLoadResult Load(const std::string& path);
    // Writes all lines to a temporary file beside path and renames it over path, so that a
    // failed write never leaves a half-written settings file. Returns false on failure.
    bool Save(const std::string& path) const;

    // Section and key names compare without regard to ASCII case, as Windows INI files do.
    std::optional<std::string> ReadString(const std::string& section, const std::string& key) const;
    // A whole number (decimal, or hexadecimal after 0x/0X); anything else gives def.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // True for any whole number other than 0; anything else gives def.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Replaces the key's value in place, or appends the key at the end of its section (the
    // section at the end of the file when it does not exist yet).
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    const std::vector<std::string>& Lines() const { return lines_; }
    void SetText(const std::string& text);

    static constexpr uintmax_t MaxBytes = 1 << 20;

    // Parses a whole number as the settings file stores it.
    static std::optional<int32_t> ParseInteger(const std::string& text);

private:
    std::vector<std::string> lines_;
};

} // namespace varko
