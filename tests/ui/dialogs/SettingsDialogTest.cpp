#include "SettingsRig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

#include <gtest/gtest.h>

using namespace varko;
using namespace varko::test;
using Log = std::vector<std::string>;

namespace {

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

} // namespace

TEST(SettingsDialog, LayoutCaptionsAndInitialStates) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    EXPECT_EQ(f.windowTitle(), "Settings");
    EXPECT_EQ(f.size(), QSize(368, 316));
    EXPECT_FALSE(f.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(f.font().pointSize(), 8);
    EXPECT_EQ(f.Tabs->geometry(), QRect(8, 8, 353, 301));
    ASSERT_EQ(f.Tabs->count(), 4);
    EXPECT_EQ(f.Tabs->tabText(0), "Sound");
    EXPECT_EQ(f.Tabs->tabText(1), "Input");
    EXPECT_EQ(f.Tabs->tabText(2), "Display");
    EXPECT_EQ(f.Tabs->tabText(3), "MIDI");

    EXPECT_EQ(f.DriverLabel->text(), "Audio driver:");
    EXPECT_EQ(f.DriverPanelButton->text(), "Audio Panel");
    EXPECT_EQ(f.DriverPanelButton->geometry(), QRect(8, 104, 97, 29));
    EXPECT_FALSE(f.DriverPanelButton->isEnabled());
    EXPECT_EQ(f.DriverCombo->geometry().topLeft(), QPoint(8, 24));
    EXPECT_EQ(Items(f.DriverCombo), QStringList({"JACK: system", "ALSA: hw:1", "ALSA: silent"}));
    EXPECT_EQ(f.DriverCombo->currentIndex(), -1);
    EXPECT_EQ(f.ChannelBox->count(), 0);
    EXPECT_TRUE(f.StereoBox->isChecked());
    EXPECT_EQ(f.StereoBox->text(), "Stereo Separation");
    // Exact pitch is offered, on, with what it costs.
    for (QWidget* w :
         {static_cast<QWidget*>(f.InterpolateBox), static_cast<QWidget*>(f.InterpolateNote),
          static_cast<QWidget*>(f.RefreshTonesLink)}) {
        EXPECT_FALSE(w->isHidden());
        EXPECT_LE(w->geometry().bottom(), f.StereoBox->parentWidget()->height());
    }
    EXPECT_TRUE(f.InterpolateBox->isChecked());
    EXPECT_TRUE(f.InterpolateNote->text().contains("processor time"));

    EXPECT_EQ(f.ResonanceRateSlider->minimum(), 1);
    EXPECT_EQ(f.ResonanceRateSlider->maximum(), 10);
    EXPECT_EQ(f.ResonanceRateSlider->value(), 4);
    EXPECT_EQ(f.ResonanceButtonsGroup->title(), " Resonance Control ");
    EXPECT_EQ(f.ResonanceButtonsIndex(), 0);
    EXPECT_EQ(f.RightRaisesRadio->text(), "Use right-click to raise, middle-click to lower.");
    EXPECT_FALSE(f.MousePressureBox->isChecked());
    EXPECT_EQ(f.MousePressureBox->text(), "Apply pressure with the left mouse button.");
    EXPECT_EQ(f.MousePressureInfo->toolTip(), "Turning this on disables pressure sensitivity.");
    EXPECT_GE(f.MousePressureInfo->x(), f.MousePressureBox->geometry().right());
    EXPECT_FALSE(f.MouseGlideBox->isChecked());
    EXPECT_EQ(f.MouseGlideBox->text(), "Mouse drag plays every bar it crosses");

    EXPECT_TRUE(f.ColoredBarsBox->isChecked());
    EXPECT_TRUE(f.FrequencyLabelsBox->isChecked());
    EXPECT_FALSE(f.TwoRowsBox->isChecked());
    EXPECT_TRUE(f.MainLevelsBox->isChecked());
    EXPECT_TRUE(f.PressureLevelBox->isChecked());
    EXPECT_EQ(f.MainLevelsBox->x(), 24);
    EXPECT_GE(f.MainLevelsBox->y(), 128);
    // A note that wraps keeps the boxes below it.
    EXPECT_GT(f.MainLevelsBox->y(), f.LevelsNote->geometry().bottom());

    // Building the dialog runs no handler.
    EXPECT_TRUE(rig.Calls.empty());
    EXPECT_TRUE(rig.Host->Log.empty());
}

