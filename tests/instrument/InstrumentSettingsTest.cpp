// The settings file read into the instrument at start-up and written back at exit, and the
// driver choice it makes.
#include "instrument/Instrument.h"

#include "FakeHost.h"
#include "engine/NullHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

using namespace varko;
using namespace varko::test;
namespace fs = std::filesystem;
using Log = std::vector<std::string>;

namespace {

// A host whose channel change fails, as a driver that dies under it would.
class TFailingHost : public TFakeHost {
public:
    using TFakeHost::TFakeHost;
    void SetOutputChannelOffset(uint16_t) override { throw std::runtime_error("driver died"); }
};

// Varko's folder under a config folder of this process, emptied around each test.
class InstrumentSettings : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path config =
            fs::temp_directory_path() / ("varko-settings-" + std::to_string(::getpid()));
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        fs::remove_all(SettingsFolder());
    }
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
    // An instrument over the standard scripted drivers; Host stays valid while it lives.
    TFakeHost* Attach(TInstrument& instrument,
                      std::vector<TFakeHost::TDriver> drivers = StandardDrivers()) {
        auto host = std::make_unique<TFakeHost>(std::move(drivers));
        TFakeHost* raw = host.get();
        instrument.AttachHost(std::move(host));
        return raw;
    }
    static void Load(TInstrument& instrument, bool expectOk = true) {
        std::string message;
        EXPECT_EQ(instrument.LoadSettingsFile(SettingsFilePath(), message), expectOk);
        EXPECT_EQ(message, expectOk ? "" : "Your settings could not be retrieved.");
    }
};

} // namespace

TEST_F(InstrumentSettings, FirstRunOpensDriverZeroAndWritesEveryKeyInOrder) {
    TInstrument in;
    TFakeHost* host = Attach(in);
    Load(in);
    EXPECT_EQ(in.Audio().DriverIndex(), 0);
    EXPECT_EQ(in.Audio().ChannelPair(), 0);
    EXPECT_TRUE(in.Audio().Running());
    EXPECT_EQ(in.Audio().AudioStatus(), "Running");
    // Pair 0 is set again after the driver opened: the audio restarts on it.
    EXPECT_EQ(host->Log, Log({"stop", "driver 0", "start", "stop", "offset 0", "start"}));

    std::string message;
    ASSERT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    EXPECT_EQ(Slurp(SettingsFilePath()), "[Sound]\n"
                                         "ASIOdriver=0\n"
                                         "ASIOdriverName=JACK: system\n"
                                         "ASIOchannel=0\n"
                                         "StereoSeparation=1\n"
                                         "InterpolateDelays=1\n"
                                         "MasterLevel=20\n"
                                         "Limiter=1\n"
                                         "PanelDriver=\n"
                                         "PanelBufferSize=0\n"
                                         "PanelSampleRate=0\n"
                                         "\n"
                                         "[Input]\n"
                                         "ResonanceControl=0\n"
                                         "ResonanceRate=4\n"
                                         "AllowMouse=0\n"
                                         "MouseGlide=0\n"
                                         "\n"
                                         "[UI]\n"
                                         "ShowMainLevels=1\n"
                                         "ShowPressureLevel=1\n"
                                         "ShowFrequencyLabels=1\n"
                                         "Paint2Rows=0\n"
                                         "ColoredToneZone=1\n"
                                         "ShowNoTabletNotice=1\n"
                                         "LabelKind=0\n"
                                         "\n"
                                         "[MIDI]\n"
                                         "Input=\n"
                                         "ReferenceNote=60\n"
                                         "MPE=1\n"
                                         "KeyReleaseDamps=0\n"
                                         "PitchBend=Pitch\n"
                                         "\n"
                                         "[Session]\n"
                                         "Restore=1\n"
                                         "Scale=\n"
                                         "KeyboardMapping=\n"
                                         "InitialFrequency=200\n"
                                         "RepeatDown=0\n"
                                         "RepeatUp=0\n"
                                         "RepeatEnds=0\n"
                                         "ModeFile=\n"
                                         "End=1\n"
                                         "ModeLimit=8\n"
                                         "Weighting=6\n"
                                         "Resonance=10\n"
                                         "\n"
                                         "[Engine]\n"
                                         "ToneThreads=PerTone\n"
                                         "PoolThreads=0\n");
}

