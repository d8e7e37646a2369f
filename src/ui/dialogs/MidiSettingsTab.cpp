#include "ui/dialogs/MidiSettingsTab.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

namespace varko {

namespace {
const QString NoPort = QStringLiteral("none");
const QString GonePort = QStringLiteral(" (gone)");
} // namespace

TMidiSettingsTab::TMidiSettingsTab(TInstrument& instrument, TMidiPortsOwner owner, QWidget* parent)
    : QWidget(parent), instrument_(instrument), owner_(std::move(owner)) {
    setObjectName("MidiSettingsTab");
    // Top to bottom, each control below the one before as tall as the font makes it.
    constexpr int Left = 8, Width = 329, Gap = 8;
    PortLabel = AddLabel(this, QStringLiteral("MIDI input:"), Left, 8, 185, 17);
    PortCombo = new QComboBox(this);
    PortCombo->setGeometry(Left, PortLabel->geometry().bottom() + 2, Width,
                           std::max(21, PortCombo->sizeHint().height()));

    ReferenceNoteBox = new QSpinBox(this);
    ReferenceNoteBox->setRange(0, 127);
    ReferenceNoteBox->setValue(TMidiPlaying::DefaultReferenceNote);
    const int row = PortCombo->geometry().bottom() + 1 + Gap;
    const int rowHeight = std::max(21, ReferenceNoteBox->sizeHint().height());
    ReferenceNoteBox->setGeometry(112, row, 56, rowHeight);
    ReferenceLabel = AddLabel(this, QStringLiteral("Reference note:"), Left, row, 100, rowHeight);
    ReferenceLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ReferenceNoteName =
        AddLabel(this, NoteName(TMidiPlaying::DefaultReferenceNote), 176, row, 60, rowHeight);
    ReferenceNoteName->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ReferenceNote =
        AddLabel(this, QStringLiteral("It plays the 1/1; the keys around it, the bars beside."),
                 Left, row + rowHeight + 4, Width, 17);
    ReferenceNote->setWordWrap(true);
    ReferenceNote->resize(Width, ReferenceNote->heightForWidth(Width));
    MpeBox = new QCheckBox(QStringLiteral("MPE zones, as the controller sets them."), this);
    MpeBox->setToolTip(QStringLiteral("Until the controller sends its MPE Configuration Message: "
                                      "one lower zone, channel 1 reaching every note."));
    MpeBox->setChecked(true);
    MpeBox->setGeometry(Left, ReferenceNote->geometry().bottom() + 1 + Gap, Width,
                        std::max(17, MpeBox->sizeHint().height()));
    const int bendRow = MpeBox->geometry().bottom() + 1 + Gap;
    BendCombo = new QComboBox(this);
    BendCombo->addItems({QStringLiteral("bends the pitch"), QStringLiteral("bows the bar")});
    const int bendHeight = std::max(21, BendCombo->sizeHint().height());
    BendLabel = AddLabel(this, QStringLiteral("Pitch bend:"), Left, bendRow, 100, bendHeight);
    BendLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    BendCombo->setGeometry(112, bendRow, 140, bendHeight);
    BendCombo->setToolTip(QStringLiteral(
        "Bends the pitch: a note's bend moves its bar's pitch within the bend range the "
        "controller sets (48 semitones on MPE member channels, 2 elsewhere). Bows the bar: "
        "moving the bend bows the bar instead, and the pitch stays."));
    const int releaseRow = BendCombo->geometry().bottom() + 1 + Gap / 2;
    ReleaseCombo = new QComboBox(this);
    ReleaseCombo->addItems({QStringLiteral("rings on"), QStringLiteral("damps")});
    const int releaseHeight = std::max(21, ReleaseCombo->sizeHint().height());
    ReleaseLabel =
        AddLabel(this, QStringLiteral("Key release:"), Left, releaseRow, 100, releaseHeight);
    ReleaseLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ReleaseCombo->setGeometry(112, releaseRow, 120, releaseHeight);
    ReleaseCombo->setToolTip(QStringLiteral(
        "What a bar does when its key is let go: ring on, or be damped. The sustain pedal "
        "(CC 64) keeps released bars ringing until it lifts."));
    VirtualPortNote = AddLabel(this,
                               QStringLiteral("Other programs can play Varko through its own "
                                              "MIDI input \"Varko\"."),
                               Left, ReleaseCombo->geometry().bottom() + 1 + Gap, Width, 17);
    VirtualPortNote->setWordWrap(true);
    VirtualPortNote->resize(Width, VirtualPortNote->heightForWidth(Width));

    connect(PortCombo, &QComboBox::activated, this, [this] { PortComboChange(); });
    connect(ReferenceNoteBox, &QSpinBox::valueChanged, this, [this] { ReferenceNoteChange(); });
    connect(MpeBox, &QCheckBox::toggled, this, [this] { MpeBoxClick(); });
    connect(ReleaseCombo, &QComboBox::activated, this, [this] { ReleaseComboChange(); });
    connect(BendCombo, &QComboBox::activated, this, [this] { BendComboChange(); });
}

QString TMidiSettingsTab::NoteName(int note) {
    static const char* const names[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                        "F#", "G",  "G#", "A",  "A#", "B"};
    return QString::fromLatin1(names[note % 12]) + QString::number(note / 12 - 1);
}

void TMidiSettingsTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ShowPorts(); // devices come and go while the program runs
}

