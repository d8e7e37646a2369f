// Recording the instrument's performance into a folder, and building a recorded bank again.
#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "engine/FaderLaws.h"
#include "files/ModeFile.h"
#include "files/ScalaFile.h"

#include <cmath>
#include <ctime>
#include <filesystem>

namespace varko {

namespace {

std::string Fill(std::string s, const std::string& one, const std::string& two = {}) {
    for (const auto& [what, with] : {std::pair{std::string("%1"), one}, {"%2", two}}) {
        for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size())) {
            s.replace(p, what.size(), with);
        }
    }
    return s;
}

std::string LocalTime(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return stamp;
}

} // namespace

bool TInstrument::StartRecording(const std::string& root) {
    if (!engine_ || recorder_.Recording()) {
        return false;
    }
    const std::time_t now = std::time(nullptr);
    std::string error;
    if (!folder_.Create(root, now, error)) {
        Tell(TInstrumentMessage::TKind::Error, Fill(text::RecordingNotStarted, error));
        return false;
    }
    const bool wasRunning = engine_->Running.load();
    if (wasRunning) {
        engine_->Stop();
    }
    const IAudioHost& host = engine_->Host();
    info_ = TPerformanceInfo{};
    info_.SampleRate = host.SampleRate();
    info_.BlockSize = host.BufferSize();
    info_.Started = LocalTime(now);
    info_.StereoSeparation = settings_.StereoSeparation;
    info_.Paint2Rows = settings_.Paint2Rows;
    info_.InterpolateDelays = settings_.InterpolateDelays;
    info_.ResonanceFader = playing_.ResonanceFader();
    info_.MasterLevel = settings_.MasterLevel;
    info_.Limiter = settings_.Limiter;
    // A re-render starts with an empty limiter; so does the recording (the audio is stopped).
    engine_->Limiter.Reset();
    const std::string header = "# Varko performance, recorded " + info_.Started +
                               "\n# @N: sample N at " +
                               std::to_string(std::lround(info_.SampleRate)) +
                               " Hz, where the event is heard; blocks of " +
                               std::to_string(info_.BlockSize) + " samples\n";
    const uint64_t position = engine_->SamplePosition.load();
    if (!folder_.WriteInfo(info_, error) ||
        !recorder_.Begin(folder_.File(PerformanceWavName), folder_.File(PerformanceScriptName),
                         info_.SampleRate, position, header, error)) {
        Tell(TInstrumentMessage::TKind::Error, Fill(text::RecordingNotStarted, error));
        if (wasRunning) {
            engine_->Start();
        }
        return false;
    }
    folder_.Reserve();
    // Runs on the writer's thread: the owner ends the recording on its own thread.
    recorder_.OnFailed = [this, dispatch = engine_->Dispatch, alive = std::weak_ptr<int>(alive_)] {
        if (dispatch) {
            dispatch([this, alive] {
                if (alive.lock()) {
                    CheckRecording();
                }
            });
        }
    };

    // The state the gesture starts from, then a bank of its own.
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Stereo;
    e.Stereo = settings_.StereoSeparation;
    e.TwoRows = settings_.Paint2Rows;
    recorder_.Log(position, e, nullptr);
    e.Kind = TGestureEvent::TKind::Master;
    e.Position = settings_.MasterLevel;
    recorder_.Log(position, e, nullptr);
    e.Kind = TGestureEvent::TKind::Fader;
    e.Position = playing_.ResonanceFader();
    recorder_.Log(position, e, nullptr);
    RebuildBank(wasRunning);
    Changed();
    return recorder_.Recording();
}

void TInstrument::LogRebuild(const TToneBankInput& in) {
    if (!recorder_.Recording()) {
        return;
    }
    const IAudioHost& host = engine_->Host();
    // Sample positions and the WAV hold one rate and one block size.
    if (host.SampleRate() != info_.SampleRate || host.BufferSize() != info_.BlockSize) {
        EndRecordingWith(text::RecordingDeviceChanged, {});
        return;
    }
    TGestureRebuild r;
    std::string error;
    if (!Scale.Lines.empty()) {
        const auto name = folder_.AddScale(ScalePath, Scale.Lines, error);
        if (!name) {
            EndRecordingWith(text::RecordingWriteFailed, error);
            return;
        }
        r.Scale = *name;
    } else {
        r.Scale = "-";
    }
    if (in.ExternalObject) {
        const int entry = SelectedModeFile();
        const std::string original =
            entry >= 0 && entry < static_cast<int>(History.size()) ? History[size_t(entry)] : "";
        const auto name = folder_.AddModes(original, in.ModeRatios, in.ModeLevels, error);
        if (!name) {
            EndRecordingWith(text::RecordingWriteFailed, error);
            return;
        }
        r.Modes = *name;
    }
    r.InitialFrequency = in.InitialFrequency;
    r.Down = RepeatDownCount;
    r.Up = RepeatUpCount;
    r.RepeatEnds = RepeatEnds;
    r.End = static_cast<int>(in.End);
    r.Weighting = in.ModeWeighting;
    r.ModeLimit = in.ModeLimit;
    r.Interpolate = in.InterpolateDelays;
    for (const auto& osc : engine_->Oscillators) {
        r.Seeds.push_back(osc->NoiseSeed);
    }
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Rebuild;
    recorder_.Log(engine_->SamplePosition.load(), e, &r);
}

