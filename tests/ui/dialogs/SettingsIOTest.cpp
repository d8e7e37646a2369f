#include "SettingsRig.h"

#include "ui/dialogs/SettingsIO.h"
#include "engine/NullHost.h"
#include "files/SettingsFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace varko;
using namespace varko::test;
namespace fs = std::filesystem;

namespace {

// Varko's folder under this process's XDG_CONFIG_HOME, emptied around each test.
class SettingsIO : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(SettingsFolder()); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(SettingsFolder(), ec);
    }
    static std::string Slurp(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Spit(const std::string& text) {
        fs::create_directories(SettingsFolder());
        std::ofstream(SettingsFilePath(), std::ios::binary) << text;
    }
    // Reads the file into a fresh rig; returns the master level it set (-1: none).
    static int Load(TSettingsRig& rig, bool expectOk = true) {
        int level = -1;
        std::string message;
        const bool ok = LoadSettingsFile(
            *rig.Form, SettingsFilePath(), [&](int v) { level = v; }, message);
        EXPECT_EQ(ok, expectOk);
        EXPECT_EQ(message, expectOk ? "" : "Your settings could not be retrieved.");
        return level;
    }
};

} // namespace

TEST_F(SettingsIO, FirstRunOpensDriverZeroAndWritesEveryKeyInOrder) {
    TSettingsRig rig;
    EXPECT_EQ(Load(rig), 20);
    EXPECT_EQ(rig.Form->DriverCombo->currentIndex(), 0);
    EXPECT_EQ(rig.Form->ChannelBox->currentIndex(), 0);
    EXPECT_TRUE(rig.Engine.Running.load());
    EXPECT_EQ(rig.Status[4], "Running");
    // Pair 0 was already selected; the offset is never touched, the timers keep 30 ms.
    EXPECT_EQ(rig.Host->Log,
              (std::vector<std::string>{"stop", "driver 0", "start", "stop", "offset 0", "start"}));
    EXPECT_EQ(rig.RezInterval, 30);

    ASSERT_TRUE(SaveSettingsFile(*rig.Form, SettingsFilePath(), 20));
    EXPECT_EQ(Slurp(SettingsFilePath()), "[Sound]\n"
                                         "ASIOdriver=0\n"
                                         "ASIOdriverName=JACK: system\n"
                                         "ASIOchannel=0\n"
                                         "StereoSeparation=1\n"
                                         "InterpolateDelays=0\n"
                                         "MasterLevel=20\n"
                                         "\n"
                                         "[Input]\n"
                                         "ResonanceControl=0\n"
                                         "ResonanceRate=4\n"
                                         "AllowMouse=0\n"
                                         "\n"
                                         "[UI]\n"
                                         "ShowMainLevels=1\n"
                                         "ShowPressureLevel=1\n"
                                         "ShowFrequencyLabels=1\n"
                                         "Paint2Rows=0\n"
                                         "ColoredToneZone=1\n");
}