TEST(SettingsDialog, DriverChoiceFillsPairsFromNamesAndStartsTheAudio) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    TSettingsRig::Choose(f.DriverCombo, 0);
    // Five channels give two pairs; the odd last one has none.
    EXPECT_EQ(Items(f.ChannelBox),
              QStringList({"playback_1 / playback_2", "playback_3 / playback_4"}));
    EXPECT_EQ(f.ChannelBox->currentIndex(), 0);
    EXPECT_EQ(rig.Host->Index, 0);
    EXPECT_TRUE(rig.Engine().Running.load());
    EXPECT_TRUE(f.DriverPanelButton->isEnabled());
    EXPECT_EQ(rig.Instrument.Audio().AudioStatus(), "Running");
    // Selecting pair 0 does not run the channel change: the offset is left alone.
    EXPECT_EQ(rig.Host->Log, Log({"stop", "driver 0", "start"}));

    // Names end at their first NUL.
    TSettingsRig::Choose(f.DriverCombo, 1);
    EXPECT_EQ(Items(f.ChannelBox), QStringList({"Left / Right"}));
    EXPECT_EQ(rig.Host->Index, 1);
}

TEST(SettingsDialog, ChoosingTheOpenDriverAgainRebuildsTheListAndRestarts) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    TSettingsRig::Choose(f.DriverCombo, 0);
    TSettingsRig::Choose(f.ChannelBox, 1);
    EXPECT_EQ(rig.Host->Offset, 2);
    rig.Host->Log.clear();
    TSettingsRig::Choose(f.DriverCombo, 0);
    EXPECT_EQ(rig.Host->Log, Log({"stop", "driver 0", "start"}));
    EXPECT_EQ(f.ChannelBox->count(), 2);
    EXPECT_EQ(f.ChannelBox->currentIndex(), 0);
    EXPECT_TRUE(rig.Engine().Running.load());
}

TEST(SettingsDialog, DriversOfOneNameOpenTheFirst) {
    TSettingsRig rig({{"Twin", {"a", "b"}}, {"Twin", {"c", "d"}}});
    TSettingsRig::Choose(rig.Form->DriverCombo, 1);
    EXPECT_EQ(rig.Form->DriverCombo->currentIndex(), 0);
    EXPECT_EQ(rig.Host->Index, 0);
    EXPECT_EQ(Items(rig.Form->ChannelBox), QStringList({"a / b"}));
}

TEST(SettingsDialog, DriverWithoutOutputsStartsWithAnEmptyChannelList) {
    TSettingsRig rig;
    TSettingsRig::Choose(rig.Form->DriverCombo, 2);
    EXPECT_EQ(rig.Form->ChannelBox->count(), 0);
    EXPECT_EQ(rig.Form->ChannelBox->currentIndex(), -1);
    EXPECT_TRUE(rig.Engine().Running.load());
    EXPECT_TRUE(rig.Form->DriverPanelButton->isEnabled());
}

TEST(SettingsDialog, NoDriverSelectedStopsAndLeavesTheChannelsAlone) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    TSettingsRig::Choose(f.DriverCombo, 0);
    f.DriverCombo->setCurrentIndex(-1);
    f.DriverComboChange();
    EXPECT_FALSE(rig.Engine().Running.load());
    EXPECT_FALSE(f.DriverPanelButton->isEnabled());
    EXPECT_EQ(f.ChannelBox->count(), 2);
    EXPECT_EQ(rig.Host->Log.back(), "stop");
}