TEST_F(InstrumentSettings, EverySettingSurvivesARestartAndUnknownLinesStay) {
    Spit("; Varko\n[Sound]\nASIOdriver=0\nFuture=yes\n\n[Plugins]\nx=1\n");
    {
        TInstrument in;
        Attach(in);
        Load(in);
        in.Audio().SelectDriver(1);
        in.Settings().SetStereoSeparation(false);
        in.Settings().SetInterpolateDelays(false);
        in.Settings().SetMasterLevel(137);
        in.Settings().SetLimiter(false);
        in.Settings().SetResonanceControl(1);
        in.Settings().SetResonanceRate(8);
        in.Settings().SetMousePressure(true);
        in.Settings().SetShowMainLevels(false);
        in.Settings().SetShowPressureLevel(false);
        in.Settings().SetShowFrequencyLabels(false);
        in.Settings().SetPaint2Rows(true);
        in.Settings().SetColoredToneZone(false);
        in.Settings().SetMidiInput("ALSA: Keystation:Keystation MIDI 1 20:0");
        in.Settings().SetReferenceNote(48);
        in.Settings().SetMpe(false);
        in.Settings().SetKeyReleaseDamps(true);
        in.Settings().SetToneThreads(true, 3);
        std::string message;
        ASSERT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    }
    const std::string text = Slurp(SettingsFilePath());
    EXPECT_EQ(text.rfind("; Varko\n[Sound]\nASIOdriver=1\nFuture=yes\n", 0), 0u) << text;
    EXPECT_NE(text.find("[Plugins]\nx=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ASIOdriverName=ALSA: hw:1\n"), std::string::npos) << text;

    TInstrument in;
    TFakeHost* host = Attach(in);
    Load(in);
    host->PlayBlock(); // the mixer's values take effect at the next block
    const TVarkoSettings& s = in.Settings().Stored();
    EXPECT_EQ(host->Index, 1);
    EXPECT_TRUE(in.Audio().Running());
    EXPECT_FALSE(s.StereoSeparation);
    EXPECT_FALSE(in.Audio().Engine().Stereo.load());
    EXPECT_FALSE(s.InterpolateDelays);
    EXPECT_EQ(s.MasterLevel, 137);
    EXPECT_FALSE(in.Audio().Engine().Limit.load());
    EXPECT_EQ(in.Playing().ResonanceRaiseButton, TMouseButton::mbRight);
    EXPECT_EQ(s.ResonanceRate, 8);
    EXPECT_TRUE(in.Playing().MousePressure);
    EXPECT_FALSE(s.ShowMainLevels);
    EXPECT_FALSE(in.Audio().Engine().MeterPeaks.load());
    EXPECT_FALSE(in.Playing().ShowPressureLevel);
    EXPECT_FALSE(s.ShowFrequencyLabels);
    EXPECT_TRUE(s.Paint2Rows);
    EXPECT_TRUE(in.Audio().Engine().TwoRowPanning.load());
    EXPECT_FALSE(s.ColoredToneZone);
    EXPECT_EQ(s.ASIOdriverName, "ALSA: hw:1");
    EXPECT_EQ(s.MidiInput, "ALSA: Keystation:Keystation MIDI 1 20:0");
    EXPECT_EQ(in.Midi().ReferenceNote(), 48);
    EXPECT_FALSE(in.Midi().Mpe());
    EXPECT_TRUE(in.Midi().ReleaseDamps());
    EXPECT_TRUE(s.ToneThreadsPerCore);
    EXPECT_EQ(in.Rendering().Threads, TToneThreads::PerCore);
    EXPECT_EQ(in.Rendering().PoolThreads, 3);
}

// A file without the key (every file before the pool existed), or with a value it does not
// know, renders a thread per tone.
TEST_F(InstrumentSettings, ToneThreadsReadAsPerToneUnlessPerCore) {
    for (const char* file : {"[Sound]\nASIOdriver=0\n", "[Engine]\nToneThreads=percore\n",
                             "[Engine]\nToneThreads=PerCore\nPoolThreads=900\n"}) {
        Spit(file);
        TInstrument in;
        Attach(in);
        Load(in);
        const bool perCore = std::string(file).find("PerCore") != std::string::npos;
        EXPECT_EQ(in.Rendering().Threads, perCore ? TToneThreads::PerCore : TToneThreads::PerTone)
            << file;
        EXPECT_EQ(in.Settings().Stored().PoolThreads, perCore ? MaxPoolThreads : 0) << file;
    }
}

