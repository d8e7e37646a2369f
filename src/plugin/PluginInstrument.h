// The instrument as a plugin sees it, with no plugin framework in it: parameters, the scale's
// and mode file's texts, a bank that plays on the host's thread and the rebuilds that replace it
// off that thread. The host's process call renders in segments split at each event's frame, so
// that events sound at their own sample and nothing waits a block.
#pragma once

#include "instrument/MidiPlaying.h"
#include "instrument/OscillatorTones.h"

#include "core/SpscRing.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

namespace varko {

// What the host can set, in the order it lists them; Status is the plugin's own output.
enum class TPluginParam : uint32_t {
    Resonance,        // resonance fader position 0..200 (0 rings longest)
    Master,           // master fader position 0..200 (20: unity gain, 0 loudest)
    Stereo,           // 0/1: pan the tones from left (lowest) to right
    Ends,             // 1 free, 2 one end fixed, 3 hinged
    ModeLimit,        // 1..100 modes per tone
    ModeWeighting,    // 0..11
    Interpolate,      // 0/1: fractional-length delay lines
    RepeatDown,       // 0..10 octaves below the scale
    RepeatUp,         // 0..10 octaves above
    InitialFrequency, // hertz of the scale's 1/1
    ReferenceNote,    // MIDI note of the scale's 1/1
    Mpe,              // 0/1: an MPE lower zone
    Status,           // output: a TPluginStatus
    Count
};

struct TPluginParamInfo {
    const char* Symbol; // stable: hosts store parameters under it
    const char* Name;
    float Min, Max, Default;
    bool Integer, Boolean, Output;
    bool Rebuilds; // a change builds the bank anew
};
extern const std::array<TPluginParamInfo, static_cast<size_t>(TPluginParam::Count)> PluginParams;

// What the last file or rebuild came to; the host shows it as the Status output.
enum class TPluginStatus : int {
    Ready = 0,
    ScaleUnreadable, // the scale file could not be read: the last bank plays on
    ScaleUnusable,   // it holds no pitch: the last bank plays on
    ModesUnreadable, // the mode file could not be read: the last bank plays on
    ModesUnusable,   // it holds no mode: the last bank plays on
    BankTooLarge,    // the bank would take too much memory: the last bank plays on
    Warning,         // built, but the scale or mode file has faulty lines, or a tone is silent
};
const char* PluginStatusText(TPluginStatus status);

// One MIDI message at a frame of the block being processed.
struct TPluginEvent {
    uint32_t Frame = 0;
    uint32_t Size = 0;
    uint8_t Data[3] = {};
};

struct TPluginBank;

class TPluginInstrument {
public:
    // Samples per tone block: segments never span more.
    static constexpr uint32_t BankBlock = 256;
    // The noise of tone i starts from Seed + i, as the render tool's does by default.
    static constexpr uint32_t Seed = 1;
    // The scale a fresh instance plays before any file is chosen.
    static const char* const DefaultScaleText;

    // Builds the default bank at once: a fresh instance sounds at its first block.
    explicit TPluginInstrument(double sampleRate);
    ~TPluginInstrument();
    TPluginInstrument(const TPluginInstrument&) = delete;
    TPluginInstrument& operator=(const TPluginInstrument&) = delete;

    // Any thread, the host's process thread included (a store and, for a value that rebuilds,
    // a wake-up of the rebuild thread). The value is held to the parameter's range.
    void SetParameter(uint32_t index, float value);
    float Parameter(uint32_t index) const;

    // ---- Files (any thread but the process thread; may read files and wait)

    // A file chosen by the player: read and, when usable, kept as text and built. False (the
    // last bank plays on, Status says why) when it cannot be read or holds nothing usable.
    bool ChooseScaleFile(const std::string& path);
    bool ChooseModeFile(const std::string& path);
    // A saved text (a session's state); empty mode text: the uniform bar.
    bool SetScaleText(const std::string& text, const std::string& path);
    bool SetModeText(const std::string& text, const std::string& path);
    std::string ScaleText() const;
    std::string ScalePath() const;
    std::string ModeText() const;
    std::string ModePath() const;
    std::string StatusText() const;

