// The main window: a view over the instrument. The tone zone with its playing handlers, the
// toolbar, meters, panels and status bar; it starts the instrument in order, runs the timers and
// the watchdog, and shuts down. Its parts live in files by concern: MainWindowControls (building
// the controls), MainWindowStartup (start-up, shutdown, crashes), MainWindowStatus (status bar,
// meters, timers, watchdog), MainWindowKeys (function keys), MainWindowMidi (MIDI input) and
// MainWindowRecording (recording and replaying a performance).
#pragma once

#include "instrument/GesturePlayer.h"
#include "instrument/Instrument.h"
#include "ui/WindowPlatform.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QTimer;
class QUrl;

namespace varko {

class TAboutBox;
class TClipLed;
class TCrashWindow;
class TImageButton;
class TLinkLabel;
class TMidiInput;
class TSettingsDialog;
class TStatusPanels;
class TTablet;
class TTabletEventSource;
class TToneZone;
class TUpDown;
class TUserGuideWindow;

class TMainWindow : public QWidget {
    Q_OBJECT
public:
    // Builds the controls and runs the start-up.
    explicit TMainWindow(TWindowPlatform platform = TWindowPlatform::Desktop(),
                         QWidget* parent = nullptr);
    ~TMainWindow() override;

    // What the window asks of the desktop; a hook may be swapped while the window lives.
    TWindowPlatform Platform;

    bool Halted = false; // start-up ended the program, or a crash did

    // The size the window opens at where the screen has room, and the smallest it can be made
    // (both less where the screen is smaller).
    static constexpr QSize DesignSize{790, 701};
    static constexpr QSize MinimumSize{680, 480};
    static constexpr int ParametersWidth = 241;

    // Fits the window to its screen and centres it there (the program's first show).
    void ShowOnScreen();

    TInstrument Instrument;
    TPlaying& Playing() { return Instrument.Playing(); }

    TAboutBox* AboutBox = nullptr; // created by the program after the window

    // Status bar panels 0..5
    QString StatusText(int panel) const;
    // The pressure display's position, 0 .. Playing().PressureBarMax: what the status bar shows.
    int ShownPressure();
    // The MIDI input port open ("" when none).
    std::string MidiPortName() const;

