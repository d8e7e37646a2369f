// The settings dialog's MIDI tab over an instrument and a scripted set of ports.
#include "ui/dialogs/MidiSettingsTab.h"

#include "SettingsRig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace varko;

namespace {

struct MidiTab : ::testing::Test {
    TInstrument Instrument;
    std::vector<std::string> Ports = {"ALSA: Keystation:Keystation MIDI 1 20:0", "JACK: seq:out"};
    std::vector<std::string> Opened;
    bool Opens = true;
    std::unique_ptr<TMidiSettingsTab> Tab;
    void SetUp() override {
        TMidiPortsOwner owner;
        owner.Ports = [this] { return Ports; };
        owner.OpenPort = [this](const std::string& name) {
            Opened.push_back(name);
            return Opens && !name.empty();
        };
        Tab = std::make_unique<TMidiSettingsTab>(Instrument, owner);
        Tab->ShowInstrumentSettings();
    }
    QStringList Items() const {
        QStringList items;
        for (int i = 0; i < Tab->PortCombo->count(); ++i) {
            items << Tab->PortCombo->itemText(i);
        }
        return items;
    }
    void Choose(int index) { test::TSettingsRig::Choose(Tab->PortCombo, index); }
};

} // namespace

TEST_F(MidiTab, ListsNoneAndThePortsAndOpensTheChoice) {
    EXPECT_EQ(Items(), (QStringList{"none", QString::fromStdString(Ports[0]), "JACK: seq:out"}));
    EXPECT_EQ(Tab->PortCombo->currentIndex(), 0);
    Choose(2);
    EXPECT_EQ(Opened, (std::vector<std::string>{"JACK: seq:out"}));
    EXPECT_EQ(Instrument.Settings().Stored().MidiInput, "JACK: seq:out");
    Choose(0);
    EXPECT_EQ(Opened.back(), "");
    EXPECT_EQ(Instrument.Settings().Stored().MidiInput, "");
    // A port that will not open leaves none chosen.
    Opens = false;
    Choose(1);
    EXPECT_EQ(Tab->PortCombo->currentIndex(), 0);
    EXPECT_EQ(Instrument.Settings().Stored().MidiInput, "");
}

TEST_F(MidiTab, AChosenPortThatIsNotPluggedInStaysTheChoiceShownAsGone) {
    Instrument.Settings().SetMidiInput("ALSA: Launchkey:Launchkey MIDI 24:0");
    Ports.pop_back();
    Tab->ShowPorts();
    ASSERT_EQ(Items().size(), 3);
    EXPECT_EQ(Tab->PortCombo->currentText(), "ALSA: Launchkey:Launchkey MIDI 24:0 (gone)");
    // Chosen again as it is: the port's own name, not the label's.
    Choose(2);
    EXPECT_EQ(Opened.back(), "ALSA: Launchkey:Launchkey MIDI 24:0");
}

TEST_F(MidiTab, SaysWhenNoMidiSystemAnswers) {
    TMidiPortsOwner owner;
    owner.Ports = [] { return std::vector<std::string>{}; };
    bool reachable = false;
    owner.Reachable = [&reachable] { return reachable; };
    owner.JackInput = [] { return true; };
    TMidiSettingsTab lonely(Instrument, owner);
    lonely.ShowPorts();
    EXPECT_TRUE(lonely.VirtualPortNote->text().startsWith("No MIDI system answers"))
        << lonely.VirtualPortNote->text().toStdString();
    reachable = true;
    lonely.ShowPorts();
    EXPECT_TRUE(lonely.VirtualPortNote->text().contains("Varko:midi_in"));
}

TEST_F(MidiTab, ReferenceNoteAndZoneGoToTheInstrument) {
    EXPECT_EQ(Tab->ReferenceNoteBox->value(), 60);
    EXPECT_EQ(Tab->ReferenceNoteName->text(), "C4");
    Tab->ReferenceNoteBox->setValue(69);
    EXPECT_EQ(Instrument.Midi().ReferenceNote(), 69);
    EXPECT_EQ(Instrument.Settings().Stored().ReferenceNote, 69);
    EXPECT_EQ(Tab->ReferenceNoteName->text(), "A4");
    EXPECT_EQ(TMidiSettingsTab::NoteName(0), "C-1");
    EXPECT_TRUE(Tab->MpeBox->isChecked());
    Tab->MpeBox->click();
    EXPECT_FALSE(Instrument.Midi().Mpe());
    // Settings read from the file show without running the handlers again.
    Instrument.Settings().SetReferenceNote(48);
    Instrument.Settings().SetMpe(true);
    Tab->ShowInstrumentSettings();
    EXPECT_EQ(Tab->ReferenceNoteBox->value(), 48);
    EXPECT_EQ(Tab->ReferenceNoteName->text(), "C3");
    EXPECT_TRUE(Tab->MpeBox->isChecked());
}

TEST_F(MidiTab, KeyReleaseRingsOnUnlessSetToDamp) {
    EXPECT_EQ(Tab->ReleaseCombo->currentText(), "rings on");
    test::TSettingsRig::Choose(Tab->ReleaseCombo, 1);
    EXPECT_TRUE(Instrument.Midi().ReleaseDamps());
    EXPECT_TRUE(Instrument.Settings().Stored().KeyReleaseDamps);
    Instrument.Settings().SetKeyReleaseDamps(false);
    Tab->ShowInstrumentSettings();
    EXPECT_EQ(Tab->ReleaseCombo->currentText(), "rings on");
}

TEST_F(MidiTab, ShowsWhole) {
    // Every control inside the tab's page (353 x 273 less the tab bar), none overlapping.
    Tab->resize(345, 222);
    const QList<QWidget*> controls = {
        Tab->PortLabel,         Tab->PortCombo,      Tab->ReferenceLabel, Tab->ReferenceNoteBox,
        Tab->ReferenceNoteName, Tab->ReferenceNote,  Tab->MpeBox,         Tab->ReleaseLabel,
        Tab->ReleaseCombo,      Tab->VirtualPortNote};
    for (QWidget* w : controls) {
        EXPECT_TRUE(Tab->rect().contains(w->geometry()))
            << w->metaObject()->className() << " " << w->geometry().bottom();
    }
    for (int i = 0; i < controls.size(); ++i) {
        for (int j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << i << " " << j;
        }
    }
    if (const char* shot = std::getenv("VARKO_SCREENSHOTS")) {
        Tab->grab().save(QString::fromLocal8Bit(shot) + "/midi-tab.png");
    }
}
