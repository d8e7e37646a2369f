#include "instrument/BankSetup.h"

#include "core/Texts.h"

#include <algorithm>
#include <cmath>

namespace varko {

TBankSetup::TBankSetup(TTell tell, TChanged changed)
    : tell_(std::move(tell)), changed_(std::move(changed)) {}

TPending TBankSetup::Mark(TPending work) {
    pending_ = static_cast<TPending>(pending_ | work);
    return work;
}

void TBankSetup::ToneListDone() {
    // New tones need a new bank.
    pending_ = static_cast<TPending>((pending_ & ~PendingToneList) | PendingBank);
}

void TBankSetup::BankBuilt(const TToneBankResult& r, uint64_t position) {
    pending_ = static_cast<TPending>(pending_ & ~PendingBank);
    lastRebuildPosition_ = position;
    if (!r.Abandoned) {
        noSoundWarning_ = r.WarnNoSound;
        if (r.ObjectDescription) {
            objectStatus_ = *r.ObjectDescription;
        }
    }
}

bool TBankSetup::ReadScale(const std::string& path) {
    ScalaFile file = ReadScalaFile(path);
    if (!file.Opened) {
        tell_(TInstrumentMessage::TKind::Error, text::ScaleNotOpened);
        return false;
    }
    UseScale(std::move(file), path);
    if (changed_) {
        changed_();
    }
    if (scale_.HasErrors) {
        tell_(TInstrumentMessage::TKind::Warning, text::ScaleErrors);
    }
    return true;
}

TPending TBankSetup::UseScale(ScalaFile scale, const std::string& path) {
    scale_ = std::move(scale);
    scalePath_ = path;
    return Mark(PendingToneList);
}

void TBankSetup::DropScale() {
    scale_ = ScalaFile{};
    scalePath_.clear();
    tones_.clear();
    Mark(PendingBank);
}

bool TBankSetup::ReadKeyboardMapping(const std::string& path) {
    if (path.empty()) {
        UseKeyboardMapping({}, {});
        return true;
    }
    KeyboardMapping kbm = varko::ReadKeyboardMapping(path);
    if (!kbm.Opened || !kbm.Usable) {
        std::string text =
            kbm.Opened ? text::KeyboardMappingUnusable : text::KeyboardMappingNotOpened;
        for (const KbmMessage& m : kbm.Messages) {
            text += "\n" + m.Text;
        }
        tell_(TInstrumentMessage::TKind::Error, text);
        return false;
    }
    if (!kbm.Messages.empty()) {
        std::string text = text::KeyboardMappingErrors;
        for (const KbmMessage& m : kbm.Messages) {
            text += "\n" + m.Text;
        }
        tell_(TInstrumentMessage::TKind::Warning, text);
    }
    UseKeyboardMapping(std::move(kbm), path);
    return true;
}

TPending TBankSetup::UseKeyboardMapping(KeyboardMapping kbm, const std::string& path) {
    kbm_ = std::move(kbm);
    kbmPath_ = path;
    return Mark(PendingToneList);
}

void TBankSetup::CalculateRepeats() {
    if (auto tones = varko::CalculateRepeats(scale_.Degrees, parameters_.RepeatDownCount,
                                             parameters_.RepeatUpCount, parameters_.RepeatEnds)) {
        tones_ = std::move(*tones);
        scaleStart_ = ScaleStartIndex(scale_.Degrees.size(), parameters_.RepeatDownCount,
                                      parameters_.RepeatEnds);
    }
    ToneListDone();
    const auto keys = KeyTones();
    if (!keys) {
        return;
    }
    // The mapping's reference frequency tunes the scale: the 1/1 follows from any key it gives
    // a bar.
    for (int key = 0; key < 128; ++key) {
        const int tone = (*keys)[static_cast<size_t>(key)];
        const auto hertz = MappedKeyFrequency(kbm_, scale_.Degrees, key);
        if (tone >= 0 && hertz && tones_[static_cast<size_t>(tone)] > 0.0f) {
            const float f = *hertz / tones_[static_cast<size_t>(tone)];
            if (std::isfinite(f) && f > 0.0f) {
                parameters_.InitialFrequency = f;
                return;
            }
        }
    }
    tell_(TInstrumentMessage::TKind::Warning, text::KeyboardMappingNoBars);
}

std::optional<std::array<int, 128>> TBankSetup::KeyTones() const {
    if (!kbm_.Usable || scale_.Degrees.size() < 2 || scaleStart_ < 0) {
        return std::nullopt;
    }
    const auto count = static_cast<int64_t>(scale_.Degrees.size() - 1);
    std::array<int, 128> keys{};
    for (int key = 0; key < 128; ++key) {
        int64_t tone = -1;
        if (const auto degree = MappedDegree(kbm_, static_cast<size_t>(count), key)) {
            if (parameters_.RepeatEnds) {
                // Every copy of the scale holds both its ends: count + 1 tones a period. A
                // degree on a copy's start is also the end of the copy below, for the top key.
                const int64_t period =
                    *degree >= 0 ? *degree / count : -((-*degree + count - 1) / count);
                const int64_t copy = period + parameters_.RepeatDownCount;
                tone = copy * (count + 1) + (*degree - period * count);
                if (tone >= static_cast<int64_t>(tones_.size()) && *degree == period * count &&
                    copy >= 1) {
                    tone = (copy - 1) * (count + 1) + count;
                }
            } else {
                tone = scaleStart_ + *degree;
            }
        }
        keys[static_cast<size_t>(key)] =
            tone >= 0 && tone < static_cast<int64_t>(tones_.size()) ? static_cast<int>(tone) : -1;
    }
    return keys;
}

std::vector<float> TBankSetup::BarRatios() const {
    const size_t n = std::min(tones_.size(), static_cast<size_t>(MaxTones));
    return {tones_.begin(), tones_.begin() + static_cast<std::ptrdiff_t>(n)};
}

namespace {

// Stores value and says what that leaves pending: nothing when it was there already.
template <typename T, typename U> TPending Store(T& field, U&& value, TPending work) {
    if (field == value) {
        return PendingNone;
    }
    field = std::forward<U>(value);
    return work;
}

} // namespace

TPending TBankSetup::SetParameters(const TBankParameters& p) {
    unsigned work = SetRepeatDownCount(p.RepeatDownCount) | SetRepeatUpCount(p.RepeatUpCount) |
                    SetRepeatEnds(p.RepeatEnds) | SetInitialFrequency(p.InitialFrequency) |
                    SetEnd(p.End) | SetModeWeighting(p.ModeWeighting) | SetModeLimit(p.ModeLimit);
    return static_cast<TPending>(work);
}

TPending TBankSetup::SetRepeatDownCount(int count) {
    return Mark(Store(parameters_.RepeatDownCount, count, PendingToneList));
}

TPending TBankSetup::SetRepeatUpCount(int count) {
    return Mark(Store(parameters_.RepeatUpCount, count, PendingToneList));
}

TPending TBankSetup::SetRepeatEnds(bool on) {
    return Mark(Store(parameters_.RepeatEnds, on, PendingToneList));
}

TPending TBankSetup::SetInitialFrequency(float hertz) {
    return Mark(Store(parameters_.InitialFrequency, hertz, PendingBank));
}

TPending TBankSetup::SetExternalObject(bool on) {
    return Mark(Store(externalObject_, on, PendingBank));
}

TPending TBankSetup::SetEnd(TEndType end) {
    return Mark(Store(parameters_.End, end, PendingBank));
}

TPending TBankSetup::SetModeWeighting(int weighting) {
    return Mark(Store(parameters_.ModeWeighting, weighting, PendingBank));
}

TPending TBankSetup::SetModeLimit(int limit) {
    return Mark(Store(parameters_.ModeLimit, limit, PendingBank));
}

TPending TBankSetup::SetSeed(std::optional<uint32_t> seed) {
    return Mark(Store(seed_, seed, PendingBank));
}

TPending TBankSetup::SetToneSeeds(std::vector<uint32_t> seeds) {
    return Mark(Store(toneSeeds_, std::move(seeds), PendingBank));
}

TPending TBankSetup::SetTimeCritical(bool on) {
    return Mark(Store(timeCritical_, on, PendingBank));
}

TPending TBankSetup::SetRenderingOverride(std::optional<TToneThreads> threads, int poolThreads) {
    const TPending a = Store(renderingOverride_, threads, PendingBank);
    const TPending b = Store(poolThreadsOverride_, poolThreads, PendingBank);
    return Mark(static_cast<TPending>(a | b));
}

TPending TBankSetup::SetMakeTone(std::function<std::unique_ptr<TTone>()> make) {
    // Functions do not compare: a new maker always counts.
    makeTone_ = std::move(make);
    return Mark(PendingBank);
}

TToneRendering TBankSetup::Rendering(const TVarkoSettings& settings) const {
    TToneRendering how;
    how.TimeCritical = timeCritical_;
    if (renderingOverride_) {
        how.Threads = *renderingOverride_;
        how.PoolThreads = poolThreadsOverride_;
    } else {
        how.Threads = settings.ToneThreadsPerCore ? TToneThreads::PerCore : TToneThreads::PerTone;
        how.PoolThreads = settings.PoolThreads;
    }
    return how;
}

void TBankSetup::FillInput(TToneBankInput& in) const {
    in.ToneRatios = tones_;
    in.InitialFrequency = parameters_.InitialFrequency;
    in.ExternalObject = externalObject_;
    in.End = parameters_.End;
    in.ModeWeighting = parameters_.ModeWeighting;
    in.ModeLimit = parameters_.ModeLimit;
    in.Seed = seed_;
    in.ToneSeeds = toneSeeds_;
    in.MakeTone = makeTone_;
}

} // namespace varko