TRecordingResult TInstrument::StopRecording() {
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
    Changed();
    return r;
}

double TInstrument::RecordedSeconds() const {
    return recorder_.Recording() && info_.SampleRate > 0.0
               ? static_cast<double>(recorder_.Frames()) / info_.SampleRate
               : 0.0;
}

void TInstrument::CheckRecording() {
    if (recorder_.Recording() && recorder_.Failed()) {
        EndRecordingWith(nullptr, {});
    }
}

void TInstrument::EndRecordingWith(const char* message, const std::string& why) {
    const TRecordingResult r = StopRecording();
    const std::string dropped = std::to_string(r.DroppedBlocks);
    std::string text;
    if (message != nullptr) {
        text = Fill(message, why, dropped);
    } else if (r.DiskTooSlow) {
        text = Fill(text::RecordingDiskTooSlow, r.Error, dropped);
    } else {
        text = Fill(text::RecordingWriteFailed, r.Error, dropped);
    }
    Tell(TInstrumentMessage::TKind::Error, text);
    if (OnRecordingStopped) {
        OnRecordingStopped(r);
    }
}

bool TInstrument::ApplyRebuild(const TGestureRebuild& r, const std::string& folder,
                               bool interpolate, std::string& error) {
    const auto inFolder = [&](const std::string& name) {
        return (std::filesystem::path(folder) / name).string();
    };
    // The names are plain (the reader refuses paths), but a link among the take's files could
    // still lead out of it.
    const auto staysInside = [&](const std::string& name) {
        std::error_code ec;
        const auto home = std::filesystem::canonical(folder, ec);
        const auto file = std::filesystem::weakly_canonical(inFolder(name), ec);
        if (!ec && file.parent_path() == home) {
            return true;
        }
        error = "the take names \"" + name + "\", which leads out of its folder (" + folder + ")";
        return false;
    };
    if ((r.Scale != "-" && !staysInside(r.Scale)) || (!r.Modes.empty() && !staysInside(r.Modes))) {
        return false;
    }
    if (r.Scale == "-") {
        Scale = ScalaFile{};
        ScalePath.clear();
        Tones.clear();
    } else if (const std::string path = inFolder(r.Scale); path != ScalePath) {
        ScalaFile file = ReadScalaFile(path);
        if (!file.Opened) {
            error = std::string(text::ScaleNotOpened) + " (" + path + ")";
            return false;
        }
        Scale = std::move(file);
        ScalePath = path;
        if (Scale.HasErrors) {
            Tell(TInstrumentMessage::TKind::Warning, text::ScaleErrors);
        }
    }
    ExternalObject = !r.Modes.empty();
    if (ExternalObject) {
        const std::string path = inFolder(r.Modes);
        const int entry = SelectedModeFile();
        const bool loaded =
            entry >= 0 && entry < static_cast<int>(History.size()) && History[size_t(entry)] == path
                ? LoadModeFileFromHistory(entry)
                : LoadModeFile(path);
        if (!loaded) {
            error = std::string(text::ModeFileNotOpened) + " (" + path + ")";
            return false;
        }
    }
    InitialFrequency = static_cast<float>(r.InitialFrequency);
    RepeatDownCount = r.Down;
    RepeatUpCount = r.Up;
    RepeatEnds = r.RepeatEnds;
    End = static_cast<TEndType>(r.End);
    ModeWeighting = r.Weighting;
    ModeLimit = r.ModeLimit;
    SetInterpolateDelays(r.Interpolate || interpolate);
    ToneSeeds = r.Seeds;
    Apply();
    return true;
}

} // namespace varko
