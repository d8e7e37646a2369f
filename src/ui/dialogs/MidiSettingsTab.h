// The settings dialog's "MIDI" tab: the input port, the note that plays the scale's 1/1, the
// MPE lower zone and what a released key does. A thin view over the instrument's settings; the
// window opens the port.
#pragma once

#include "instrument/Instrument.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace varko {

// What the tab needs of the window that owns the MIDI ports.
struct TMidiPortsOwner {
    std::function<std::vector<std::string>()> Ports;  // the input ports there are now
    std::function<bool(const std::string&)> OpenPort; // "" closes; whether a port is open
    std::function<bool()> Reachable; // whether a MIDI back end answers (none given: yes)
    std::function<bool()> JackInput; // whether Varko's JACK input is there (audio on JACK)
};

class TMidiSettingsTab : public QWidget {
    Q_OBJECT
public:
    TMidiSettingsTab(TInstrument& instrument, TMidiPortsOwner owner, QWidget* parent = nullptr);

    // Lists the ports anew, the chosen one selected ("none" first; one that has gone says so),
    // and says which of Varko's own inputs there are.
    void ShowPorts();
    // Sets the controls to the instrument's settings.
    void ShowInstrumentSettings();

    QLabel* PortLabel = nullptr;
    QComboBox* PortCombo = nullptr;
    QLabel* ReferenceLabel = nullptr;
    QSpinBox* ReferenceNoteBox = nullptr;
    QLabel* ReferenceNoteName = nullptr;
    QLabel* ReferenceNote = nullptr; // how notes meet the bars
    QCheckBox* MpeBox = nullptr;
    QLabel* BendLabel = nullptr;
    QComboBox* BendCombo = nullptr; // "bends the pitch", "bows the bar"
    QLabel* ReleaseLabel = nullptr;
    QComboBox* ReleaseCombo = nullptr; // "rings on", "damps"
    QLabel* VirtualPortNote = nullptr;

    // Handlers, public so that tests run them as the controls do.
    void PortComboChange();
    void ReferenceNoteChange();
    void MpeBoxClick();
    void BendComboChange();
    void ReleaseComboChange();

    // "C4" for 60: the note's name, middle C in octave 4.
    static QString NoteName(int note);

protected:
    void showEvent(QShowEvent* event) override;

private:
    TInstrument& instrument_;
    TMidiPortsOwner owner_;
};

} // namespace varko