TEST_F(SettingsIO, EverySettingSurvivesARestartAndUnknownLinesStay) {
    Spit("; Varko\n[Sound]\nASIOdriver=0\nFuture=yes\n\n[Plugins]\nx=1\n");
    {
        TSettingsRig rig;
        Load(rig);
        TSettingsDialog& f = *rig.Form;
        TSettingsRig::Choose(f.DriverCombo, 1);
        f.StereoBox->click();
        f.InterpolateBox->setChecked(true);
        f.RightRaisesRadio->click();
        f.ResonanceRateSlider->setValue(8);
        f.MousePressureBox->click();
        f.MainLevelsBox->click();
        f.PressureLevelBox->click();
        f.FrequencyLabelsBox->click();
        f.TwoRowsBox->click();
        f.ColoredBarsBox->click();
        ASSERT_TRUE(SaveSettingsFile(f, SettingsFilePath(), 137));
    }
    const std::string text = Slurp(SettingsFilePath());
    EXPECT_EQ(text.rfind("; Varko\n[Sound]\nASIOdriver=1\nFuture=yes\n", 0), 0u) << text;
    EXPECT_NE(text.find("[Plugins]\nx=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ASIOdriverName=ALSA: hw:1\n"), std::string::npos) << text;

    TSettingsRig rig;
    EXPECT_EQ(Load(rig), 137);
    TSettingsDialog& f = *rig.Form;
    EXPECT_EQ(rig.Host->Index, 1);
    EXPECT_TRUE(rig.Engine.Running.load());
    EXPECT_FALSE(rig.Flags.StereoSeparation);
    EXPECT_FALSE(rig.Engine.Stereo.load());
    EXPECT_TRUE(rig.Flags.InterpolateDelays);
    EXPECT_EQ(rig.Playing.ResonanceRaiseButton, TMouseButton::mbRight);
    EXPECT_EQ(rig.RezInterval, 40);
    EXPECT_TRUE(rig.Playing.MousePressure);
    EXPECT_FALSE(rig.Tablet->Enabled());
    EXPECT_EQ(rig.Status[0], "Standard mouse");
    EXPECT_FALSE(rig.Flags.ShowMainLevels);
    EXPECT_FALSE(rig.Engine.MeterPeaks.load());
    EXPECT_FALSE(rig.Flags.ShowPressureLevel);
    EXPECT_FALSE(rig.Flags.ShowFrequencyLabels);
    EXPECT_TRUE(rig.Flags.Paint2Rows);
    EXPECT_TRUE(rig.Engine.TwoRowPanning.load());
    EXPECT_FALSE(rig.Flags.ColoredToneZone);
    const TVarkoSettings s = f.CurrentSettings(137);
    EXPECT_EQ(s.ASIOdriverName, "ALSA: hw:1");
    EXPECT_EQ(s.ResonanceControl, 1);
    EXPECT_EQ(s.ResonanceRate, 8);
}

TEST_F(SettingsIO, KeysApplyInOrderRunningHandlersOnlyOnChange) {
    Spit("[Sound]\nASIOdriver=0\nASIOchannel=1\nStereoSeparation=1\nMasterLevel=20\n"
         "[Input]\nResonanceControl=0\nResonanceRate=4\n"
         "[UI]\nShowMainLevels=0\nShowPressureLevel=0\nShowFrequencyLabels=0\nPaint2Rows=1\n"
         "ColoredToneZone=0\n");
    TSettingsRig rig;
    Load(rig);
    EXPECT_EQ(rig.Calls,
              (std::vector<std::string>{"panel 4 Running", // driver
                                        "panel 4 Running", // channel pair 1
                                        "level bars 0", "level timer off", "pressure bar 0",
                                        "repaint", "repaint", "stereo constants", "repaint"}));
    EXPECT_EQ(rig.Host->Offset, 2);
}

TEST_F(SettingsIO, HexLettersAndLimits) {
    Spit("[Sound]\nASIOdriver=0x1\nASIOchannel=7\nMasterLevel=abc\nStereoSeparation=0x0\n"
         "[Input]\nResonanceControl=5\nResonanceRate=0XA\nAllowMouse=what\n"
         "[UI]\nPaint2Rows=-3\nShowMainLevels=\n");
    TSettingsRig rig;
    EXPECT_EQ(Load(rig), 20);
    TSettingsDialog& f = *rig.Form;
    EXPECT_EQ(f.DriverCombo->currentIndex(), 1);
    // A pair beyond the list leaves no selection and the audio as the driver left it.
    EXPECT_EQ(f.ChannelBox->currentIndex(), -1);
    EXPECT_TRUE(rig.Engine.Running.load());
    EXPECT_FALSE(f.StereoBox->isChecked());
    EXPECT_EQ(f.ResonanceButtonsIndex(), 1);
    EXPECT_EQ(rig.RezInterval, 50);
    EXPECT_FALSE(f.MousePressureBox->isChecked());
    EXPECT_TRUE(f.TwoRowsBox->isChecked());
    EXPECT_TRUE(f.MainLevelsBox->isChecked());

    Spit("[Sound]\nMasterLevel=500\n[Input]\nResonanceControl=-9\nResonanceRate=-3\n");
    TSettingsRig low;
    EXPECT_EQ(Load(low), 200);
    EXPECT_EQ(low.Form->ResonanceButtonsIndex(), -1);
    // No item clicked: the buttons keep their start values.
    EXPECT_EQ(low.Playing.ResonanceRaiseButton, TMouseButton::mbMiddle);
    EXPECT_EQ(low.RezInterval, 5);
    EXPECT_EQ(low.Form->CurrentSettings(200).ResonanceControl, -1);
}

