// The folder of one recorded performance: performance.wav (the sound), performance.txt (the
// gesture, a performance script stamped in samples), performance.ini (the settings that shape
// the sound and what the recording counted), and a copy of every scale and vibration mode file
// the gesture names.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace varko {

inline constexpr const char* PerformanceWavName = "performance.wav";
inline constexpr const char* PerformanceScriptName = "performance.txt";
inline constexpr const char* PerformanceInfoName = "performance.ini";

// What a take may say of itself: the command line's ranges, and a day at most.
inline constexpr double MinTakeRate = 8000.0, MaxTakeRate = 384000.0;
inline constexpr int32_t MinTakeBlock = 16, MaxTakeBlock = 8192;
inline constexpr double MaxTakeSeconds = 86400.0;

// performance.ini.
struct TPerformanceInfo {
    double SampleRate = 48000.0; // of the WAV and of the script's sample positions
    uint32_t BlockSize = 256;    // samples per block while recording
    std::string Started;         // local date and time, "2024-05-01 12:30:05"
    // At the start (the script repeats them as its first events).
    bool StereoSeparation = true;
    bool Paint2Rows = false;
    bool InterpolateDelays = false;
    int ResonanceFader = 10;
    int MasterLevel = 20;
    bool Limiter = false; // the master limiter was on
    // At the end.
    uint64_t Frames = 0;        // in performance.wav
    uint64_t DroppedBlocks = 0; // blocks the disk could not take (the recording stopped there)
    uint64_t LateBlocks = 0;    // blocks some tone was not ready for (the re-render differs there)
    bool Complete = false;      // the recording was ended and its files closed
};

class TPerformanceFolder {
public:
    // Creates a new folder under root (made when needed), named by the local date and time,
    // "2024-05-01_12-30-05", with "_2" and so on when that name is taken. False with the
    // system's reason when it cannot.
    bool Create(const std::string& root, std::time_t now, std::string& error);
    // An existing folder, for reading.
    void Use(const std::string& path) { path_ = path; }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // Writes a copy of a scale read from originalPath (its lines, as read) and returns its name
    // in the folder: the original's file name, made safe for a script, or the name of an equal
    // copy made before. Nothing with the reason when it cannot be written.
    std::optional<std::string> AddScale(const std::string& originalPath,
                                        const std::vector<std::string>& lines, std::string& error);
    // The same for a vibration mode file: the file as it is on disk when it still gives the modes
    // in use, else a file written from those modes.
    std::optional<std::string> AddModes(const std::string& originalPath,
                                        const std::vector<float>& ratios,
                                        const std::vector<float>& levels, std::string& error);

    bool WriteInfo(const TPerformanceInfo& info, std::string& error) const;

    // Room kept on the disk while a take records: a full disk ends the take, and freeing this
    // lets the last lines of the gesture and the ini's final counts still be written. Best
    // effort: a disk without the room records without it.
    void Reserve();
    void ReleaseReserve();
    // Reads performance.ini; missing keys keep their defaults. False when it cannot be read.
    bool ReadInfo(TPerformanceInfo& info, std::string& error) const;

private:
    std::optional<std::string> AddCopy(const std::string& originalPath, const std::string& bytes,
                                       const char* fallbackName, std::string& error);

    struct TCopy {
        std::string Base;  // the original's safe name
        std::string Name;  // in the folder
        std::string Bytes; // its contents
    };
    std::string path_;
    std::vector<TCopy> copies_;
    bool reserved_ = false;
};

} // namespace varko