TEST(SettingsDialog, ChannelChangeMovesTheOffsetOnlyWithADriver) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    // No driver: nothing at all happens.
    f.ChannelBox->addItem("stale / pair");
    TSettingsRig::Choose(f.ChannelBox, 0);
    EXPECT_TRUE(rig.Host->Log.empty());
    EXPECT_FALSE(rig.Engine().Running.load());
    EXPECT_TRUE(rig.Calls.empty());

    TSettingsRig::Choose(f.DriverCombo, 0);
    rig.Host->Log.clear();
    rig.Calls.clear();
    TSettingsRig::Choose(f.ChannelBox, 1);
    EXPECT_EQ(rig.Host->Log, Log({"stop", "offset 2", "start"}));
    EXPECT_EQ(rig.Host->Offset, 2);
    EXPECT_TRUE(rig.Engine().Running.load());
    EXPECT_EQ(rig.Instrument.Audio().AudioStatus(), "Running");
}

TEST(SettingsDialog, ControlPanelRestartsOnlyWhatWasRunning) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    TSettingsRig::Choose(f.DriverCombo, 0);
    rig.Host->Log.clear();
    rig.Calls.clear();
    f.DriverPanelButton->click();
    // The panel opens with the driver stopped.
    EXPECT_EQ(rig.Host->Log, Log({"stop", "panel", "start"}));
    EXPECT_EQ(rig.Instrument.Audio().AudioStatus(), "Running");
    EXPECT_TRUE(rig.Engine().Running.load());

    // Stopped audio (the watchdog, F6) stays stopped.
    rig.Engine().Stop();
    rig.Host->Log.clear();
    rig.Calls.clear();
    f.DriverPanelButton->click();
    EXPECT_EQ(rig.Host->Log, Log({"panel"}));
    EXPECT_FALSE(rig.Engine().Running.load());

    // Running without a channel pair: stopped for the panel and not restarted.
    TSettingsRig::Choose(f.DriverCombo, 2);
    f.DriverPanelButton->click();
    EXPECT_FALSE(rig.Engine().Running.load());
    EXPECT_EQ(rig.Instrument.Audio().AudioStatus(), "Stopped");
}

TEST(SettingsDialog, RateTrackBarSetsBothTimersOnlyWhenItMoves) {
    TSettingsRig rig;
    QSlider* trk = rig.Form->ResonanceRateSlider;
    trk->setValue(4);
    EXPECT_EQ(rig.RezInterval, 30);
    trk->setValue(1);
    EXPECT_EQ(rig.RezInterval, 5);
    trk->setValue(10);
    EXPECT_EQ(rig.RezInterval, 50);
    // Back at the initial position the timers run at 20 ms, no longer at 30.
    trk->setValue(4);
    EXPECT_EQ(rig.RezInterval, 20);
    EXPECT_EQ(rig.Calls, Log({"rez timers 5", "rez timers 50", "rez timers 20"}));
}

TEST(SettingsDialog, RadioGroupSwapsTheResonanceButtons) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    f.RightRaisesRadio->click();
    EXPECT_EQ(f.ResonanceButtonsIndex(), 1);
    EXPECT_EQ(rig.Playing().ResonanceRaiseButton, TMouseButton::mbRight);
    EXPECT_EQ(rig.Playing().ResonanceLowerButton, TMouseButton::mbMiddle);
    f.MiddleRaisesRadio->click();
    EXPECT_EQ(rig.Playing().ResonanceRaiseButton, TMouseButton::mbMiddle);
    EXPECT_EQ(rig.Playing().ResonanceLowerButton, TMouseButton::mbRight);
    // Clearing the selection clicks no item: the buttons stay.
    f.SetResonanceButtonsIndex(-1);
    EXPECT_EQ(f.ResonanceButtonsIndex(), -1);
    EXPECT_FALSE(f.MiddleRaisesRadio->isChecked());
    EXPECT_EQ(rig.Playing().ResonanceRaiseButton, TMouseButton::mbMiddle);
    f.SetResonanceButtonsIndex(1);
    EXPECT_EQ(rig.Playing().ResonanceRaiseButton, TMouseButton::mbRight);
}