TEST_F(SettingsIO, DriverBeyondTheListLeavesTheAudioStopped) {
    Spit("[Sound]\nASIOdriver=9\n");
    TSettingsRig rig;
    Load(rig);
    EXPECT_EQ(rig.Form->DriverCombo->currentIndex(), -1);
    EXPECT_FALSE(rig.Engine.Running.load());
    EXPECT_EQ(rig.Host->Log, std::vector<std::string>{"stop"});
    const TVarkoSettings s = rig.Form->CurrentSettings(20);
    EXPECT_EQ(s.ASIOdriver, -1);
    EXPECT_EQ(s.ASIOdriverName, "");
    EXPECT_EQ(s.ASIOchannel, -1);
}

TEST_F(SettingsIO, StoredNameWinsOverAnIndexThatMoved) {
    // The device list changed since the last run: the stored index names another device.
    Spit("[Sound]\nASIOdriver=0\nASIOdriverName=ALSA: hw:1\n");
    {
        TSettingsRig rig;
        Load(rig);
        EXPECT_EQ(rig.Host->Index, 1);
    }
    // The named device is gone: the index is used as before names were stored.
    Spit("[Sound]\nASIOdriver=2\nASIOdriverName=USB: gone\n");
    {
        TSettingsRig rig;
        Load(rig);
        EXPECT_EQ(rig.Host->Index, 2);
    }
    Spit("[Sound]\nASIOdriver=7\nASIOdriverName=USB: gone\n");
    {
        TSettingsRig rig;
        Load(rig);
        EXPECT_EQ(rig.Form->DriverCombo->currentIndex(), -1);
    }
    // A file from before names were stored.
    Spit("[Sound]\nASIOdriver=1\nASIOchannel=0\n");
    {
        TSettingsRig rig;
        Load(rig);
        EXPECT_EQ(rig.Host->Index, 1);
        ASSERT_TRUE(SaveSettingsFile(*rig.Form, SettingsFilePath(), 20));
    }
    EXPECT_EQ(Slurp(SettingsFilePath())
                  .rfind("[Sound]\nASIOdriver=1\nASIOchannel=0\n"
                         "ASIOdriverName=ALSA: hw:1\n",
                         0),
              0u);
}

TEST_F(SettingsIO, MouseKeyIsNotReadWhenTheBoxWasForcedOn) {
    Spit("[Input]\nAllowMouse=0\n");
    TSettingsRig rig(StandardDrivers(), false);
    rig.Form->MousePressureBox->setChecked(true);
    rig.Form->MousePressureBox->setEnabled(false);
    Load(rig);
    EXPECT_TRUE(rig.Form->MousePressureBox->isChecked());
    EXPECT_TRUE(rig.Playing.MousePressure);

    // With a tablet the stored choice holds, and the tablet's context is switched off.
    Spit("[Input]\nAllowMouse=1\n");
    TSettingsRig pen;
    Load(pen);
    EXPECT_TRUE(pen.Form->MousePressureBox->isChecked());
    EXPECT_FALSE(pen.Tablet->Enabled());
}

