// The tones and what their bank is built from: the scale and its keyboard mapping, the tone
// list with its repeats, and the bank's parameters. Owner's thread only: the bank's threads
// get copies through the bank input.
//
// Every setter says what it leaves pending: the tone list (its inputs changed) or the bank
// (something it is built from changed). The owner's ApplyPending does exactly that work.
#pragma once

#include "engine/ToneBank.h"
#include "files/KeyboardMapping.h"
#include "files/ScalaFile.h"
#include "files/SettingsFile.h"
#include "files/ToneList.h"
#include "instrument/InstrumentMessage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varko {

// Work a change leaves for the next apply, as bits.
enum TPending : unsigned {
    PendingNone = 0,
    PendingToneList = 1, // the tone list from the scale, the repeats and the mapping
    PendingBank = 2,     // the bank from the tone list and the parameters
    PendingAll = PendingToneList | PendingBank,
};

// The parameters a bank is built from that a session and a take store and read back: the
// repeats and the bank's own settings, without the scale, the mapping and the mode file.
struct TBankParameters {
    float InitialFrequency = DefaultInitialFrequency;
    int RepeatDownCount = 0;
    int RepeatUpCount = 0;
    bool RepeatEnds = false;
    TEndType End = TEndType::Free;
    int ModeWeighting = 6; // 0..11
    int ModeLimit = 8;     // at least 1
};

class TBankSetup {
public:
    TBankSetup(TTell tell, TChanged changed);
    TBankSetup(const TBankSetup&) = delete;
    TBankSetup& operator=(const TBankSetup&) = delete;

    // ---- The scale and the keyboard mapping

    const ScalaFile& Scale() const { return scale_; } // the open scale (raw lines, description)
    const std::string& ScalePath() const { return scalePath_; } // where it was read from
    // Reads a scale (Error when it cannot be opened: the previous scale stays; Warning when
    // it holds errors).
    bool ReadScale(const std::string& path);
    // A scale read elsewhere (a recorded take's); none: no scale and no tones.
    TPending UseScale(ScalaFile scale, const std::string& path);
    void DropScale();

    // The Scala keyboard mapping beside the scale (Usable false: none, one key per bar from the
    // reference note). Its reference key and frequency set the initial frequency.
    const KeyboardMapping& Kbm() const { return kbm_; }
    const std::string& KbmPath() const { return kbmPath_; }
    // Reads a .kbm (Error when it cannot be opened or used: the previous mapping stays;
    // Warning naming each faulty line). "" drops it.
    bool ReadKeyboardMapping(const std::string& path);
    TPending UseKeyboardMapping(KeyboardMapping kbm, const std::string& path);

    // ---- The tone list

    const ToneRatios& Tones() const { return tones_; }
    // The tone list from the degrees and the repeats; unchanged without degrees. With a
    // keyboard mapping, also the initial frequency it gives (a Warning when it gives no bar).
    void CalculateRepeats();
    // The tone each key 0..127 plays under the mapping (-1: none); nothing without a usable
    // mapping or scale.
    std::optional<std::array<int, 128>> KeyTones() const;
    // The tones that get a bar: the tone list up to the bank's cap.
    std::vector<float> BarRatios() const;
    // The tone of the scale's 1/1 in the tone list (-1 before the first scale).
    int ScaleStart() const { return scaleStart_; }

    int RepeatDownCount() const { return parameters_.RepeatDownCount; }
    int RepeatUpCount() const { return parameters_.RepeatUpCount; }
    bool RepeatEnds() const { return parameters_.RepeatEnds; }
    TPending SetRepeatDownCount(int count);
    TPending SetRepeatUpCount(int count);
    TPending SetRepeatEnds(bool on);

    // ---- The bank's parameters

    // The stored ones together; setting them leaves pending what the single setters would.
    const TBankParameters& Parameters() const { return parameters_; }
    TPending SetParameters(const TBankParameters& parameters);

    float InitialFrequency() const { return parameters_.InitialFrequency; }
    TPending SetInitialFrequency(float hertz);
    bool ExternalObject() const {
        return externalObject_;
    } // modes from the mode file, not the uniform bar
    TPending SetExternalObject(bool on);
    TEndType End() const { return parameters_.End; }
    TPending SetEnd(TEndType end);
    int ModeWeighting() const { return parameters_.ModeWeighting; } // 0..11
    TPending SetModeWeighting(int weighting);
    int ModeLimit() const { return parameters_.ModeLimit; } // at least 1
    TPending SetModeLimit(int limit);
    // Tone i's noise starts from seed + i; none: from the clock (the window).
    const std::optional<uint32_t>& Seed() const { return seed_; }
    TPending SetSeed(std::optional<uint32_t> seed);
    // Tone i's seed where listed (a recorded performance's), before the seed.
    const std::vector<uint32_t>& ToneSeeds() const { return toneSeeds_; }
    TPending SetToneSeeds(std::vector<uint32_t> seeds);
    // The tones' threads at real-time priority where allowed.
    TPending SetTimeCritical(bool on);
    // Who renders the tones, when not the settings' choice (a thread per tone or a pool): the
    // render tool renders inline, or on a pool of its own size (0 one thread per core).
    TPending SetRenderingOverride(std::optional<TToneThreads> threads, int poolThreads = 0);
    // How the next bank is rendered, with the settings' choice where nothing overrides it.
    TToneRendering Rendering(const TVarkoSettings& settings) const;
    // Makes each tone; none: a plain TTone (tests supply their own).
    TPending SetMakeTone(std::function<std::unique_ptr<TTone>()> make);

    // The parts of the bank input above.
    void FillInput(TToneBankInput& in) const;

    // ---- What is pending, and what the bank built last says

    TPending Pending() const { return pending_; }
    TPending Mark(TPending work);
    // The tone list was calculated; the bank was built.
    void ToneListDone();
    void BankBuilt(const TToneBankResult& r, uint64_t position);
    void BankBuilding() { noSoundWarning_ = false; }

    // The engine position where the bank built last plays its first sample.
    uint64_t LastRebuildPosition() const { return lastRebuildPosition_; }
    bool NoSoundWarning() const { return noSoundWarning_; }           // some tone has no band
    const std::string& ObjectStatus() const { return objectStatus_; } // the last bank's object

private:
    TTell tell_;
    TChanged changed_;
    ScalaFile scale_;
    std::string scalePath_;
    KeyboardMapping kbm_;
    std::string kbmPath_;
    ToneRatios tones_;
    int scaleStart_ = -1;
    TBankParameters parameters_;
    bool externalObject_ = false;
    std::optional<uint32_t> seed_;
    std::vector<uint32_t> toneSeeds_;
    bool timeCritical_ = true;
    std::optional<TToneThreads> renderingOverride_;
    int poolThreadsOverride_ = 0;
    std::function<std::unique_ptr<TTone>()> makeTone_;
    TPending pending_ = PendingNone;
    uint64_t lastRebuildPosition_ = 0;
    bool noSoundWarning_ = false;
    std::string objectStatus_;
};

} // namespace varko
