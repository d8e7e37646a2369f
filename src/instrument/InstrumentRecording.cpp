// Recording the instrument's performance into a folder, and building a recorded bank again.
#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "files/ScalaFile.h"

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

} // namespace

bool TInstrument::StartRecording(const std::string& root) {
    if (!audio_.HasEngine() || recording_.Active()) {
        return false;
    }
    TAudioEngine& engine = audio_.Engine();
    bool wasRunning = false;
    std::string error;
    if (!recording_.Begin(root, engine, settings_.Stored(), playing_.ResonanceFader(), wasRunning,
                          error)) {
        Tell(TInstrumentMessage::TKind::Error, Fill(text::RecordingNotStarted, error));
        return false;
    }
    // Runs on the writer's thread: the owner ends the recording on its own thread.
    recording_.Recorder().OnFailed = [this, dispatch = engine.Dispatch,
                                      alive = std::weak_ptr<int>(alive_)] {
        if (dispatch) {
            dispatch([this, alive] {
                if (alive.lock()) {
                    CheckRecording();
                }
            });
        }
    };
    // A bank of its own, from the state the gesture starts from.
    RebuildBank(wasRunning);
    Changed();
    return recording_.Active();
}

void TInstrument::LogRebuild(const TToneBankInput& in) {
    std::string error;
    switch (recording_.LogRebuild(audio_.Engine(), in, bank_, modeFiles_, error)) {
    case TRecordingSession::TLogFault::None:
        break;
    case TRecordingSession::TLogFault::DeviceChanged:
        EndRecordingWith(text::RecordingDeviceChanged, {});
        break;
    case TRecordingSession::TLogFault::WriteFailed:
        EndRecordingWith(text::RecordingWriteFailed, error);
        break;
    }
}

TRecordingResult TInstrument::StopRecording() {
    if (!recording_.Active()) {
        return {};
    }
    TRecordingResult r = recording_.End();
    Changed();
    return r;
}

void TInstrument::CheckRecording() {
    if (recording_.Failed()) {
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
        bank_.DropScale();
    } else if (const std::string path = inFolder(r.Scale); path != bank_.ScalePath()) {
        ScalaFile file = ReadScalaFile(path);
        if (!file.Opened) {
            error = std::string(text::ScaleNotOpened) + " (" + path + ")";
            return false;
        }
        const bool errors = file.HasErrors;
        bank_.UseScale(std::move(file), path);
        if (errors) {
            Tell(TInstrumentMessage::TKind::Warning, text::ScaleErrors);
        }
    }
    bank_.SetExternalObject(!r.Modes.empty());
    if (bank_.ExternalObject()) {
        const std::string path = inFolder(r.Modes);
        const int entry = modeFiles_.Selected();
        const bool loaded = entry >= 0 && modeFiles_.SelectedPath() == path
                                ? modeFiles_.LoadFromHistory(entry)
                                : modeFiles_.Load(path);
        if (!loaded) {
            error = std::string(text::ModeFileNotOpened) + " (" + path + ")";
            return false;
        }
    }
    bank_.SetParameters({.InitialFrequency = static_cast<float>(r.InitialFrequency),
                         .RepeatDownCount = r.Down,
                         .RepeatUpCount = r.Up,
                         .RepeatEnds = r.RepeatEnds,
                         .End = static_cast<TEndType>(r.End),
                         .ModeWeighting = r.Weighting,
                         .ModeLimit = r.ModeLimit});
    settings_.SetInterpolateDelays(r.Interpolate || interpolate);
    bank_.SetToneSeeds(r.Seeds);
    Apply();
    return true;
}

} // namespace varko