    // What the player does: the handlers of the window's controls, timers and keys.
    void OpenScaleBtnClick();
    void ApplyParametersBtnClick();
    void ModeFilesComboSelect();
    void ShowLevels();
    void LeftClipOff();
    void RightClipOff();
    void WatchdogTick();
    void RestartBtnClick();
    void StopAudio(); // F6
    void HelpMenuItemClick();
    // The guide in a window of the program's own (F1 without a web browser).
    TUserGuideWindow* UserGuideWindow() const { return guideWindow_; }
    // Recording (Ctrl+R, in MainWindowKeys) and replaying a performance folder.
    void RecordBtnClick();
    void ReplayBtnClick();
    // Reads the take off the window's thread; the replay starts once it is read.
    bool StartReplay(const QString& folder);
    bool Replaying() const { return replay_ != nullptr || replayLoad_ != nullptr; }
    bool ReplayLoading() const { return replayLoad_ != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetStatusText(int panel, const QString& text);
    void ShutDown();
    void LayOutStatusBar();
    // A function key as the window receives it; returns whether it was one of the window's.
    bool FunctionKey(int key, Qt::KeyboardModifiers modifiers);
    void ApplicationException(const std::string& exceptionClass, const std::string& senderClass,
                              const std::string& message);
    // A tone thread that ended with an exception: its crash text ("class@TWaveguideThread: ...").
    void ThreadTerminationCheck(const std::string& crashText);
    void MasterLevelResetClick();
    void ModeLimitEditChange();
    void ModeWeightingChange();
    void RepeatDownEditChange();
    void RepeatUpEditChange();
    void ParametersBtnClick();
    void ContentsBtnClick();
    void SettingsBtnClick();
    void HelpBtnClick();
    void AboutMenuItemClick();
    void GetScaleFilesMenuItemClick();
    void InternalObjectClick();
    void ExternalObjectClick();
    void OpenKbmClick();
    void ShowKeyboardMapping();
    void StopReplay();
    // Shows a message box with the caption "Varko"; returns the button pressed.
    int MessageBox(const QString& text, int icon, int buttons = 0x400 /* OK */);
    // Asks for an audio driver and says false when none is chosen: scales, takes and
    // replays all need one.
    bool DriverChosenOrAsk();
    // Names the controls and timers after their members, so that they can be found by name.
    void NameControls();
    void BuildControls();
    void BuildParametersPanel();
    // A title bar with a close cross, on top of a side panel, as wide as the panel.
    static QWidget* AddPanelTitle(QWidget* panel, const QString& title, TLinkLabel*& close);
    void BuildTimers();
    void BuildRecordingControls();
    void ReplayTick();
    // The read take becomes the replay; false when it could not be read.
    bool TakeReplayLoad();
    void ShowRecordingState();
    // The parameters panel and the master fader as the instrument has them (after a replay
    // rebuilt the bank).
    void ShowParameters();
    void ConnectPlaying();
    void StartUp();
    void CreateSettingsDialog();
    void ReadSettingsFile();
    void StartWithoutTablet(bool notice);
    // Opens the last session again (when the settings ask for it); what is gone is named in
    // the status bar.
    void RestoreSession();
    void StartMidi();
    void StopMidi();
    bool OpenMidiPort(const std::string& name);
    // The instrument's state as the controls show it.
    void ShowInstrumentState();
    void ShowModeFiles();
    void RepaintToneZone();
    void ShowMessage(const TInstrumentMessage& message);
    void LevelMeter(float peak, QProgressBar* meter, TClipLed* led, QTimer* offTimer);
    // The bars lit as loud as they sound, the held ones marked (at the meters' rate).
    void ShowBarLight();
    void DrawPressurePanel(QPainter& painter);
    void ShowStoppedWarning(const char* first, const char* second);
    QString ChooseFile(const char* title, const char* filter, const QString& folder);
    TEndType CheckedEndType() const;

    uint32_t lastTick_ = 0;
    QString initialDir_; // file dialogs' folder on the first run
    std::unique_ptr<TTabletEventSource> tabletSource_;
    std::unique_ptr<TTablet> tablet_;
    // MIDI input: the chosen port and Varko's own virtual ports (MainWindowMidi).
    std::unique_ptr<TMidiInput> midiInput_;
    TSettingsDialog* settings_ = nullptr;
    TCrashWindow* crashWin_ = nullptr;

    // Controls
    QWidget* toolbarPanel_ = nullptr;
    TImageButton* openScaleBtn_ = nullptr;
    TImageButton* parametersBtn_ = nullptr;
    TImageButton* contentsBtn_ = nullptr;
    TImageButton* settingsBtn_ = nullptr;
    TImageButton* helpBtn_ = nullptr;
    TImageButton* restartBtn_ = nullptr;
    TImageButton* recordBtn_ = nullptr;
    TImageButton* replayBtn_ = nullptr;
    QLabel* recordingLabel_ = nullptr; // what is being recorded or replayed
    TClipLed* leftClipLed_ = nullptr;
    TClipLed* rightClipLed_ = nullptr;
    QProgressBar* leftMeter_ = nullptr;
    QProgressBar* rightMeter_ = nullptr;
    // The master limiter's gain reduction in decibels (0..12), hanging from the top.
    QProgressBar* limiterMeter_ = nullptr;
    TStatusPanels* statusBar_ = nullptr;
    TToneZone* toneZone_ = nullptr;

    QWidget* parametersPanel_ = nullptr;
    QScrollArea* parametersScroll_ = nullptr; // the settings above the faders
    TLinkLabel* closeParametersLink_ = nullptr;
    QLineEdit* initialFrequencyEdit_ = nullptr;
    QLabel* noSoundWarning_ = nullptr;
    QLineEdit* repeatDownEdit_ = nullptr;
    TUpDown* repeatDownArrows_ = nullptr;
    QLineEdit* repeatUpEdit_ = nullptr;
    TUpDown* repeatUpArrows_ = nullptr;
    QCheckBox* repeatEndsBox_ = nullptr;
    QRadioButton* internalObject_ = nullptr;
    QRadioButton* externalObject_ = nullptr;
    QLabel* modeWeightingLabel_ = nullptr;
    QSlider* modeWeightingSlider_ = nullptr;
    QLabel* modeWeightingFormula_ = nullptr;
    QLabel* modeWeightingExponent_ = nullptr;
    QComboBox* modeFilesCombo_ = nullptr;
    QLabel* modeFileWarning_ = nullptr;
    QButtonGroup* objectGroup_ = nullptr;
    QButtonGroup* endTypeGroup_ = nullptr;
    QRadioButton* endFreeRadio_ = nullptr;
    QRadioButton* endFixedRadio_ = nullptr;
    QRadioButton* endHingedRadio_ = nullptr;
    QLineEdit* modeLimitEdit_ = nullptr;
    QLabel* kbmNameLabel_ = nullptr; // the keyboard mapping's file name, or one key per bar
    TLinkLabel* openKbmLink_ = nullptr;
    TLinkLabel* noKbmLink_ = nullptr;
    TUpDown* modeLimitArrows_ = nullptr;
    QSlider* resonanceFader_ = nullptr;
    TLinkLabel* resonanceReset_ = nullptr;
    QSlider* masterFader_ = nullptr;
    TLinkLabel* masterLevelReset_ = nullptr;
    QPushButton* applyParametersBtn_ = nullptr;

    QWidget* scaleContentsPanel_ = nullptr;
    TLinkLabel* closeContentsLink_ = nullptr;
    QPlainTextEdit* scaleContentsBox_ = nullptr;

    QWidget* helpPanel_ = nullptr;
    TLinkLabel* helpMenuItem_ = nullptr;
    TLinkLabel* getScaleFilesMenuItem_ = nullptr;
    TLinkLabel* aboutMenuItem_ = nullptr;
    TLinkLabel* closeHelpLink_ = nullptr;

    QTimer* levelTimer_ = nullptr;
    QTimer* leftClipOffTimer_ = nullptr;
    QTimer* rightClipOffTimer_ = nullptr;
    QTimer* watchdog_ = nullptr;
    QTimer* audioWatchTimer_ = nullptr; // the audio's real state into the status bar
    QTimer* rezDownTimer_ = nullptr;
    QTimer* rezUpTimer_ = nullptr;
    QTimer* replayTimer_ = nullptr;
    QTimer* recordingTimer_ = nullptr; // the recording's length in its label

    std::atomic<float> midiPressure_{0.0f};
    std::atomic<bool> midiPressurePosted_{false};
    bool closed_ = false;
    bool noTabletNoticeOff_ = false; // "Don't show this again" was ticked at this start
    std::vector<float> barLight_;    // each bar's light as last shown
    QString sessionNote_;            // what of the last session is gone, until a scale opens
    bool crashing_ = false;
    QString lastScaleFolder_;                 // where the next Open Scale starts
    QString lastModeFolder_;                  // where the next mode file Browse starts
    TUserGuideWindow* guideWindow_ = nullptr; // the guide when no web browser shows it
    std::string shownScaleText_;              // the scale lines the contents box shows
    std::unique_ptr<TGesturePlayer> replay_;
    struct TReplayLoad; // a take being read by a thread of its own
    std::shared_ptr<TReplayLoad> replayLoad_;
    // Loads stopped before their end, joined once their thread is done (or with the window).
    std::vector<std::shared_ptr<TReplayLoad>> stoppedLoads_;
    uint64_t replayFrames_ = 0; // the replayed performance's length at the engine's rate
    QString lastRecording_;     // the folder of the last recording ended
};

} // namespace varko
