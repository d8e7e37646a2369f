#include "files/IniFile.h"

#include "files/NumberParse.h"
#include "files/TextFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace varko {

namespace {

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\n";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) {
        return {};
    }
    const size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto la = static_cast<unsigned char>(a[i]);
        const auto lb = static_cast<unsigned char>(b[i]);
        const auto fa = (la >= 'A' && la <= 'Z') ? la + 32 : la;
        const auto fb = (lb >= 'A' && lb <= 'Z') ? lb + 32 : lb;
        if (fa != fb) {
            return false;
        }
    }
    return true;
}

// The section name when the line is a section header.
std::optional<std::string> SectionOf(const std::string& line) {
    const std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[') {
        const size_t close = t.find(']');
        if (close != std::string::npos) {
            return Trim(t.substr(1, close - 1));
        }
    }
    return std::nullopt;
}

// Splits "key=value"; comment lines and lines without "=" have no key.
bool SplitKey(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') {
        return false;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return !key.empty();
}

} // namespace

void TIniFile::SetText(const std::string& text) {
    lines_ = SplitLines(text, false);
}

TIniFile::TLoadResult TIniFile::Load(const std::string& path) {
    lines_.clear();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return ec ? TLoadResult::Unreadable : TLoadResult::Missing;
    }
    const auto text = ReadFileCapped(path, MaxBytes);
    if (!text) {
        return TLoadResult::Unreadable;
    }
    SetText(*text);
    return TLoadResult::Loaded;
}

bool TIniFile::Save(const std::string& path) const {
    std::string text;
    for (const auto& l : lines_) {
        text += l;
        text += '\n';
    }
    return ReplaceFileContents(path, text);
}

std::optional<std::string> TIniFile::ReadString(const std::string& section,
                                                const std::string& key) const {
    bool in = false;
    std::string k, v;
    for (const auto& line : lines_) {
        if (auto s = SectionOf(line)) {
            in = SameName(*s, section);
            continue;
        }
        if (in && SplitKey(line, k, v) && SameName(k, key)) {
            return v;
        }
    }
    return std::nullopt;
}

std::optional<int32_t> TIniFile::ParseInteger(const std::string& text) {
    const std::string trimmed = Trim(text);
    std::string_view t = trimmed;
    std::string sign;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        sign = t.substr(0, 1);
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty() || t[0] == '+' || t[0] == '-') {
        return std::nullopt;
    }
    const auto v = ParseWhole(sign + std::string(t), base);
    if (!v) {
        return std::nullopt;
    }
    // Hexadecimal values name a 32-bit pattern (0xFFFFFFFF is -1).
    if (base == 16 && *v > INT32_MAX && *v <= static_cast<int64_t>(UINT32_MAX)) {
        return static_cast<int32_t>(static_cast<uint32_t>(*v));
    }
    if (*v < INT32_MIN || *v > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*v);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t def) const {
    const auto s = ReadString(section, key);
    if (!s) {
        return def;
    }
    return ParseInteger(*s).value_or(def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    const auto s = ReadString(section, key);
    if (!s) {
        return def;
    }
    const auto v = ParseInteger(*s);
    return v ? *v != 0 : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const std::string entry = key + "=" + value;
    bool in = false;
    bool found = false;
    size_t lastInSection = 0; // index after the last key line of the section
    std::string k, v;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (auto s = SectionOf(lines_[i])) {
            if (in) {
                break; // the first section of that name is the one written
            }
            in = SameName(*s, section);
            if (in) {
                found = true;
                lastInSection = i + 1;
            }
            continue;
        }
        if (!in) {
            continue;
        }
        if (SplitKey(lines_[i], k, v)) {
            if (SameName(k, key)) {
                lines_[i] = entry;
                return;
            }
            lastInSection = i + 1;
        } else if (!Trim(lines_[i]).empty()) {
            lastInSection = i + 1;
        }
    }
    if (found) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastInSection), entry);
        return;
    }
    if (!lines_.empty() && !Trim(lines_.back()).empty()) {
        lines_.emplace_back();
    }
    lines_.push_back("[" + section + "]");
    lines_.push_back(entry);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace varko
