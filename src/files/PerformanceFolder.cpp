#include "files/PerformanceFolder.h"

#include "files/IniFile.h"
#include "files/ModeFile.h"
#include "files/TextFile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace varko {

namespace fs = std::filesystem;

namespace {

constexpr const char* Section = "Performance";
constexpr const char* SoundSection = "Sound";

// A name a script can carry: no blanks (they separate its values), no "=" or "," (rebuild keys and
// seed lists), nothing outside plain ASCII.
std::string SafeName(const std::string& path, const char* fallback) {
    std::string name = fs::path(path).filename().string();
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain) {
            c = '_';
        }
    }
    if (name.empty() || name[0] == '.' || name == "-") {
        name = fallback;
    }
    // Room for a "-NNNN" suffix within the 255 bytes a file name may have: a 251-character
    // scale opened twice once stopped the recording.
    constexpr size_t MaxStem = 160, MaxExtension = 16;
    const fs::path p(name);
    std::string stem = p.stem().string(), extension = p.extension().string();
    if (stem.size() > MaxStem || extension.size() > MaxExtension) {
        name = stem.substr(0, MaxStem) + extension.substr(0, MaxExtension);
    }
    return name;
}

bool WriteBytes(const std::string& path, const std::string& bytes, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
        error = "cannot write \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string Number(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : "0";
}

std::string Number(float v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : "0";
}

uint64_t ReadCount(const TIniFile& ini, const char* key) {
    long long v = 0;
    const auto s = ini.ReadString(Section, key);
    if (!s || std::from_chars(s->data(), s->data() + s->size(), v).ec != std::errc() || v < 0) {
        return 0;
    }
    return static_cast<uint64_t>(v);
}

} // namespace

bool TPerformanceFolder::Create(const std::string& root, std::time_t now, std::string& error) {
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!fs::is_directory(root, ec)) {
        error = "cannot make the folder \"" + root + "\"";
        return false;
    }
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    for (int n = 1; n < 1000; ++n) {
        const std::string path =
            root + "/" + stamp + (n > 1 ? "_" + std::to_string(n) : std::string());
        // mkdir fails on a name that exists, so two recordings never share a folder.
        if (::mkdir(path.c_str(), 0777) == 0) {
            path_ = path;
            copies_.clear();
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot make the folder \"" + path + "\": " + std::strerror(errno);
            return false;
        }
    }
    error = "cannot make a new folder in \"" + root + "\"";
    return false;
}

std::optional<std::string> TPerformanceFolder::AddCopy(const std::string& originalPath,
                                                       const std::string& bytes,
                                                       const char* fallbackName,
                                                       std::string& error) {
    const std::string base = SafeName(originalPath, fallbackName);
    for (const TCopy& copy : copies_) {
        if (copy.Base == base && copy.Bytes == bytes) {
            return copy.Name;
        }
    }
    std::string name = base;
    for (int n = 2;; ++n) {
        // Never one of the take's own files (a scale named performance.wav once overwrote the
        // sound being recorded), another copy, or anything else already there.
        bool taken = name == PerformanceWavName || name == PerformanceScriptName ||
                     name == PerformanceInfoName;
        for (const TCopy& copy : copies_) {
            taken = taken || copy.Name == name;
        }
        std::error_code ec;
        taken = taken || fs::symlink_status(File(name), ec).type() != fs::file_type::not_found;
        if (taken && n > 10000) {
            error = "no free name for a copy of \"" + base + "\" in \"" + path_ + "\"";
            return std::nullopt;
        }
        if (!taken) {
            break;
        }
        const fs::path p(base);
        name = p.stem().string() + "-" + std::to_string(n) + p.extension().string();
    }
    if (!WriteBytes(File(name), bytes, error)) {
        return std::nullopt;
    }
    copies_.push_back({base, name, bytes});
    return name;
}

std::optional<std::string> TPerformanceFolder::AddScale(const std::string& originalPath,
                                                        const std::vector<std::string>& lines,
                                                        std::string& error) {
    std::string bytes;
    for (const std::string& l : lines) {
        bytes += l;
        bytes += '\n';
    }
    return AddCopy(originalPath, bytes, "scale.scl", error);
}

std::optional<std::string> TPerformanceFolder::AddModes(const std::string& originalPath,
                                                        const std::vector<float>& ratios,
                                                        const std::vector<float>& levels,
                                                        std::string& error) {
    std::optional<std::string> bytes;
    if (!originalPath.empty()) {
        bytes = ReadFileCapped(originalPath, MaxPlayerFileBytes);
        if (bytes) {
            const ModeFile now = ParseModeText(*bytes);
            if (now.Ratios != ratios || now.Levels != levels) {
                bytes.reset(); // changed since it was read: the modes in use are what counts
            }
        }
    }
    if (!bytes) {
        bytes.emplace();
        for (size_t i = 0; i < ratios.size() && i < levels.size(); ++i) {
            *bytes += Number(ratios[i]) + ", " + Number(levels[i]) + "\n";
        }
    }
    return AddCopy(originalPath, *bytes, "modes.vmod", error);
}

