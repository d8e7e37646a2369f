#include "render/Renderer.h"

#include "core/Texts.h"
#include "engine/NullHost.h"
#include "files/ModeFile.h"
#include "files/SettingsFile.h"
#include "files/TextFile.h"
#include "files/ToneList.h"
#include "render/WavWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace varko {

namespace {

// Every float printed so that it reads back as the same 32-bit float.
std::string JsonFloat(float v) {
    if (!std::isfinite(v)) {
        return "null";
    }
    char buf[32];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, p) : "null";
}

std::string JsonFloats(const std::vector<float>& v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) {
        s += (i ? ", " : "") + JsonFloat(v[i]);
    }
    return s + "]";
}

// A JSON string; text that is not UTF-8 (Latin-1 scale files) is read as Latin-1.
std::string JsonString(const std::string& s) {
    const bool utf8 = IsValidUtf8(s);
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        char esc[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

} // namespace

bool TRenderSession::Prepare(const TRenderOptions& o, std::string& error) {
    Options = o;
    if (!o.Performance.empty()) {
        TPerformanceFolder folder;
        folder.Use(o.Performance);
        if (!folder.ReadInfo(Performance, error)) {
            return false;
        }
        if (!o.RateGiven) {
            Options.Rate = Performance.SampleRate;
        }
        if (!o.BlockGiven) {
            Options.Block = static_cast<int>(Performance.BlockSize);
        }
    }
    TInstrument& in = Instrument;
    in.Bank().SetInitialFrequency(static_cast<float>(o.InitialFrequency));
    in.Bank().SetRepeatDownCount(o.Down);
    in.Bank().SetRepeatUpCount(o.Up);
    in.Bank().SetRepeatEnds(o.RepeatEnds);
    in.Bank().SetExternalObject(!o.Modes.empty());
    in.Bank().SetEnd(static_cast<TEndType>(o.End));
    in.Bank().SetModeWeighting(o.Weighting);
    in.Bank().SetModeLimit(o.ModeLimit);
    in.Bank().SetSeed(o.Seed);
    in.Bank().SetTimeCritical(o.Play);
    // Offline, the calling thread renders every tone unless a pool is asked for; --play
    // renders as the window does, unless told otherwise.
    if (o.Threads > 0) {
        in.Bank().SetRenderingOverride(TToneThreads::PerCore, o.Threads);
    } else if (!o.Play) {
        in.Bank().SetRenderingOverride(TToneThreads::Inline);
    } else {
        TIniFile ini;
        if (ini.Load(SettingsFilePath()) == TIniFile::TLoadResult::Loaded) {
            const TVarkoSettings s = ReadSettings(ini);
            in.Settings().SetToneThreads(s.ToneThreadsPerCore, s.PoolThreads);
        }
    }
    in.Settings().SetInterpolateDelays(o.Interpolate);
    in.Settings().SetPaint2Rows(o.TwoRows);
    in.Settings().SetStereoSeparation(!o.Mono);
    in.Settings().SetMasterLevel(o.Master);
    // A performance sounds as it was recorded: through the limiter if it was on.
    in.Settings().SetLimiter(o.Performance.empty() ? o.Limit : Performance.Limiter || o.Limit);
    in.Playing().SetResonanceFader(o.Resonance);
    in.Settings().SetReferenceNote(o.ReferenceNote);
    in.OnMessage = [this](const TInstrumentMessage& m) { Warnings.push_back(m.Text); };
    if (!o.Performance.empty()) {
        return true; // its rebuilds read the scales and modes
    }
    bool failed = false;
    in.OnMessage = [&](const TInstrumentMessage& m) {
        if (m.Kind == TInstrumentMessage::TKind::Error) {
            failed = true;
            error = m.Text;
        } else {
            Warnings.push_back(m.Text);
        }
    };
    in.OpenScale(o.Scale);
    if (failed) {
        error += " (" + o.Scale + ")";
        return false;
    }
    if (!o.Kbm.empty()) {
        in.OpenKeyboardMapping(o.Kbm);
        if (failed) {
            error += " (" + o.Kbm + ")";
            return false;
        }
    }
    if (!o.Modes.empty()) {
        in.ModeFiles().Load(o.Modes);
        if (failed) {
            error += " (" + o.Modes + ")";
            return false;
        }
        if (in.ModeFiles().Warning()) {
            Warnings.emplace_back(text::WarnModeFile);
        }
    }
    in.OnMessage = [this](const TInstrumentMessage& m) { Warnings.push_back(m.Text); };
    return true;
}

bool TRenderSession::Build(std::unique_ptr<IAudioHost> host, std::string& error,
                           TOwnerDispatcher dispatch) {
    Instrument.AttachHost(std::move(host), std::move(dispatch));
    if (!Options.Performance.empty()) {
        return true;
    }
    // An error told while building (a bank too large) ends the run instead of warning.
    std::string told;
    const auto onMessage = Instrument.OnMessage;
    Instrument.OnMessage = [&](const TInstrumentMessage& m) {
        if (m.Kind == TInstrumentMessage::TKind::Error) {
            told = m.Text;
        } else {
            Warnings.push_back(m.Text);
        }
    };
    const TToneBankResult r = Instrument.RefreshTones();
    Instrument.OnMessage = onMessage;
    if (r.WarnNoSound) {
        Warnings.emplace_back(text::WarnNoSound);
    }
    if (r.WarnModeFile) {
        Warnings.emplace_back(text::WarnModeFile);
    }
    if (r.Abandoned) {
        error = "an oscillator failed while building its bands: " + r.CrashText;
        return false;
    }
    if (r.TooLarge) {
        error = told;
        return false;
    }
    Zone = TToneZoneGeometry(r.BuiltTones, Options.ZoneWidth, Options.ZoneHeight, Options.TwoRows);
    return true;
}

TGesturePlayer TRenderSession::MakePlayer(const TGestureScript& script) {
    const bool performance = !Options.Performance.empty();
    TGesturePlayer player(Instrument, script, performance ? Performance.SampleRate : Options.Rate,
                          Options.Performance);
    player.ForceInterpolation = Options.ForceInterpolate;
    // The zone follows the bank, which a performance's rebuilds change.
    player.Zone = [this] {
        Zone = TToneZoneGeometry(Instrument.ToneTarget().ToneCount(), Options.ZoneWidth,
                                 Options.ZoneHeight, Instrument.Settings().Stored().Paint2Rows);
        return Zone;
    };
    return player;
}

std::optional<double> TRenderSession::RecordedSeconds() const {
    if (!Options.Performance.empty() && Performance.Frames > 0) {
        return static_cast<double>(Performance.Frames) / Performance.SampleRate;
    }
    return std::nullopt;
}

double TRenderSession::LastEventSeconds(const TGestureScript& script) const {
    const double rate = Options.Performance.empty() ? Options.Rate : Performance.SampleRate;
    return std::max(script.EndTime(), static_cast<double>(script.EndSample()) / rate);
}

bool TRenderSession::RenderOffline(const TGestureScript& script, double seconds,
                                   const std::function<bool(const float*, size_t)>& onFrames,
                                   const std::function<void(double)>& onProgress,
                                   std::string& error, TTailEnd* tail) {
    TAudioEngine& engine = Engine();
    const double rate = engine.Host().SampleRate();
    const size_t block = engine.Host().BufferSize();
    const auto total = static_cast<size_t>(std::llround(seconds * rate));
    TArrayOfSingleArray out(2, TSingleArray(block, 0.0f));
    std::vector<float> frames(block * 2);
    TGesturePlayer player = MakePlayer(script);
    size_t done = 0;
    // A rebuild on the way may leave tones without a band or the mode file unusable: the
    // window shows it beside the status bar, the render tool says it once.
    bool warnedNoSound = Instrument.Bank().NoSoundWarning(),
         warnedModeFile = Instrument.ModeFiles().Warning();
    while (done < total) {
        // Every oscillator has finished its block: events land between two blocks, as a
        // device's would, and the result does not depend on thread timing.
        engine.WaitForOscillators();
        if (!player.PlayUntil(engine.SamplePosition.load(), error)) {
            return false;
        }
        if (Instrument.Bank().NoSoundWarning() && !warnedNoSound) {
            warnedNoSound = true;
            Warnings.emplace_back(text::WarnNoSound);
        }
        if (Instrument.ModeFiles().Warning() && !warnedModeFile) {
            warnedModeFile = true;
            Warnings.emplace_back(text::WarnModeFile);
        }
        // The strikes brought up to the start of the block the tones render next, where their
        // changes are heard: a strike decays from its own sample on.
        Tick(static_cast<double>(done + block) / rate);
        engine.RenderOffline(out);
        const size_t n = std::min(block, total - done);
        float peak = 0.0f;
        for (size_t i = 0; i < n; ++i) {
            frames[2 * i] = out[0][i];
            frames[2 * i + 1] = out[1][i];
            peak = std::max({peak, std::fabs(out[0][i]), std::fabs(out[1][i])});
        }
        if (!onFrames(frames.data(), n)) {
            error = "cannot write the output file";
            return false;
        }
        done += n;
        if (onProgress) {
            onProgress(static_cast<double>(done) / rate);
        }
        if (tail != nullptr && tail->Over(static_cast<double>(done) / rate, peak)) {
            break;
        }
    }
    engine.WaitForOscillators();
    return true;
}

std::string TRenderSession::TonesJson() const {
    const TToneBankInput in = Instrument.BankInput();
    const float fs = static_cast<float>(Options.Rate);
    const ScalaFile& scale = Instrument.Bank().Scale();
    std::string s = "{\n  \"description\": " + JsonString(scale.Description) + ",\n";
    s += "  \"degrees\": " + JsonFloats(scale.Degrees) + ",\n";
    s += "  \"tones\": " + JsonFloats(in.ToneRatios) + ",\n";
    std::vector<float> freqs;
    for (const float r : in.ToneRatios) {
        freqs.push_back(r * in.InitialFrequency);
    }
    s += "  \"frequencies\": " + JsonFloats(freqs) + ",\n  \"bands\": [";
    const size_t count = std::min<size_t>(in.ToneRatios.size(), MaxTones);
    for (size_t t = 0; t < count; ++t) {
        const float f0 = freqs[t];
        const TToneModes modes = ModesOfTone(in, f0, fs);
        // The bands the oscillator really builds, matched back to the modes they came from.
        TWaveguideBands bands;
        bands.Build(f0, fs, modes.EndType, in.InterpolateDelays, modes.Ratios, modes.Gains, 0.0f,
                    1);
        std::vector<float> ratios, gains;
        size_t m = 0;
        for (const auto& filter : bands.Filters) {
            while (m < modes.Ratios.size() && modes.Ratios[m] * f0 != filter.Frequency) {
                ++m;
            }
            if (m < modes.Ratios.size()) {
                ratios.push_back(modes.Ratios[m]);
                gains.push_back(modes.Gains[m]);
                ++m;
            }
        }
        s += std::string(t ? ",\n    " : "\n    ") + "{\"ratios\": " + JsonFloats(ratios) +
             ", \"gains\": " + JsonFloats(gains) + "}";
    }
    s += count ? "\n  ]\n}\n" : "]\n}\n";
    return s;
}

} // namespace varko