    // ---- The host's life cycle (not the process thread)

    // A new rate (22.05 .. 192 kHz), with the plugin inactive: the bank is built for it.
    void SetSampleRate(double rate);
    // Before the first process call after a pause: waits for rebuilds under way and takes the
    // newest bank, so that the first block plays what the settings say.
    void Activate();
    // Waits until every rebuild asked for has been built (tests, state loading).
    void WaitForRebuilds();

    // ---- The host's process thread

    // frames (any number) of stereo output, the events (sorted by frame) applied at their own
    // frames. Never allocates, locks, reads a file or waits.
    void Process(float* left, float* right, uint32_t frames, const TPluginEvent* events,
                 uint32_t count);

    // The bank playing (process thread, or any thread while no process call runs).
    int ToneCount() const;
    // Banks built since the instance was made (the first included).
    uint64_t BanksBuilt() const { return banksBuilt_.load(); }
    // Banks the process thread has swapped in.
    uint64_t BanksSwapped() const { return banksSwapped_.load(); }

private:
    struct TFiles {
        std::string ScaleText, ScalePath, ModeText, ModePath;
    };
    bool UseScale(const std::string& text, const std::string& path, bool readFailed);
    bool UseModes(const std::string& text, const std::string& path, bool readFailed);
    void SetStatus(TPluginStatus status, const std::string& detail);
    // Builds a bank from the parameters and files now; nullptr, with the status said, when it
    // cannot be built.
    std::unique_ptr<TPluginBank> Build();
    void Publish(std::unique_ptr<TPluginBank> bank);
    void RequestRebuild();
    // Wakes the rebuild thread (any thread; from the process thread a futex wake at most).
    void Wake();
    void RebuildLoop();
    void FreeRetired();
    // Process thread: takes a bank the rebuild thread has published; held keys strike anew.
    void SwapIn();
    void ApplyPlayingParameters();
    void Deliver(const TPluginEvent& e);
    void RememberEvent(const uint8_t* d, uint32_t size);
    void ReplayHeld();

    std::array<std::atomic<float>, static_cast<size_t>(TPluginParam::Count)> params_{};
    std::atomic<double> sampleRate_{48000.0};

    // The files and the status text: any thread but the process thread.
    mutable std::mutex filesMutex_;
    TFiles files_;
    std::string statusText_;
    // Serialises builds: a file chosen on the host's thread and the rebuild thread's own.
    std::mutex buildMutex_;

    // The bank the process thread plays (its alone while it runs), the newest bank built and
    // not yet taken (rebuild thread writes, process thread takes), and banks swapped out,
    // freed by the rebuild thread.
    std::unique_ptr<TPluginBank> current_;
    std::atomic<TPluginBank*> pending_{nullptr};
    TSpscRing<TPluginBank*> retired_{16};
    std::atomic<uint64_t> banksBuilt_{0}, banksSwapped_{0};

    // Rebuilds asked for (any thread) and built (rebuild thread).
    std::atomic<uint64_t> rebuildsAsked_{0};
    uint64_t rebuildsDone_ = 0; // rebuild thread's; read under doneMutex_
    std::mutex doneMutex_;
    std::condition_variable doneChanged_;
    std::binary_semaphore wake_{0};
    std::atomic<bool> wakePosted_{false}; // a release is on its way: no second one
    std::atomic<bool> quit_{false};
    std::thread rebuilder_;

    // Process thread's: the samples played since activation and what the keys hold, so that
    // a new bank hears the keys still down.
    uint64_t position_ = 0;
    struct TChannelMemory {
        std::array<uint8_t, 128> Velocity{}; // 0: key up
        int Bend = -1, Pressure = -1, Wheel = -1, Slide = -1;
        bool Pedal = false;
    };
    std::array<TChannelMemory, 16> keys_{};
};

} // namespace varko