bool TPerformanceFolder::WriteInfo(const TPerformanceInfo& info, std::string& error) const {
    TIniFile ini;
    ini.WriteString(Section, "SampleRate", Number(info.SampleRate));
    ini.WriteString(Section, "BlockSize", std::to_string(info.BlockSize));
    ini.WriteString(Section, "Started", info.Started);
    ini.WriteString(Section, "Frames", std::to_string(info.Frames));
    ini.WriteString(Section, "DroppedBlocks", std::to_string(info.DroppedBlocks));
    ini.WriteString(Section, "LateBlocks", std::to_string(info.LateBlocks));
    ini.WriteBool(Section, "Complete", info.Complete);
    ini.WriteBool(SoundSection, "StereoSeparation", info.StereoSeparation);
    ini.WriteBool(SoundSection, "Paint2Rows", info.Paint2Rows);
    ini.WriteBool(SoundSection, "InterpolateDelays", info.InterpolateDelays);
    ini.WriteInteger(SoundSection, "Resonance", info.ResonanceFader);
    ini.WriteInteger(SoundSection, "MasterLevel", info.MasterLevel);
    ini.WriteBool(SoundSection, "Limiter", info.Limiter);
    if (!ini.Save(File(PerformanceInfoName))) {
        error = "cannot write \"" + File(PerformanceInfoName) + "\"";
        return false;
    }
    return true;
}

namespace {
constexpr const char* ReserveName = ".reserve";
constexpr off_t ReserveBytes = 64 * 1024;
} // namespace

void TPerformanceFolder::Reserve() {
    const std::string path = File(ReserveName);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    // Blocks really taken, not a sparse hole a full disk would never give back.
    reserved_ = ::posix_fallocate(fd, 0, ReserveBytes) == 0;
    ::close(fd);
    if (!reserved_) {
        ::unlink(path.c_str());
    }
}

void TPerformanceFolder::ReleaseReserve() {
    if (reserved_) {
        ::unlink(File(ReserveName).c_str());
        reserved_ = false;
    }
}

bool TPerformanceFolder::ReadInfo(TPerformanceInfo& info, std::string& error) const {
    TIniFile ini;
    if (ini.Load(File(PerformanceInfoName)) != TIniFile::TLoadResult::Loaded) {
        error = "cannot read \"" + File(PerformanceInfoName) + "\"";
        return false;
    }
    // Held to what the command line and the window take: a take of 1e6 Hz or of 65536-sample
    // blocks once re-rendered as silence, one of 1-sample blocks twenty times slower.
    const auto refuse = [&](const char* key, const std::string& value, const char* range) {
        error = File(PerformanceInfoName) + ": " + key + "=" + value + " must be " + range;
        return false;
    };
    if (const auto rate = ini.ReadString(Section, "SampleRate")) {
        double v = 0;
        const auto [p, ec] = std::from_chars(rate->data(), rate->data() + rate->size(), v);
        if (ec != std::errc() || !(v >= MinTakeRate && v <= MaxTakeRate)) {
            return refuse("SampleRate", *rate, "a sample rate from 8000 to 384000");
        }
        info.SampleRate = v;
    }
    if (const auto block = ini.ReadString(Section, "BlockSize")) {
        const int32_t v = ini.ReadInteger(Section, "BlockSize", 0);
        if (v < MinTakeBlock || v > MaxTakeBlock) {
            return refuse("BlockSize", *block, "a whole number from 16 to 8192");
        }
        info.BlockSize = static_cast<uint32_t>(v);
    }
    info.Started = ini.ReadString(Section, "Started").value_or("");
    info.Frames = ReadCount(ini, "Frames");
    // A day at the recorded rate, as long as a script may last: one take asked for 6 million
    // years.
    if (static_cast<double>(info.Frames) > MaxTakeSeconds * info.SampleRate) {
        return refuse("Frames", std::to_string(info.Frames), "at most a day of samples");
    }
    info.DroppedBlocks = ReadCount(ini, "DroppedBlocks");
    info.LateBlocks = ReadCount(ini, "LateBlocks");
    info.Complete = ini.ReadBool(Section, "Complete", false);
    info.StereoSeparation = ini.ReadBool(SoundSection, "StereoSeparation", true);
    info.Paint2Rows = ini.ReadBool(SoundSection, "Paint2Rows", false);
    info.InterpolateDelays = ini.ReadBool(SoundSection, "InterpolateDelays", false);
    info.ResonanceFader = ini.ReadInteger(SoundSection, "Resonance", 10);
    info.MasterLevel = ini.ReadInteger(SoundSection, "MasterLevel", 20);
    info.Limiter = ini.ReadBool(SoundSection, "Limiter", false);
    return true;
}

} // namespace varko
