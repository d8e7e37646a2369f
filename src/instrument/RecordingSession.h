// Recording the performance: the folder of a take, its info file and the recorder that the
// engine's tap feeds. Owner's thread only, but for what TRecorder says of its own threads.
#pragma once

#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"
#include "files/PerformanceFolder.h"
#include "files/SettingsFile.h"
#include "instrument/Recorder.h"

#include <string>

namespace varko {

class TBankSetup;
class TModeFiles;

class TRecordingSession {
public:
    TRecordingSession() = default;
    TRecordingSession(const TRecordingSession&) = delete;
    TRecordingSession& operator=(const TRecordingSession&) = delete;

    bool Active() const { return recorder_.Recording(); }
    // The ended-by-itself check: true when the writer stopped on its own (the disk).
    bool Failed() const { return recorder_.Recording() && recorder_.Failed(); }
    TRecorder& Recorder() { return recorder_; }
    const std::string& Folder() const { return folder_.Path(); }
    double RecordedSeconds() const;

    // Makes a take's folder under root and starts the recorder, with the engine stopped (it
    // stays stopped; wasRunning says whether it ran) and the state the gesture starts from
    // logged. False with the reason (the engine runs again as before).
    bool Begin(const std::string& root, TAudioEngine& engine, const TVarkoSettings& settings,
               float resonanceFader, bool& wasRunning, std::string& error);
    // Ends the recording and completes its folder; nothing when none runs.
    TRecordingResult End();

    // Logs the bank just built with the files it came from, copied into the take.
    enum class TLogFault { None, DeviceChanged, WriteFailed };
    TLogFault LogRebuild(TAudioEngine& engine, const TToneBankInput& in, const TBankSetup& bank,
                         const TModeFiles& modes, std::string& error);

private:
    TRecorder recorder_;
    TPerformanceFolder folder_;
    TPerformanceInfo info_;
};

} // namespace varko
