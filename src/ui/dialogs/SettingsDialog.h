// The settings dialog: audio driver and output channel pair, the driver's own panel, input and
// display options. Every change applies at once; there is no OK or Cancel.
#pragma once

#include "files/SettingsFile.h"
#include "instrument/Playing.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace varko {

class TAudioEngine;
class TTablet;

// The main window's flags that the dialog keeps in step with its controls.
struct TSettingsFlags {
    bool StereoSeparation = true;
    bool InterpolateDelays = false;
    bool ShowMainLevels = true;
    bool ShowPressureLevel = true;
    bool ShowFrequencyLabels = true;
    bool Paint2Rows = false;
    bool ColoredToneZone = true;
    // MousePressure, the resonance buttons and the last pointer position live in TPlaying.
};

// What the dialog changes in the main window.
struct TSettingsOwner {
    std::function<void()> RepaintToneZone;
    std::function<void()> UpdateStereoConstants;
    std::function<void()> RefreshTones;
    std::function<void(int panel, const QString& text)> SetStatusText; // panels 0 and 4
    std::function<void()> ResetLevelBars;                               // both meters to 0
    std::function<void(bool enabled)> SetLevelTimerEnabled;
    std::function<void(int milliseconds)> SetRezTimerInterval; // both resonance timers
    std::function<void()> ResetPressureBar; // pressure bar to 0 and painted into the status bar
    std::function<QPoint()> CursorPos;      // the mouse cursor in screen pixels
};

class TSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // engine, tablet, playing and flags are the main window's and outlive the dialog.
    TSettingsDialog(TAudioEngine& engine, TTablet& tablet, TPlaying& playing, TSettingsFlags& flags,
             TSettingsOwner owner, QWidget* parent = nullptr);

    // Fills DriverCombo with the host's DriverList (once, at start-up); no selection.
    void FillDriverList();

    // Applies the settings file's values in their order, running the handlers as the start-up
    // does; masterLevel moves the main window's master fader. Throws what a handler throws.
    void ApplySettings(const TVarkoSettings& s, const std::function<void(int)>& setMasterLevel);
    // The controls' state as the settings file stores it.
    TVarkoSettings CurrentSettings(int masterLevel) const;

    // Tab "Sound"
    QTabWidget* Tabs = nullptr;
    QLabel* DriverLabel = nullptr;
    QComboBox* DriverCombo = nullptr;
    QLabel* ChannelLabel = nullptr;
    QComboBox* ChannelBox = nullptr;
    QPushButton* DriverPanelButton = nullptr;
    QCheckBox* StereoBox = nullptr;
    QCheckBox* InterpolateBox = nullptr; // hidden: set through the settings file only
    QLabel* InterpolateNote = nullptr;    // hidden
    QLabel* RefreshTonesLink = nullptr;     // hidden
    // Tab "Input"
    QLabel* ResonanceRateLabel = nullptr;
    QLabel* FasterLabel = nullptr;
    QSlider* ResonanceRateSlider = nullptr;
    QLabel* SlowerLabel = nullptr;
    QGroupBox* ResonanceButtonsGroup = nullptr;
    QRadioButton* MiddleRaisesRadio = nullptr; // "Use middle-click to raise, right-click to lower."
    QRadioButton* RightRaisesRadio = nullptr; // "Use right-click to raise, middle-click to lower."
    QCheckBox* MousePressureBox = nullptr;
    QLabel* MousePressureInfo = nullptr;
    // Tab "Display"
    QCheckBox* ColoredBarsBox = nullptr;
    QCheckBox* FrequencyLabelsBox = nullptr;
    QCheckBox* TwoRowsBox = nullptr;
    QLabel* LevelsNote = nullptr;
    QCheckBox* MainLevelsBox = nullptr;
    QCheckBox* PressureLevelBox = nullptr;

    // Handlers, public so that start-up and tests can run them as the controls do.
    void DriverComboChange();
    void ChannelBoxChange();
    void DriverPanelClick();
    void StereoBoxClick();
    void InterpolateBoxClick();
    void RefreshTonesClick();
    void ResonanceRateChange();
    void ResonanceButtonsClick();
    void MousePressureBoxClick();
    void ColoredBarsBoxClick();
    void FrequencyLabelsBoxClick();
    void TwoRowsBoxClick();
    void MainLevelsBoxClick();
    void PressureLevelBoxClick();

    // The selected item of ResonanceButtonsGroup: 0, 1, or -1 for none.
    int ResonanceButtonsIndex() const;
    void SetResonanceButtonsIndex(int index);

private:
    TAudioEngine& engine_;
    TTablet& tablet_;
    TPlaying& playing_;
    TSettingsFlags& flags_;
    TSettingsOwner owner_;
};

} // namespace varko