TEST_F(InstrumentSettings, HexLettersAndLimits) {
    Spit("[Sound]\nASIOdriver=0x1\nASIOchannel=7\nMasterLevel=abc\nStereoSeparation=0x0\n"
         "[Input]\nResonanceControl=5\nResonanceRate=0XA\nAllowMouse=what\n"
         "[UI]\nPaint2Rows=-3\nShowMainLevels=\n[MIDI]\nReferenceNote=200\nMPE=0x0\n");
    TInstrument in;
    Attach(in);
    Load(in);
    const TVarkoSettings& s = in.Settings().Stored();
    EXPECT_EQ(in.Midi().ReferenceNote(), 127);
    EXPECT_FALSE(s.MPE);
    EXPECT_EQ(in.Audio().DriverIndex(), 1);
    // A pair beyond the list leaves no selection and the audio as the driver left it.
    EXPECT_EQ(in.Audio().ChannelPair(), -1);
    EXPECT_TRUE(in.Audio().Running());
    EXPECT_EQ(s.MasterLevel, 20);
    EXPECT_FALSE(s.StereoSeparation);
    EXPECT_EQ(s.ResonanceControl, 1);
    EXPECT_EQ(s.ResonanceRate, 10);
    EXPECT_FALSE(s.AllowMouse);
    EXPECT_TRUE(s.Paint2Rows);
    EXPECT_TRUE(s.ShowMainLevels);

    Spit("[Sound]\nMasterLevel=500\n[Input]\nResonanceControl=-9\nResonanceRate=-3\n");
    TInstrument low;
    Attach(low);
    Load(low);
    EXPECT_EQ(low.Settings().Stored().MasterLevel, 200);
    EXPECT_EQ(low.Settings().Stored().ResonanceControl, -1);
    // No button chosen: the buttons keep their start values.
    EXPECT_EQ(low.Playing().ResonanceRaiseButton, TMouseButton::mbMiddle);
    EXPECT_EQ(low.Settings().Stored().ResonanceRate, 1);
}

TEST_F(InstrumentSettings, DriverBeyondTheListLeavesTheAudioStopped) {
    Spit("[Sound]\nASIOdriver=9\n");
    TInstrument in;
    TFakeHost* host = Attach(in);
    Load(in);
    EXPECT_EQ(in.Audio().DriverIndex(), -1);
    EXPECT_FALSE(in.Audio().Running());
    EXPECT_EQ(host->Log, Log{"stop"});
    EXPECT_EQ(in.Settings().Stored().ASIOdriverName, "");
    EXPECT_EQ(in.Audio().ChannelPair(), -1);
}

TEST_F(InstrumentSettings, StoredNameWinsOverAnIndexThatMoved) {
    // The device list changed since the last run: the stored index names another device.
    Spit("[Sound]\nASIOdriver=0\nASIOdriverName=ALSA: hw:1\n");
    {
        TInstrument in;
        TFakeHost* host = Attach(in);
        Load(in);
        EXPECT_EQ(host->Index, 1);
    }
    // The named device is gone: the index is used as before names were stored.
    Spit("[Sound]\nASIOdriver=2\nASIOdriverName=USB: gone\n");
    {
        TInstrument in;
        TFakeHost* host = Attach(in);
        Load(in);
        EXPECT_EQ(host->Index, 2);
    }
    Spit("[Sound]\nASIOdriver=7\nASIOdriverName=USB: gone\n");
    {
        TInstrument in;
        Attach(in);
        Load(in);
        EXPECT_EQ(in.Audio().DriverIndex(), -1);
    }
    // A file from before names were stored.
    Spit("[Sound]\nASIOdriver=1\nASIOchannel=0\n");
    {
        TInstrument in;
        TFakeHost* host = Attach(in);
        Load(in);
        EXPECT_EQ(host->Index, 1);
        std::string message;
        ASSERT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    }
    EXPECT_EQ(Slurp(SettingsFilePath())
                  .rfind("[Sound]\nASIOdriver=1\nASIOchannel=0\n"
                         "ASIOdriverName=ALSA: hw:1\n",
                         0),
              0u);
}

TEST_F(InstrumentSettings, DriversOfOneNameOpenTheFirst) {
    TInstrument in;
    TFakeHost* host = Attach(in, {{"Twin", {"a", "b"}}, {"Twin", {"c", "d"}}});
    in.Audio().SelectDriver(1);
    EXPECT_EQ(in.Audio().DriverIndex(), 0);
    EXPECT_EQ(host->Index, 0);
    EXPECT_EQ(in.Audio().ChannelPairNames(), Log{"a / b"});
}

