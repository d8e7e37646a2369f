// The settings dialog: audio driver and output channel pair, the driver's own panel, input and
// display options. Every change applies at once; there is no OK or Cancel.
#pragma once

#include "instrument/Instrument.h"
#include "ui/dialogs/MidiSettingsTab.h"

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

class TTablet;

// What the dialog changes in the main window's view of the instrument.
struct TSettingsOwner {
    std::function<void()> RepaintToneZone;
    std::function<void(int panel, const QString& text)> SetStatusText; // panel 0: the input
    std::function<void()> ResetLevelBars;                              // both meters to 0
    std::function<void(bool enabled)> SetLevelTimerEnabled;
    std::function<void(int milliseconds)> SetRezTimerInterval; // both resonance timers
    std::function<void()> ResetPressureBar; // pressure bar to 0 and painted into the status bar
    std::function<void(bool shown)> ShowLimiter; // the limiter's meter beside the level meters
    TMidiPortsOwner Midi;                        // the MIDI tab's ports
};

class TSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // instrument and tablet are the main window's and outlive the dialog.
    TSettingsDialog(TInstrument& instrument, TTablet& tablet, TSettingsOwner owner,
                    QWidget* parent = nullptr);

    // Fills DriverCombo with the instrument's driver list (once, at start-up); no selection.
    void FillDriverList();

    // Sets every control to the instrument's settings (after the settings file was read); where
    // a control changes, the window's part of its handler runs, as a change from code does.
    void ShowInstrumentSettings();

    // Tab "Sound"
    QTabWidget* Tabs = nullptr;
    QLabel* DriverLabel = nullptr;
    QComboBox* DriverCombo = nullptr;
    QLabel* ChannelLabel = nullptr;
    QComboBox* ChannelBox = nullptr;
    QPushButton* DriverPanelButton = nullptr;
    QCheckBox* StereoBox = nullptr;
    QCheckBox* LimiterBox = nullptr;       // "Master limiter (no clipping)"
    QCheckBox* InterpolateBox = nullptr;   // "Exact pitch (interpolated delay lines)"
    QLabel* InterpolateNote = nullptr;     // what it costs, and when it takes effect
    QLabel* RefreshTonesLink = nullptr;    // rebuilds the bars
    QLabel* RenderTonesLabel = nullptr;    // "Render tones:"
    QComboBox* RenderTonesCombo = nullptr; // one thread per tone / per processor core
    // Tab "Input"
    QLabel* ResonanceRateLabel = nullptr;
    QLabel* FasterLabel = nullptr;
    QSlider* ResonanceRateSlider = nullptr;
    QLabel* SlowerLabel = nullptr;
    QGroupBox* ResonanceButtonsGroup = nullptr;
    QRadioButton* MiddleRaisesRadio = nullptr; // "Use middle-click to raise, right-click to lower."
    QRadioButton* RightRaisesRadio = nullptr;  // "Use right-click to raise, middle-click to lower."
    QCheckBox* MousePressureBox = nullptr;
    QLabel* MousePressureInfo = nullptr;
    QCheckBox* MouseGlideBox = nullptr; // "Mouse drag plays every bar it crosses"
    // Tab "Display"
    QCheckBox* ColoredBarsBox = nullptr;
    QCheckBox* FrequencyLabelsBox = nullptr;
    QComboBox* LabelKindCombo = nullptr; // frequency (Hz), cents, ratio, scale degree
    QCheckBox* TwoRowsBox = nullptr;
    QCheckBox* RestoreSessionBox = nullptr; // the last session opened again at start
    QLabel* LevelsNote = nullptr;
    QCheckBox* MainLevelsBox = nullptr;
    QCheckBox* PressureLevelBox = nullptr;
    // Tab "MIDI"
    TMidiSettingsTab* MidiTab = nullptr;

    // Handlers, public so that start-up and tests can run them as the controls do.
    void DriverComboChange();
    void ChannelBoxChange();
    void DriverPanelClick();
    void StereoBoxClick();
    void LimiterBoxClick();
    void InterpolateBoxClick();
    void RefreshTonesClick();
    void RenderTonesComboChange();
    void ResonanceRateChange();
    void ResonanceButtonsClick();
    void MousePressureBoxClick();
    void MouseGlideBoxClick();
    void ColoredBarsBoxClick();
    void FrequencyLabelsBoxClick();
    void TwoRowsBoxClick();
    void MainLevelsBoxClick();
    void PressureLevelBoxClick();

    // The selected item of ResonanceButtonsGroup: 0, 1, or -1 for none.
    int ResonanceButtonsIndex() const;
    void SetResonanceButtonsIndex(int index);

private:
    void ShowChannelPairs();

    TInstrument& instrument_;
    TTablet& tablet_;
    TSettingsOwner owner_;
};

} // namespace varko
