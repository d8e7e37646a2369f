// Varko in the plugin framework: one source for LV2, CLAP and VST3. The framework calls the
// state functions off the audio thread (the LV2 worker for a file the player chooses, the
// host's main thread when a session loads); run is the host's process call.
#include "DistrhoPlugin.hpp"

#include "plugin/PluginInstrument.h"

#include <algorithm>
#include <cstring>
#include <memory>

START_NAMESPACE_DISTRHO

namespace {

using varko::TPluginInstrument;
using varko::TPluginParam;

// The files are kept twice: the path the host offers a file chooser for, and the text, so that
// a session opens on a machine without the file. A path comes before its text: when a session
// loads, the text saved wins over whatever the file holds there now.
enum : uint32_t { StateScale, StateScaleText, StateModes, StateModesText, StateCount };
constexpr const char* StateKeys[StateCount] = {"scale", "scale_text", "modes", "modes_text"};

class VarkoPlugin : public Plugin {
public:
    VarkoPlugin()
        : Plugin(static_cast<uint32_t>(TPluginParam::Count), 0, StateCount),
          instrument_(std::make_unique<TPluginInstrument>(getSampleRate())) {
        setLatency(0);
    }

protected:
    const char* getLabel() const override { return "Varko"; }
    const char* getDescription() const override {
        return "A playable physical-modelling instrument: banded-waveguide bars tuned to a "
               "microtonal scale, played from MIDI and MPE.";
    }
    const char* getMaker() const override { return "Varko"; }
    const char* getLicense() const override { return "Proprietary"; }
    uint32_t getVersion() const override { return d_version(1, 1, 0); }
    int64_t getUniqueId() const override { return d_cconst('V', 'r', 'k', 'o'); }

    void initParameter(uint32_t index, Parameter& p) override {
        if (index >= varko::PluginParams.size()) {
            return;
        }
        const varko::TPluginParamInfo& info = varko::PluginParams[index];
        p.symbol = info.Symbol;
        p.name = info.Name;
        p.ranges.min = info.Min;
        p.ranges.max = info.Max;
        p.ranges.def = info.Default;
        p.hints = info.Output ? kParameterIsOutput : kParameterIsAutomatable;
        if (info.Integer) {
            p.hints |= kParameterIsInteger;
        }
        if (info.Boolean) {
            p.hints |= kParameterIsBoolean;
        }
        if (index == static_cast<uint32_t>(TPluginParam::InitialFrequency)) {
            p.unit = "Hz";
            p.hints |= kParameterIsLogarithmic;
        }
        if (index == static_cast<uint32_t>(TPluginParam::Ends)) {
            // The framework frees the array with the parameter.
            auto* ends = new ParameterEnumerationValue[3];
            ends[0].value = 1.0f;
            ends[0].label = "Free";
            ends[1].value = 2.0f;
            ends[1].label = "One end fixed";
            ends[2].value = 3.0f;
            ends[2].label = "Hinged";
            p.enumValues.count = 3;
            p.enumValues.restrictedMode = true;
            p.enumValues.values = ends;
        }
        if (index == static_cast<uint32_t>(TPluginParam::Status)) {
            constexpr int Count = static_cast<int>(varko::TPluginStatus::Warning) + 1;
            auto* texts = new ParameterEnumerationValue[Count];
            for (int i = 0; i < Count; ++i) {
                texts[i].value = static_cast<float>(i);
                texts[i].label = varko::PluginStatusText(static_cast<varko::TPluginStatus>(i));
            }
            p.enumValues.count = Count;
            p.enumValues.restrictedMode = true;
            p.enumValues.values = texts;
        }
    }

    void initState(uint32_t index, State& s) override {
        s.key = StateKeys[index];
        switch (index) {
        case StateScale:
            s.hints = kStateIsFilenamePath;
            s.label = "Scale file (.scl)";
            s.description = "The Scala scale the bars are tuned to";
            break;
        case StateModes:
            s.hints = kStateIsFilenamePath;
            s.label = "Mode file";
            s.description = "The vibration modes of the object (none: the uniform bar)";
            break;
        case StateScaleText:
            s.hints = kStateIsOnlyForDSP;
            s.label = "Scale text";
            break;
        case StateModesText:
            s.hints = kStateIsOnlyForDSP;
            s.label = "Mode file text";
            break;
        default:
            break;
        }
    }

    float getParameterValue(uint32_t index) const override { return instrument_->Parameter(index); }
    void setParameterValue(uint32_t index, float value) override {
        instrument_->SetParameter(index, value);
    }

    String getState(const char* key) const override {
        const std::string k = key;
        if (k == StateKeys[StateScale]) {
            return String(instrument_->ScalePath().c_str());
        }
        if (k == StateKeys[StateScaleText]) {
            return String(instrument_->ScaleText().c_str());
        }
        if (k == StateKeys[StateModes]) {
            return String(instrument_->ModePath().c_str());
        }
        if (k == StateKeys[StateModesText]) {
            return String(instrument_->ModeText().c_str());
        }
        return String();
    }

    // An empty path saved in an LV2 session comes back as the session's own Turtle file: no file
    // was chosen.
    static bool NoFile(const std::string& path) {
        return path.empty() || (path.size() >= 4 && path.compare(path.size() - 4, 4, ".ttl") == 0);
    }

    void setState(const char* key, const char* value) override {
        const std::string k = key, v = value;
        if (k == StateKeys[StateScale]) {
            if (!NoFile(v)) {
                instrument_->ChooseScaleFile(v);
            }
        } else if (k == StateKeys[StateScaleText]) {
            instrument_->SetScaleText(v, instrument_->ScalePath());
        } else if (k == StateKeys[StateModes]) {
            if (!NoFile(v)) {
                instrument_->ChooseModeFile(v);
            }
        } else if (k == StateKeys[StateModesText]) {
            instrument_->SetModeText(v, instrument_->ModePath());
        }
    }

    void sampleRateChanged(double rate) override { instrument_->SetSampleRate(rate); }
    void activate() override { instrument_->Activate(); }

    void run(const float**, float** outputs, uint32_t frames, const MidiEvent* midi,
             uint32_t count) override {
        // The framework hands the events sorted; longer messages (SysEx) play no part.
        varko::TPluginEvent events[KMaxEvents];
        uint32_t done = 0;
        uint32_t start = 0;
        while (true) {
            uint32_t n = 0;
            for (; done < count && n < KMaxEvents; ++done) {
                if (midi[done].size > 3) {
                    continue;
                }
                varko::TPluginEvent& e = events[n++];
                e.Frame = midi[done].frame;
                e.Size = midi[done].size;
                std::memcpy(e.Data, midi[done].data, midi[done].size);
            }
            // A crowd of events beyond the array: the block is rendered up to the frame of the
            // next one, so that none is late.
            const uint32_t end = done < count ? std::min(frames, midi[done].frame) : frames;
            const uint32_t length = end > start ? end - start : 0;
            for (uint32_t i = 0; i < n; ++i) {
                events[i].Frame = events[i].Frame > start ? events[i].Frame - start : 0;
            }
            instrument_->Process(outputs[0] + start, outputs[1] + start, length, events, n);
            start += length;
            if (done >= count) {
                break;
            }
        }
    }

private:
    static constexpr uint32_t KMaxEvents = 512;
    std::unique_ptr<TPluginInstrument> instrument_;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(VarkoPlugin)
};

} // namespace

Plugin* createPlugin() {
    return new VarkoPlugin();
}

END_NAMESPACE_DISTRHO
