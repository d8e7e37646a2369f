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

class Tayarfrm : public QDialog {
    Q_OBJECT
public:
    // engine, tablet, playing and flags are the main window's and outlive the dialog.
    Tayarfrm(TAudioEngine& engine, TTablet& tablet, TPlaying& playing, TSettingsFlags& flags,
             TSettingsOwner owner, QWidget* parent = nullptr);

    // Fills DriverCombo with the host's DriverList (once, at start-up); no selection.
    void FillDriverList();

    // Applies the settings file's values in their order, running the handlers as the start-up
    // does; masterLevel moves the main window's master fader. Throws what a handler throws.
    void ApplySettings(const TVarkoSettings& s, const std::function<void(int)>& setMasterLevel);
    // The controls' state as the settings file stores it.
    TVarkoSettings CurrentSettings(int masterLevel) const;

    // Tab "Sound"
    QTabWidget* PageControl = nullptr;
    QLabel* lblasiodrvr = nullptr;
    QComboBox* DriverCombo = nullptr;
    QLabel* lblchannel = nullptr;
    QComboBox* ChannelBox = nullptr;
    QPushButton* controlpanel = nullptr;
    QCheckBox* StereoChk = nullptr;
    QCheckBox* InterpolateChk = nullptr; // hidden: set through the settings file only
    QLabel* lblInterpolate = nullptr;    // hidden
    QLabel* lblRefreshOsc = nullptr;     // hidden
    // Tab "Input"
    QLabel* lblresrate = nullptr;
    QLabel* lblfaster = nullptr;
    QSlider* ResRateTrk = nullptr;
    QLabel* lblslower = nullptr;
    QGroupBox* ResRadioGroup = nullptr;
    QRadioButton* ResRadio0 = nullptr; // "Use middle-click to raise, right-click to lower."
    QRadioButton* ResRadio1 = nullptr; // "Use right-click to raise, middle-click to lower."
    QCheckBox* chktabletyok = nullptr;
    QLabel* Image1 = nullptr;
    // Tab "Display"
    QCheckBox* ColoredTZChk = nullptr;
    QCheckBox* freqlblchk = nullptr;
    QCheckBox* Paint2RowsChk = nullptr;
    QLabel* lblasterisk = nullptr;
    QCheckBox* mainlevelschk = nullptr;
    QCheckBox* pressurelvlchk = nullptr;

    // Handlers, public so that start-up and tests can run them as the controls do.
    void DriverComboChange();
    void ChannelBoxChange();
    void controlpanelClick();
    void StereoChkClick();
    void InterpolateChkClick();
    void lblRefreshOscClick();
    void ResRateTrkChange();
    void ResRadioGroupClick();
    void chktabletyokClick();
    void ColoredTZChkClick();
    void freqlblchkClick();
    void Paint2RowsChkClick();
    void mainlevelschkClick();
    void pressurelvlchkClick();

    // The selected item of ResRadioGroup: 0, 1, or -1 for none.
    int ResRadioIndex() const;
    void SetResRadioIndex(int index);

private:
    TAudioEngine& engine_;
    TTablet& tablet_;
    TPlaying& playing_;
    TSettingsFlags& flags_;
    TSettingsOwner owner_;
};

} // namespace varko
