// The program's own texts, shown to the player. Plain constants, no Qt, so that the
// renderer prints the same warnings as the window shows.
#pragma once

namespace varko::text {

inline constexpr const char* Caption = "Varko";

// Scales
inline constexpr const char* ChooseDriver =
    "Please choose an audio driver in the Settings window, Sound tab.";
inline constexpr const char* ScaleNotOpened = "The scale file could not be opened.";
inline constexpr const char* ScaleErrors = "The scale file contains errors.";
inline constexpr const char* OpenKbmTitle = "Open Keyboard Mapping";
inline constexpr const char* OpenKbmFilter = "Scala Keyboard Mapping (*.kbm);;All Files (*)";
inline constexpr const char* OpenKbmHint =
    "A Scala keyboard mapping (.kbm) decides which MIDI key plays which degree of the scale, "
    "and its reference key and frequency tune the scale (the initial frequency follows).";
inline constexpr const char* KeyboardMappingNotOpened = "The keyboard mapping could not be opened.";
inline constexpr const char* KeyboardMappingUnusable =
    "The keyboard mapping cannot be used; the keys keep their previous mapping.";
inline constexpr const char* KeyboardMappingErrors = "The keyboard mapping contains errors:";
inline constexpr const char* KeyboardMappingNoBars =
    "The keyboard mapping gives no key a bar of this scale.";

// Tone bank
inline constexpr const char* Preparing = "Preparing:";
inline constexpr const char* Stopped = "Stopped";
inline constexpr const char* Running = "Running";
// The audio should run, but the device went away; Varko plays again when it is back.
inline constexpr const char* DeviceLost = "Device lost";
// The audio should run and the device is there, but it has asked for no block for a second.
inline constexpr const char* DeviceSilent = "Device silent";
// %1: tone blocks not ready in time; %2: the device's over- and underruns; both since the
// audio was last started.
inline constexpr const char* GlitchCounter = "Late %1, xruns %2, resets %3";
inline constexpr const char* PoolAdvice =
    "Late blocks pile up: this bank has far more tones than the processor has cores. In "
    "Settings, Sound, choose \"Render tones: one thread per processor core\".";
inline constexpr const char* WarnNoSound =
    "Some of the bars might not produce sound. Try reducing the initial frequency.";
inline constexpr const char* WarnModeFile =
    "Vibration mode file contains errors. Some bars might not produce sound.";
// Under the settings' exact-pitch option.
inline constexpr const char* InterpolateCost =
    "Uses about 60% more processor time than whole-sample delay lines. Takes effect when the "
    "bars are rebuilt.";
inline constexpr const char* BarFree = "Uniform bar with free ends";
inline constexpr const char* BarFixed = "Uniform bar with one fixed end";
inline constexpr const char* BarHinged = "Uniform bar with hinged ends";
inline constexpr const char* EndFree = "Both ends free";
inline constexpr const char* EndFixed = "One end fixed";
inline constexpr const char* EndHinged = "Both ends hinged";
// %1: the tones the scale and its repeats ask for; %2: the most the bank plays.
inline constexpr const char* TooManyTones =
    "The scale and its repeats give %1 tones, but Varko can play at most %2 tones at once. "
    "Only the first %2 tones are used; reduce the repeats to hear the others.";

// %1: the megabytes the bank's bands would need; %2: the most Varko builds.
inline constexpr const char* BankTooLarge =
    "The tone bank would need %1 MB of memory, more than the %2 MB Varko allows. Reduce the "
    "vibration mode limit or the number of tones, or use modes of higher frequency.";

// Mode files
inline constexpr const char* ModeFileNotOpened = "The vibration mode file could not be opened.";
// The last session could not be opened again at start: %1 is the file.
inline constexpr const char* SessionScaleMissing = "The last scale is gone: %1";
inline constexpr const char* SessionKeyboardMappingMissing =
    "The last keyboard mapping is gone: %1";
inline constexpr const char* SessionModeFileMissing =
    "The last vibration mode file is gone (the uniform bar plays): %1";
inline constexpr const char* Browse = "Browse...";

// Settings file
inline constexpr const char* SettingsNotRetrieved = "Your settings could not be retrieved.";
inline constexpr const char* SettingsNotSaved = "Your settings could not be saved.";

// Status bar
inline constexpr const char* NoTablet = "No tablet";
inline constexpr const char* StandardMouse = "Standard mouse";

// Processing load
inline constexpr const char* LoadStopped = "Audio was stopped due to excessive processing load.";
inline constexpr const char* LoadAdvice =
    "Use a smaller scale or reduce the vibration mode limit, and then "
    "click the Restart Audio button.";
inline constexpr const char* UserStopped = "Audio was stopped.";
inline constexpr const char* UserStoppedAdvice = "To resume audio, click the Restart Audio button.";

// The empty tone zone: what to do first.
inline constexpr const char* OpenScaleHint = "Open a scale: F2";

// File dialogs and the help panel
inline constexpr const char* OpenScaleTitle = "Open Scale";
inline constexpr const char* OpenScaleFilter = "Scala Scale File (*.scl);;All Files (*)";
inline constexpr const char* OpenModeTitle = "Open Vibration Mode File";
inline constexpr const char* OpenModeFilter = "Vibration Mode Files (*.vmod);;All Files (*)";
inline constexpr const char* ScaleArchive =
    "This will take you to the download page of the Scale Archive at the Scala web site which "
    "includes more than 5000 scales you can use with Varko.\n\nClick OK to continue.";
inline constexpr const char* ScaleArchiveUrl =
    "https://www.huygens-fokker.org/scala/downloads.html";

// Recording and replay. %1: why; %2: blocks dropped.
inline constexpr const char* RecordingNotStarted = "The recording could not be started: %1.";
inline constexpr const char* RecordingDiskTooSlow =
    "Recording stopped: the disk could not keep up. %2 block(s) were dropped; performance.wav "
    "holds everything before the first of them.";
inline constexpr const char* RecordingWriteFailed =
    "Recording stopped: %1. %2 block(s) were dropped; performance.wav holds everything before "
    "the first of them.";
inline constexpr const char* RecordingDeviceChanged =
    "Recording stopped: the audio device changed its sample rate or block size.";
inline constexpr const char* ReplayFailed = "The performance could not be replayed: %1.";
inline constexpr const char* RecordTitle = "Record (Ctrl+R)";
inline constexpr const char* StopRecordingTitle = "Stop Recording (Ctrl+R)";
inline constexpr const char* ReplayTitle = "Replay a Performance";
inline constexpr const char* StopReplayTitle = "Stop the Replay";

// Settings dialog (the player's word on Linux is "audio", not "ASIO")
inline constexpr const char* DriverLabel = "Audio driver:";
inline constexpr const char* PanelButton = "Audio Panel";

// The window without a desktop to show it on.
inline constexpr const char* NeedsDesktop =
    "Varko needs a desktop session to show its window (neither DISPLAY nor WAYLAND_DISPLAY is "
    "set); varko-render --demo --play plays without a window.";

} // namespace varko::text