TEST(SettingsDialog, MouseBoxSwitchesBetweenTabletAndMouse) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    rig.Playing().LastPointerX = 5000;
    f.MousePressureBox->click();
    EXPECT_FALSE(rig.Tablet->Enabled());
    EXPECT_TRUE(rig.Playing().MousePressure);
    EXPECT_EQ(rig.Status[0], "Standard mouse");
    EXPECT_EQ(rig.Playing().LastPointerX, 123);
    EXPECT_EQ(rig.Playing().LastPointerY, 45);

    f.MousePressureBox->click();
    EXPECT_TRUE(rig.Tablet->Enabled());
    EXPECT_FALSE(rig.Playing().MousePressure);
    EXPECT_EQ(rig.Status[0], "Test Pen");
    EXPECT_EQ(rig.Playing().LastPointerX, 0);
    EXPECT_EQ(rig.Playing().LastPointerY, 0);

    // The glide box reaches the playing logic and the settings the file stores.
    f.MouseGlideBox->click();
    EXPECT_TRUE(rig.Playing().MouseGlide);
    EXPECT_TRUE(rig.Instrument.Settings().Stored().MouseGlide);
    f.MouseGlideBox->click();
    EXPECT_FALSE(rig.Playing().MouseGlide);
}

TEST(SettingsDialog, WithoutATabletTheMouseStaysTheInput) {
    TSettingsRig rig(StandardDrivers(), false);
    TSettingsDialog& f = *rig.Form;
    // What start-up does on a machine without a tablet.
    f.MousePressureBox->setChecked(true);
    f.MousePressureBox->setEnabled(false);
    EXPECT_TRUE(rig.Playing().MousePressure);
    EXPECT_EQ(rig.Status[0], "Standard mouse");
    f.MousePressureBox->setChecked(false);
    EXPECT_FALSE(rig.Tablet->Enabled());
    EXPECT_EQ(rig.Status[0], "Standard mouse");
}

TEST(SettingsDialog, SoundAndDisplayBoxesReachFlagsEngineAndWindow) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    auto clicked = [&](QCheckBox* box) {
        rig.Calls.clear();
        box->click();
        return rig.Calls;
    };

    const TVarkoSettings& flags = rig.Instrument.Settings().Stored();
    EXPECT_TRUE(clicked(f.StereoBox).empty());
    EXPECT_FALSE(flags.StereoSeparation);
    EXPECT_FALSE(rig.Engine().Stereo.load());

    EXPECT_TRUE(f.LimiterBox->isChecked());
    EXPECT_TRUE(clicked(f.LimiterBox).empty());
    EXPECT_FALSE(flags.Limiter);
    EXPECT_FALSE(rig.Engine().Limit.load());

    EXPECT_TRUE(clicked(f.InterpolateBox).empty());
    EXPECT_FALSE(flags.InterpolateDelays);
    EXPECT_FALSE(rig.Instrument.BankInput().InterpolateDelays);

    EXPECT_EQ(clicked(f.ColoredBarsBox), Log({"repaint"}));
    EXPECT_FALSE(flags.ColoredToneZone);
    EXPECT_EQ(clicked(f.FrequencyLabelsBox), Log({"repaint"}));
    EXPECT_FALSE(flags.ShowFrequencyLabels);

    EXPECT_EQ(clicked(f.TwoRowsBox), Log({"repaint"}));
    EXPECT_TRUE(flags.Paint2Rows);
    EXPECT_TRUE(rig.Engine().TwoRowPanning.load());

    EXPECT_EQ(clicked(f.MainLevelsBox), Log({"level bars 0", "level timer off"}));
    EXPECT_FALSE(flags.ShowMainLevels);
    EXPECT_FALSE(rig.Engine().MeterPeaks.load());
    EXPECT_EQ(clicked(f.MainLevelsBox), Log({"level bars 0", "level timer on"}));
    EXPECT_TRUE(rig.Engine().MeterPeaks.load());

    EXPECT_EQ(clicked(f.PressureLevelBox), Log({"pressure bar 0"}));
    EXPECT_FALSE(flags.ShowPressureLevel);
    EXPECT_FALSE(rig.Playing().ShowPressureLevel);

    // Setting a box to the state it has runs nothing.
    rig.Calls.clear();
    f.TwoRowsBox->setChecked(true);
    EXPECT_TRUE(rig.Calls.empty());
}

