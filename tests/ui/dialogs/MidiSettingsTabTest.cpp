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
    TInstrument instrument;
    std::vector<std::string> ports = {"ALSA: Keystation:Keystation MIDI 1 20:0", "JACK: seq:out"};
    std::vector<std::string> opened;
    bool opens = true;
    std::unique_ptr<TMidiSettingsTab> tab;
    void SetUp() override {
        TMidiPortsOwner owner;
        owner.Ports = [this] { return ports; };
        owner.OpenPort = [this](const std::string& name) {
            opened.push_back(name);
            return opens && !name.empty();
        };
        tab = std::make_unique<TMidiSettingsTab>(instrument, owner);
        tab->ShowInstrumentSettings();
    }
    QStringList Items() const {
        QStringList items;
        for (int i = 0; i < tab->PortCombo->count(); ++i) {
            items << tab->PortCombo->itemText(i);
        }
        return items;
    }
    void Choose(int index) { test::TSettingsRig::Choose(tab->PortCombo, index); }
};

} // namespace

TEST_F(MidiTab, ListsNoneAndThePortsAndOpensTheChoice) {
    EXPECT_EQ(Items(), (QStringList{"none", QString::fromStdString(ports[0]), "JACK: seq:out"}));
    EXPECT_EQ(tab->PortCombo->currentIndex(), 0);
    Choose(2);
    EXPECT_EQ(opened, (std::vector<std::string>{"JACK: seq:out"}));
    EXPECT_EQ(instrument.Settings().Stored().MidiInput, "JACK: seq:out");
    Choose(0);
    EXPECT_EQ(opened.back(), "");
    EXPECT_EQ(instrument.Settings().Stored().MidiInput, "");
    // A port that will not open leaves none chosen.
    opens = false;
    Choose(1);
    EXPECT_EQ(tab->PortCombo->currentIndex(), 0);
    EXPECT_EQ(instrument.Settings().Stored().MidiInput, "");
}

TEST_F(MidiTab, AChosenPortThatIsNotPluggedInStaysTheChoiceShownAsGone) {
    instrument.Settings().SetMidiInput("ALSA: Launchkey:Launchkey MIDI 24:0");
    ports.pop_back();
    tab->ShowPorts();
    ASSERT_EQ(Items().size(), 3);
    EXPECT_EQ(tab->PortCombo->currentText(), "ALSA: Launchkey:Launchkey MIDI 24:0 (gone)");
    // Chosen again as it is: the port's own name, not the label's.
    Choose(2);
    EXPECT_EQ(opened.back(), "ALSA: Launchkey:Launchkey MIDI 24:0");
}

TEST_F(MidiTab, SaysWhenNoMidiSystemAnswers) {
    TMidiPortsOwner owner;
    owner.Ports = [] { return std::vector<std::string>{}; };
    bool reachable = false;
    owner.Reachable = [&reachable] { return reachable; };
    owner.JackInput = [] { return true; };
    TMidiSettingsTab lonely(instrument, owner);
    lonely.ShowPorts();
    EXPECT_TRUE(lonely.VirtualPortNote->text().startsWith("No MIDI system answers"))
        << lonely.VirtualPortNote->text().toStdString();
    reachable = true;
    lonely.ShowPorts();
    EXPECT_TRUE(lonely.VirtualPortNote->text().contains("Varko:midi_in"));
}

TEST_F(MidiTab, ReferenceNoteAndZoneGoToTheInstrument) {
    EXPECT_EQ(tab->ReferenceNoteBox->value(), 60);
    EXPECT_EQ(tab->ReferenceNoteName->text(), "C4");
    tab->ReferenceNoteBox->setValue(69);
    EXPECT_EQ(instrument.Midi().ReferenceNote(), 69);
    EXPECT_EQ(instrument.Settings().Stored().ReferenceNote, 69);
    EXPECT_EQ(tab->ReferenceNoteName->text(), "A4");
    EXPECT_EQ(TMidiSettingsTab::NoteName(0), "C-1");
    EXPECT_TRUE(tab->MpeBox->isChecked());
    tab->MpeBox->click();
    EXPECT_FALSE(instrument.Midi().Mpe());
    // Settings read from the file show without running the handlers again.
    instrument.Settings().SetReferenceNote(48);
    instrument.Settings().SetMpe(true);
    tab->ShowInstrumentSettings();
    EXPECT_EQ(tab->ReferenceNoteBox->value(), 48);
    EXPECT_EQ(tab->ReferenceNoteName->text(), "C3");
    EXPECT_TRUE(tab->MpeBox->isChecked());
}

TEST_F(MidiTab, KeyReleaseRingsOnUnlessSetToDamp) {
    EXPECT_EQ(tab->ReleaseCombo->currentText(), "rings on");
    test::TSettingsRig::Choose(tab->ReleaseCombo, 1);
    EXPECT_TRUE(instrument.Midi().ReleaseDamps());
    EXPECT_TRUE(instrument.Settings().Stored().KeyReleaseDamps);
    instrument.Settings().SetKeyReleaseDamps(false);
    tab->ShowInstrumentSettings();
    EXPECT_EQ(tab->ReleaseCombo->currentText(), "rings on");
}

TEST_F(MidiTab, ShowsWhole) {
    // Every control inside the tab's page (353 x 273 less the tab bar), none overlapping.
    tab->resize(345, 222);
    const QList<QWidget*> controls = {
        tab->PortLabel,         tab->PortCombo,      tab->ReferenceLabel, tab->ReferenceNoteBox,
        tab->ReferenceNoteName, tab->ReferenceNote,  tab->MpeBox,         tab->ReleaseLabel,
        tab->ReleaseCombo,      tab->VirtualPortNote};
    for (QWidget* w : controls) {
        EXPECT_TRUE(tab->rect().contains(w->geometry()))
            << w->metaObject()->className() << " " << w->geometry().bottom();
    }
    for (int i = 0; i < controls.size(); ++i) {
        for (int j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << i << " " << j;
        }
    }
    if (const char* shot = std::getenv("VARKO_SCREENSHOTS")) {
        tab->grab().save(QString::fromLocal8Bit(shot) + "/midi-tab.png");
    }
}