TEST_F(InstrumentSettings, StoredMouseChoiceDoesNotUndoAForcedMouse) {
    Spit("[Input]\nAllowMouse=0\n");
    TInstrument in;
    Attach(in);
    in.Settings().ForceMousePressure();
    in.Settings().SetMousePressure(true);
    Load(in);
    EXPECT_TRUE(in.Playing().MousePressure);

    Spit("[Input]\nAllowMouse=1\n");
    TInstrument pen;
    Attach(pen);
    Load(pen);
    EXPECT_TRUE(pen.Playing().MousePressure);
}

TEST_F(InstrumentSettings, MouseGlideIsOffInOldFilesAndKeptWhenChosen) {
    Spit("[Input]\nAllowMouse=1\nMine=7\n"); // written before the glide existed
    {
        TInstrument in;
        Attach(in);
        Load(in);
        EXPECT_FALSE(in.Settings().Stored().MouseGlide);
        EXPECT_FALSE(in.Playing().MouseGlide);
        in.Settings().SetMouseGlide(true);
        std::string message;
        ASSERT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    }
    EXPECT_NE(Slurp(SettingsFilePath()).find("Mine=7\n"), std::string::npos);
    TInstrument again;
    Attach(again);
    Load(again);
    EXPECT_TRUE(again.Settings().Stored().MouseGlide);
    EXPECT_TRUE(again.Playing().MouseGlide);
}

TEST_F(InstrumentSettings, FailingDriverKeepsWhatWasAppliedAndReports) {
    Spit("[Sound]\nStereoSeparation=0\n[UI]\nColoredToneZone=0\n");
    TInstrument in;
    in.AttachHost(std::make_unique<TFailingHost>(StandardDrivers()));
    Load(in, false);
    EXPECT_EQ(in.Audio().DriverIndex(), 0);               // applied before the failure
    EXPECT_TRUE(in.Settings().Stored().StereoSeparation); // after it: not applied
    EXPECT_TRUE(in.Settings().Stored().ColoredToneZone);
}

TEST_F(InstrumentSettings, UnreadableFileReportsButStillStartsTheAudio) {
    fs::create_directories(SettingsFilePath()); // a folder where the file should be
    TInstrument in;
    Attach(in);
    Load(in, false);
    EXPECT_TRUE(in.Audio().Running());
    EXPECT_EQ(in.Audio().DriverIndex(), 0);
    // Nor is it replaced at exit.
    std::string message;
    EXPECT_FALSE(in.SaveSettingsFile(SettingsFilePath(), message));
    EXPECT_EQ(message, "Your settings could not be saved.");
    EXPECT_TRUE(fs::is_directory(SettingsFilePath()));
}

TEST_F(InstrumentSettings, UnwritableFolderReportsAndLeavesNothing) {
    // Tests run as root, so permissions do not stop a write; a file in the folder's place does.
    Spit("");
    const std::string blocker = SettingsFolder() + "/plain";
    std::ofstream(blocker) << "x";
    TInstrument in;
    Attach(in);
    Load(in);
    std::string message;
    EXPECT_FALSE(in.SaveSettingsFile(blocker + "/Varko/Varko.ini", message));
    EXPECT_EQ(message, "Your settings could not be saved.");
    EXPECT_EQ(Slurp(blocker), "x");
}

TEST_F(InstrumentSettings, SavingCreatesTheFolder) {
    ASSERT_FALSE(fs::exists(SettingsFolder()));
    TInstrument in;
    std::string message;
    EXPECT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(fs::is_regular_file(SettingsFilePath()));
}

TEST_F(InstrumentSettings, NullHostFirstRunStartsTheNullDriver) {
    auto host = std::make_unique<TNullHost>(48000.0, 128, true, 2);
    TNullHost* raw = host.get();
    TInstrument in;
    in.AttachHost(std::move(host));
    ASSERT_EQ(in.Audio().DriverList().size(), 1u);
    Load(in);
    EXPECT_TRUE(raw->Active());
    EXPECT_TRUE(in.Audio().Running());
    EXPECT_EQ(in.Audio().ChannelPairNames().size(), 1u);
    EXPECT_EQ(in.Audio().ChannelPair(), 0);
    in.Audio().StopAudio();
    EXPECT_FALSE(raw->Active());
}