TEST(SettingsDialog, MissingOwnerCallbacksAreSkipped) {
    TInstrument instrument;
    instrument.AttachHost(std::make_unique<TFakeHost>(StandardDrivers()));
    TTablet tablet(nullptr);
    TSettingsDialog f(instrument, tablet, TSettingsOwner{});
    f.FillDriverList();
    TSettingsRig::Choose(f.DriverCombo, 0);
    for (QCheckBox* box : {f.MousePressureBox, f.ColoredBarsBox, f.FrequencyLabelsBox, f.TwoRowsBox,
                           f.MainLevelsBox, f.PressureLevelBox}) {
        box->click();
    }
    f.ResonanceRateSlider->setValue(9);
    f.DriverPanelButton->click();
    f.RefreshTonesClick();
    EXPECT_TRUE(instrument.Audio().Running());
    EXPECT_TRUE(instrument.Playing().MousePressure);
    EXPECT_EQ(instrument.Playing().LastPointerX, 0);
}

TEST(SettingsDialog, SettingsReadIntoTheInstrumentShowInTheControls) {
    TSettingsRig rig;
    TVarkoSettings s;
    s.StereoSeparation = false;
    s.ResonanceControl = 1;
    s.ResonanceRate = 8;
    s.AllowMouse = true;
    s.MouseGlide = true;
    s.ShowMainLevels = false;
    s.ShowPressureLevel = false;
    s.ShowFrequencyLabels = false;
    s.Paint2Rows = true;
    s.ColoredToneZone = false;
    rig.Instrument.ApplySettings(s);
    rig.Calls.clear();
    TSettingsDialog& f = *rig.Form;
    f.ShowInstrumentSettings();
    // Only what changed runs the window's part of its handler, in the controls' order.
    EXPECT_EQ(rig.Calls,
              Log({"rez timers 40", "panel 0 Standard mouse", "level bars 0", "level timer off",
                   "pressure bar 0", "repaint", "repaint", "repaint"}));
    EXPECT_EQ(f.DriverCombo->currentIndex(), 0);
    EXPECT_EQ(Items(f.ChannelBox),
              QStringList({"playback_1 / playback_2", "playback_3 / playback_4"}));
    EXPECT_TRUE(f.DriverPanelButton->isEnabled());
    EXPECT_FALSE(f.StereoBox->isChecked());
    EXPECT_EQ(f.ResonanceButtonsIndex(), 1);
    EXPECT_EQ(f.ResonanceRateSlider->value(), 8);
    EXPECT_TRUE(f.MousePressureBox->isChecked());
    EXPECT_TRUE(f.MouseGlideBox->isChecked());
    EXPECT_FALSE(rig.Tablet->Enabled());
    EXPECT_TRUE(f.TwoRowsBox->isChecked());
    rig.Calls.clear();
    f.ShowInstrumentSettings();
    EXPECT_TRUE(rig.Calls.empty());
}

// The render choice rebuilds a bank that plays, on the renderer chosen, and shows what the
// settings say.
TEST(SettingsDialog, RenderTonesChoiceRebuildsTheBankOnThePool) {
    TSettingsRig rig;
    TSettingsDialog& f = *rig.Form;
    ScalaFile scale;
    scale.Degrees = {1.0f, 1.25f, 1.5f};
    rig.Instrument.Bank().UseScale(std::move(scale), "");
    rig.Instrument.Apply();
    ASSERT_EQ(rig.Engine().Oscillators.size(), 3u);
    const TTone* before = rig.Engine().Oscillators[0].get();
    EXPECT_EQ(f.RenderTonesCombo->currentIndex(), 0);
    TSettingsRig::Choose(f.RenderTonesCombo, 1);
    EXPECT_TRUE(rig.Instrument.Settings().Stored().ToneThreadsPerCore);
    EXPECT_EQ(rig.Engine().RenderingInUse().Threads, TToneThreads::PerCore);
    ASSERT_EQ(rig.Engine().Oscillators.size(), 3u);
    EXPECT_NE(rig.Engine().Oscillators[0].get(), before);

    TVarkoSettings s = rig.Instrument.Settings().Stored();
    s.ToneThreadsPerCore = false;
    rig.Instrument.ApplySettings(s);
    f.ShowInstrumentSettings();
    EXPECT_EQ(f.RenderTonesCombo->currentIndex(), 0);
    EXPECT_EQ(rig.Engine().RenderingInUse().Threads, TToneThreads::PerTone);
}
