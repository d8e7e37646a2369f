// The main window's MIDI input: the ports play the instrument on the input's own thread; the
// window only opens them, and shows the pressure they give.
#include "ui/MainWindow.h"

#include "midi/MidiInput.h"

#include <QMetaObject>

namespace varko {

void TMainWindow::StartMidi() {
    midiInput_ = std::make_unique<TMidiInput>("Varko");
    TMidiPlaying& midi = Instrument.Midi();
    midiInput_->OnMessage = [this](TMidiSource source, const TMidiMessage& m, double seconds) {
        Instrument.PlayMidiInput(static_cast<int>(source), m.Bytes.data(), m.Size, seconds);
    };
    midiInput_->OnTick = [this](double seconds) { return Instrument.TickMidiInput(seconds); };
    // Held keys struck again in a rebuilt bank are timed and ticked on the input's clock.
    midi.Clock = [input = midiInput_.get()] { return input->Now(); };
    midi.OnStruck = [input = midiInput_.get()] { input->RequestTick(); };
    midiInput_->OnSourceLost = [&midi](TMidiSource source) {
        midi.ReleaseSource(static_cast<int>(source));
    };
    // The display shows the latest pressure; one update waits in the queue at a time.
    midi.OnPressure = [this](float pressure) {
        midiPressure_.store(pressure, std::memory_order_relaxed);
        if (!midiPressurePosted_.exchange(true)) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    midiPressurePosted_.store(false);
                    Playing().ShowMidiPressure(midiPressure_.load(std::memory_order_relaxed));
                },
                Qt::QueuedConnection);
        }
    };
    midiInput_->Start();
    OpenMidiPort(Instrument.Settings().Stored().MidiInput);
}

bool TMainWindow::OpenMidiPort(const std::string& name) {
    return midiInput_ && midiInput_->OpenPort(name);
}

std::string TMainWindow::MidiPortName() const {
    return midiInput_ ? midiInput_->OpenPortName() : std::string();
}

void TMainWindow::StopMidi() {
    // The input thread ends here: nothing plays the instrument from it afterwards.
    Instrument.Midi().OnStruck = nullptr;
    Instrument.Midi().Clock = nullptr;
    midiInput_.reset();
    Instrument.Midi().OnPressure = nullptr;
}

} // namespace varko
