#include "instrument/RecordingSession.h"

#include "instrument/BankSetup.h"
#include "instrument/ModeFiles.h"

#include <cmath>
#include <ctime>

namespace varko {

namespace {

std::string LocalTime(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return stamp;
}

} // namespace

double TRecordingSession::RecordedSeconds() const {
    return recorder_.Recording() && info_.SampleRate > 0.0
               ? static_cast<double>(recorder_.Frames()) / info_.SampleRate
               : 0.0;
}

bool TRecordingSession::Begin(const std::string& root, TAudioEngine& engine,
                              const TVarkoSettings& settings, float resonanceFader,
                              bool& wasRunning, std::string& error) {
    wasRunning = false;
    const std::time_t now = std::time(nullptr);
    if (!folder_.Create(root, now, error)) {
        return false;
    }
    wasRunning = engine.Running.load();
    if (wasRunning) {
        engine.Stop();
    }
    const IAudioHost& host = engine.Host();
    info_ = TPerformanceInfo{};
    info_.SampleRate = host.SampleRate();
    info_.BlockSize = host.BufferSize();
    info_.Started = LocalTime(now);
    info_.StereoSeparation = settings.StereoSeparation;
    info_.Paint2Rows = settings.Paint2Rows;
    info_.InterpolateDelays = settings.InterpolateDelays;
    info_.ResonanceFader = resonanceFader;
    info_.MasterLevel = settings.MasterLevel;
    info_.Limiter = settings.Limiter;
    // A re-render starts with an empty limiter; so does the recording (the audio is stopped).
    engine.Limiter.Reset();
    const std::string header = "# Varko performance, recorded " + info_.Started +
                               "\n# @N: sample N at " +
                               std::to_string(std::lround(info_.SampleRate)) +
                               " Hz, where the event is heard; blocks of " +
                               std::to_string(info_.BlockSize) + " samples\n";
    const uint64_t position = engine.SamplePosition.load();
    if (!folder_.WriteInfo(info_, error) ||
        !recorder_.Begin(folder_.File(PerformanceWavName), folder_.File(PerformanceScriptName),
                         info_.SampleRate, position, header, error)) {
        if (wasRunning) {
            engine.Start();
        }
        return false;
    }
    folder_.Reserve();

    // The state the gesture starts from.
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Stereo;
    e.Stereo = settings.StereoSeparation;
    e.TwoRows = settings.Paint2Rows;
    recorder_.Log(position, e, nullptr);
    e.Kind = TGestureEvent::TKind::Master;
    e.Position = settings.MasterLevel;
    recorder_.Log(position, e, nullptr);
    e.Kind = TGestureEvent::TKind::Fader;
    e.Position = resonanceFader;
    recorder_.Log(position, e, nullptr);
    return true;
}

TRecordingResult TRecordingSession::End() {
    if (!recorder_.Recording()) {
        return {};
    }
    folder_.ReleaseReserve();
    TRecordingResult r = recorder_.End();
    info_.Frames = r.Frames;
    info_.DroppedBlocks = r.DroppedBlocks;
    info_.LateBlocks = r.LateBlocks;
    info_.Complete = true;
    std::string error;
    if (!folder_.WriteInfo(info_, error) && r.Ok) {
        r.Ok = false;
        r.Error = error;
    }
    return r;
}

TRecordingSession::TLogFault
TRecordingSession::LogRebuild(TAudioEngine& engine, const TToneBankInput& in,
                              const TBankSetup& bank, const TModeFiles& modes, std::string& error) {
    if (!recorder_.Recording()) {
        return TLogFault::None;
    }
    const IAudioHost& host = engine.Host();
    // Sample positions and the WAV hold one rate and one block size.
    if (host.SampleRate() != info_.SampleRate || host.BufferSize() != info_.BlockSize) {
        return TLogFault::DeviceChanged;
    }
    TGestureRebuild r;
    if (!bank.Scale().Lines.empty()) {
        const auto name = folder_.AddScale(bank.ScalePath(), bank.Scale().Lines, error);
        if (!name) {
            return TLogFault::WriteFailed;
        }
        r.Scale = *name;
    } else {
        r.Scale = "-";
    }
    if (in.ExternalObject) {
        const auto name =
            folder_.AddModes(modes.SelectedPath(), in.ModeRatios, in.ModeLevels, error);
        if (!name) {
            return TLogFault::WriteFailed;
        }
        r.Modes = *name;
    }
    r.InitialFrequency = in.InitialFrequency;
    r.Down = bank.RepeatDownCount();
    r.Up = bank.RepeatUpCount();
    r.RepeatEnds = bank.RepeatEnds();
    r.End = static_cast<int>(in.End);
    r.Weighting = in.ModeWeighting;
    r.ModeLimit = in.ModeLimit;
    r.Interpolate = in.InterpolateDelays;
    for (const auto& osc : engine.Oscillators) {
        r.Seeds.push_back(osc->NoiseSeed);
    }
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Rebuild;
    recorder_.Log(engine.SamplePosition.load(), e, &r);
    return TLogFault::None;
}

} // namespace varko