void TMidiSettingsTab::ShowPorts() {
    const QSignalBlocker block(PortCombo);
    PortCombo->clear();
    PortCombo->addItem(NoPort);
    const std::string& chosen = instrument_.Settings().Stored().MidiInput;
    const std::vector<std::string> ports =
        owner_.Ports ? owner_.Ports() : std::vector<std::string>{};
    for (const std::string& p : ports) {
        PortCombo->addItem(QString::fromStdString(p), QString::fromStdString(p));
        if (p == chosen) {
            PortCombo->setCurrentIndex(PortCombo->count() - 1);
        }
    }
    // A chosen port that is not there now stays the choice (it is opened when it comes back),
    // shown as gone.
    if (!chosen.empty() && std::find(ports.begin(), ports.end(), chosen) == ports.end()) {
        PortCombo->addItem(QString::fromStdString(chosen) + GonePort,
                           QString::fromStdString(chosen));
        PortCombo->setCurrentIndex(PortCombo->count() - 1);
    }
    if (chosen.empty()) {
        PortCombo->setCurrentIndex(0);
    }
    QString note;
    if (owner_.Reachable && !owner_.Reachable()) {
        note = QStringLiteral("No MIDI system answers: neither the ALSA sequencer nor a JACK "
                              "server runs, so no MIDI reaches Varko.");
    } else {
        note = QStringLiteral("Other programs can play Varko through its own MIDI input "
                              "\"Varko\"");
        note += owner_.JackInput && owner_.JackInput()
                    ? QStringLiteral(" (on JACK \"Varko:midi_in\", beside its sound).")
                    : QStringLiteral(".");
    }
    VirtualPortNote->setText(note);
    VirtualPortNote->resize(VirtualPortNote->width(),
                            VirtualPortNote->heightForWidth(VirtualPortNote->width()));
}

void TMidiSettingsTab::ShowInstrumentSettings() {
    const TVarkoSettings& s = instrument_.Settings().Stored();
    {
        const QSignalBlocker b0(ReferenceNoteBox);
        const QSignalBlocker b1(MpeBox);
        ReferenceNoteBox->setValue(s.ReferenceNote);
        MpeBox->setChecked(s.MPE);
        ReleaseCombo->setCurrentIndex(s.KeyReleaseDamps ? 1 : 0);
        BendCombo->setCurrentIndex(s.BendPitch ? 0 : 1);
    }
    ReferenceNoteName->setText(NoteName(ReferenceNoteBox->value()));
    ShowPorts();
}

void TMidiSettingsTab::PortComboChange() {
    const std::string name = PortCombo->currentIndex() <= 0
                                 ? std::string()
                                 : PortCombo->currentData().toString().toStdString();
    const bool open = owner_.OpenPort && owner_.OpenPort(name);
    instrument_.Settings().SetMidiInput(open ? name : std::string());
    if (!open && !name.empty()) {
        const QSignalBlocker block(PortCombo);
        PortCombo->setCurrentIndex(0); // it could not be opened
    }
}

void TMidiSettingsTab::ReferenceNoteChange() {
    instrument_.Settings().SetReferenceNote(ReferenceNoteBox->value());
    ReferenceNoteName->setText(NoteName(ReferenceNoteBox->value()));
}

void TMidiSettingsTab::MpeBoxClick() {
    instrument_.Settings().SetMpe(MpeBox->isChecked());
}

void TMidiSettingsTab::BendComboChange() {
    instrument_.Settings().SetBendPitch(BendCombo->currentIndex() == 0);
}

void TMidiSettingsTab::ReleaseComboChange() {
    instrument_.Settings().SetKeyReleaseDamps(ReleaseCombo->currentIndex() == 1);
}

} // namespace varko