TEST_F(SettingsIO, FailingHandlerKeepsWhatWasAppliedAndReports) {
    Spit("[Sound]\nStereoSeparation=0\n[Input]\nResonanceRate=9\n"
         "[UI]\nShowMainLevels=0\nColoredToneZone=0\n");
    TSettingsRig rig;
    // The level timer is the window's; let it fail.
    TSettingsOwner owner;
    owner.SetLevelTimerEnabled = [](bool) { throw std::runtime_error("timer"); };
    TSettingsDialog f(rig.Engine, *rig.Tablet, rig.Playing, rig.Flags, owner);
    f.FillDriverList();
    std::string message;
    EXPECT_FALSE(LoadSettingsFile(f, SettingsFilePath(), nullptr, message));
    EXPECT_EQ(message, "Your settings could not be retrieved.");
    EXPECT_TRUE(rig.Engine.Running.load());
    EXPECT_FALSE(f.StereoBox->isChecked());
    EXPECT_EQ(f.ResonanceRateSlider->value(), 9);
    EXPECT_FALSE(f.MainLevelsBox->isChecked());
    EXPECT_TRUE(f.ColoredBarsBox->isChecked()); // after the failure: not applied
}

TEST_F(SettingsIO, UnreadableFileReportsButStillStartsTheAudio) {
    fs::create_directories(SettingsFilePath()); // a folder where the file should be
    TSettingsRig rig;
    Load(rig, false);
    EXPECT_TRUE(rig.Engine.Running.load());
    EXPECT_EQ(rig.Form->DriverCombo->currentIndex(), 0);
    // Nor is it replaced at exit.
    std::string message;
    EXPECT_FALSE(SaveSettingsFile(*rig.Form, SettingsFilePath(), 20, message));
    EXPECT_EQ(message, "Your settings could not be saved.");
    EXPECT_TRUE(fs::is_directory(SettingsFilePath()));
}

TEST_F(SettingsIO, UnwritableFolderReportsAndLeavesNothing) {
    // Tests run as root, so permissions do not stop a write; a file in the folder's place does.
    Spit("");
    const std::string blocker = SettingsFolder() + "/plain";
    std::ofstream(blocker) << "x";
    const std::string path = blocker + "/Varko/Varko.ini";
    TSettingsRig rig;
    Load(rig);
    std::string message;
    EXPECT_FALSE(SaveSettingsFile(*rig.Form, path, 20, message));
    EXPECT_EQ(message, "Your settings could not be saved.");
    EXPECT_FALSE(SaveSettingsFile(*rig.Form, path, 20));
    EXPECT_EQ(Slurp(blocker), "x");
}

TEST_F(SettingsIO, SavingCreatesTheFolder) {
    ASSERT_FALSE(fs::exists(SettingsFolder()));
    TSettingsRig rig;
    std::string message;
    EXPECT_TRUE(SaveSettingsFile(*rig.Form, SettingsFilePath(), 20, message));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(fs::is_regular_file(SettingsFilePath()));
}

TEST_F(SettingsIO, NullHostFirstRunStartsTheNullDriver) {
    auto* host = new TNullHost(48000.0, 128, true, 2);
    TAudioEngine engine{std::unique_ptr<IAudioHost>(host)};
    TTablet tablet(nullptr);
    TNoTones tones;
    TPlaying playing(tones);
    TSettingsFlags flags;
    TSettingsDialog f(engine, tablet, playing, flags, TSettingsOwner{});
    f.FillDriverList();
    ASSERT_EQ(f.DriverCombo->count(), 1);
    std::string message;
    ASSERT_TRUE(LoadSettingsFile(f, SettingsFilePath(), nullptr, message));
    EXPECT_TRUE(host->Active());
    EXPECT_TRUE(engine.Running.load());
    EXPECT_EQ(f.ChannelBox->count(), 1);
    EXPECT_EQ(f.ChannelBox->currentIndex(), 0);
    engine.Stop();
    EXPECT_FALSE(host->Active());
}