// Every start lost the session, and the driver panel's buffer size came back as the default.
TEST_F(InstrumentSettings, TheSessionAndThePanelChoiceSurviveARestart) {
    fs::create_directories(SettingsFolder());
    const std::string scale = SettingsFolder() + "/five.scl";
    const std::string modes = SettingsFolder() + "/bar.vmod";
    std::ofstream(scale) << "five\n5\n240.0\n480.0\n720.0\n960.0\n2/1\n";
    std::ofstream(modes) << "1.0, 1.0\n2.7565, 0.4\n";
    {
        TInstrument in;
        Attach(in);
        Load(in);
        in.Bank().SetInitialFrequency(261.5f);
        in.Bank().SetRepeatUpCount(2);
        in.Bank().SetRepeatEnds(true);
        in.Bank().SetEnd(TEndType::Hinged);
        in.Bank().SetModeLimit(5);
        in.Bank().SetModeWeighting(3);
        ASSERT_TRUE(in.ModeFiles().Load(modes));
        in.Bank().SetExternalObject(true);
        in.OpenScale(scale);
        in.Playing().SetResonanceFader(40);
        in.Settings().SetPanelChoice("ALSA: hw:1", 256, 44100);
        std::string message;
        ASSERT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    }
    TInstrument in;
    Attach(in);
    Load(in);
    EXPECT_EQ(in.Settings().Stored().PanelDriver, "ALSA: hw:1");
    EXPECT_EQ(in.Settings().Stored().PanelBufferSize, 256);
    EXPECT_EQ(in.Settings().Stored().PanelSampleRate, 44100);
    EXPECT_TRUE(in.Bank().ScalePath().empty()); // nothing opens until the owner asks
    in.RestoreSessionParameters();
    std::string missing;
    in.RestoreSessionFiles(missing);
    EXPECT_EQ(missing, "");
    EXPECT_EQ(in.Bank().ScalePath(), scale);
    EXPECT_FLOAT_EQ(in.Bank().InitialFrequency(), 261.5f);
    EXPECT_EQ(in.Bank().RepeatUpCount(), 2);
    EXPECT_TRUE(in.Bank().RepeatEnds());
    EXPECT_EQ(in.Bank().End(), TEndType::Hinged);
    EXPECT_EQ(in.Bank().ModeLimit(), 5);
    EXPECT_EQ(in.Bank().ModeWeighting(), 3);
    EXPECT_TRUE(in.Bank().ExternalObject());
    EXPECT_EQ(in.ModeFiles().Ratios().size(), 2u);
    EXPECT_EQ(in.Playing().ResonanceFader(), 40);
    EXPECT_FALSE(in.Audio().Engine().Oscillators.empty());

    // Files that are gone fall back to nothing, each named.
    fs::remove(modes);
    fs::remove(scale);
    TInstrument again;
    Attach(again);
    Load(again);
    again.RestoreSessionParameters();
    again.RestoreSessionFiles(missing);
    EXPECT_FALSE(again.Bank().ExternalObject());
    EXPECT_TRUE(again.Bank().ScalePath().empty());
    EXPECT_NE(missing.find("The last vibration mode file is gone"), std::string::npos) << missing;
    EXPECT_NE(missing.find("five.scl"), std::string::npos) << missing;
}

TEST_F(InstrumentSettings, AKeyboardMappingComesBackWithTheSessionOrIsNamedWhenGone) {
    fs::create_directories(SettingsFolder());
    const std::string scale = SettingsFolder() + "/five.scl";
    const std::string kbm = SettingsFolder() + "/five.kbm";
    std::ofstream(scale) << "five\n5\n240.0\n480.0\n720.0\n960.0\n2/1\n";
    std::ofstream(kbm) << "5\n0\n127\n62\n62\n300\n5\n0\n1\n2\n3\n4\n";
    {
        TInstrument in;
        Attach(in);
        Load(in);
        in.OpenScale(scale);
        in.OpenKeyboardMapping(kbm);
        std::string message;
        ASSERT_TRUE(in.SaveSettingsFile(SettingsFilePath(), message));
    }
    TInstrument in;
    Attach(in);
    Load(in);
    in.RestoreSessionParameters();
    std::string missing;
    in.RestoreSessionFiles(missing);
    EXPECT_EQ(missing, "");
    EXPECT_EQ(in.Bank().KbmPath(), kbm);
    ASSERT_TRUE(in.Bank().KeyTones().has_value());
    EXPECT_EQ((*in.Bank().KeyTones())[62], 0);             // key 62 plays the 1/1 ...
    EXPECT_FLOAT_EQ(in.Bank().InitialFrequency(), 300.0f); // ... at the mapping's 300 Hz

    fs::remove(kbm);
    TInstrument again;
    Attach(again);
    Load(again);
    again.RestoreSessionParameters();
    again.RestoreSessionFiles(missing);
    EXPECT_TRUE(again.Bank().KbmPath().empty());
    EXPECT_FALSE(again.Bank().KeyTones().has_value());
    EXPECT_NE(missing.find("five.kbm"), std::string::npos) << missing;
}
