// The main window as the player meets it: start-up, playing through its widgets, meters,
// faders, function keys, the watchdog, the crash path and the settings written at exit.
#include "ui/MainWindow.h"
#include "WindowFixture.h"
#include "core/Texts.h"
#include "engine/NullHost.h"
#include "engine/ToneBank.h"
#include "files/IniFile.h"
#include "files/ModeFileHistory.h"
#include "files/SettingsFile.h"
#include "ui/ClipLed.h"
#include "ui/Fader.h"
#include "ui/ImageButton.h"
#include "ui/LevelMeter.h"
#include "ui/LinkLabel.h"
#include "ui/Program.h"
#include "ui/Resources.h"
#include "ui/StatusPanels.h"
#include "ui/TabletEventSource.h"
#include "ui/ToneZone.h"
#include "ui/UpDown.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/AudioStoppedNotice.h"
#include "ui/dialogs/CrashWindow.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"
#include "ui/dialogs/SettingsDialog.h"
#include "ui/dialogs/UserGuideWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointingDevice>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QTabletEvent>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>

using namespace varko;

namespace {

// A host without devices: the window's "no audio device" start.
class TNoDeviceHost : public TNullHost {
public:
    const std::vector<std::string>& DriverList() const override { return None; }
    std::vector<std::string> None;
};

struct MainWinTest : test::TWindowFixture {
    std::vector<QUrl> Urls;
    uint32_t Tick = 1000;
    bool Browser = true; // a web browser opens the addresses
    std::unique_ptr<TMainWindow> Win;

    void SetUp() override {
        TWindowFixture::SetUp();
        platform_.OpenUrl = [this](const QUrl& u) {
            Urls.push_back(u);
            return Browser;
        };
        platform_.TickCount = [this] { return Tick; };
        platform_.CreateHost = [] { return std::make_unique<TNullHost>(48000.0, 128, true); };
    }
    void Start() { Win = ShowWindow(PlayingSize); }
    template <typename T> T* Find(const char* name) { return test::Find<T>(*Win, name); }
    void TearDown() override { Win.reset(); }
    void OpenScale37() { TWindowFixture::OpenScale37(*Win); }
    void Settle() { test::Settle(*Win); }
    TTone& Osc(int i) {
        Settle();
        return *Win->Instrument.Audio().Engine().Oscillators.at(static_cast<size_t>(i));
    }
};

} // namespace

TEST_F(MainWinTest, StartsWithoutTabletInMouseModeWithAudioRunning) {
    Start();
    EXPECT_TRUE(Saw("varko::TNoTabletNotice"));
    EXPECT_TRUE(Find<TSettingsDialog>("SettingsDialog")->MousePressureBox->isChecked());
    EXPECT_FALSE(Find<TSettingsDialog>("SettingsDialog")->MousePressureBox->isEnabled());
    EXPECT_TRUE(Win->Playing().MousePressure);
    EXPECT_EQ(Win->StatusText(0), "Standard mouse");
    EXPECT_EQ(Win->StatusText(4), "Running"); // first run: driver 0 opened and started
    EXPECT_TRUE(Win->Instrument.Audio().Engine().Running.load());
    EXPECT_TRUE(Find<QTimer>("Watchdog")->isActive());
    EXPECT_TRUE(Find<QTimer>("LevelTimer")->isActive());
    EXPECT_FALSE(Find<TImageButton>("RestartBtn")->isVisible());
    EXPECT_FALSE(Find<QWidget>("ParametersPanel")->isVisible());
    ASSERT_EQ(Find<QComboBox>("ModeFilesCombo")->count(), 1);
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->itemText(0), "Browse...");
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->currentIndex(), -1);
    EXPECT_TRUE(Win->Instrument.Audio()
                    .Engine()
                    .Oscillators.empty()); // no scale until the player opens one
    EXPECT_TRUE(halts_.empty());
}

TEST_F(MainWinTest, NoAudioDeviceShowsTheNoticeAndHaltsWithoutWriting) {
    platform_.CreateHost = [] { return std::make_unique<TNoDeviceHost>(); };
    Start();
    EXPECT_TRUE(Saw("varko::TNoAudioDeviceNotice"));
    EXPECT_FALSE(Saw("varko::TNoTabletNotice"));
    ASSERT_EQ(halts_.size(), 1u);
    EXPECT_TRUE(Win->Halted);
    Win.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFilePath())));
}

TEST_F(MainWinTest, OpeningAScaleBuildsTheBankAndPaintsTheBars) {
    Start();
    OpenScale37();
    EXPECT_TRUE(Saw("QFileDialog", "Open Scale"));
    ASSERT_EQ(Win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    EXPECT_EQ(Win->StatusText(2), "12-tone equal temperament");
    EXPECT_EQ(Win->StatusText(3), "Uniform bar with free ends");
    EXPECT_EQ(Win->StatusText(4), "Running");
    EXPECT_TRUE(
        Find<QPlainTextEdit>("ScaleContentsBox")->toPlainText().startsWith("! et12.scl\n12-tone"));
    EXPECT_FLOAT_EQ(Osc(0).Frequency, 100.0f);
    EXPECT_NEAR(Osc(36).Frequency, 800.0f, 1e-3);

    // 37 bars on a 700-pixel zone: 18 pixels each, a 34-pixel strip right of them.
    ASSERT_EQ(Find<TToneZone>("ToneZone")->width(), 700);
    EXPECT_FLOAT_EQ(Find<TToneZone>("ToneZone")->BarWidthReciprocal(), 1.0f / 18);
    Find<TSettingsDialog>("SettingsDialog")->FrequencyLabelsBox->click();
    Find<TSettingsDialog>("SettingsDialog")->ColoredBarsBox->click(); // grey look
    QImage img = Find<TToneZone>("ToneZone")->grab().toImage();
    EXPECT_EQ(QColor(img.pixel(5, 250)), QColor(152, 152, 152));
    EXPECT_EQ(QColor(img.pixel(18 + 5, 250)), QColor(222, 222, 222));
    EXPECT_EQ(QColor(img.pixel(680, 250)), QColor(Qt::black));

    // Two rows: 19 cells of 36 pixels; the divider at y = 250, the nineteenth bottom cell black.
    Find<TSettingsDialog>("SettingsDialog")->TwoRowsBox->click();
    img = Find<TToneZone>("ToneZone")->grab().toImage();
    EXPECT_FLOAT_EQ(Find<TToneZone>("ToneZone")->BarWidthReciprocal(), 1.0f / 36);
    EXPECT_EQ(QColor(img.pixel(5, 300)), QColor(152, 152, 152)); // tone 19, darker like tone 0
    EXPECT_EQ(QColor(img.pixel(18 * 36 + 5, 300)), QColor(Qt::black));
    EXPECT_NE(QColor(img.pixel(100, 250)), QColor(152, 152, 152));
    EXPECT_NE(QColor(img.pixel(100, 250)), QColor(222, 222, 222));
    Settle();
    EXPECT_FLOAT_EQ(Win->Instrument.Audio().Engine().PanStep.load(), 1.0f / 19);
}

TEST_F(MainWinTest, MousePlaysTheBarUnderThePointer) {
    Start();
    OpenScale37();
    TToneZone* zone = Find<TToneZone>("ToneZone");
    QTest::mouseMove(zone, QPoint(3 * 18 + 5, 125));
    ASSERT_EQ(Win->Playing().CurrentBar, 3);
    EXPECT_FLOAT_EQ(Osc(3).StrikePosition.load(), 0.25f);
    QTest::mousePress(zone, Qt::LeftButton, {}, QPoint(3 * 18 + 5, 125));
    EXPECT_FLOAT_EQ(Osc(3).Pressure.load(), 0.5f);
    EXPECT_EQ(Win->ShownPressure(), 50);
    // Dragging onto bar 4 silences bar 3; bar 4 waits for a new press.
    QTest::mouseMove(zone, QPoint(4 * 18 + 5, 375));
    EXPECT_EQ(Win->Playing().CurrentBar, 4);
    EXPECT_EQ(Osc(3).Pressure.load(), 0.0f);
    EXPECT_EQ(Osc(4).Pressure.load(), 0.0f);
    EXPECT_FLOAT_EQ(Osc(4).StrikePosition.load(), 0.75f);
    // Into the strip right of the last bar: no bar.
    QTest::mouseMove(zone, QPoint(690, 375));
    EXPECT_EQ(Win->Playing().CurrentBar, -1);
    QTest::mouseRelease(zone, Qt::LeftButton, {}, QPoint(690, 375));
    EXPECT_FALSE(Win->Playing().PenDown);
    EXPECT_EQ(Win->ShownPressure(), 50); // over no bar the release leaves the display
}

TEST_F(MainWinTest, ResonanceButtonsStopAtTheFadersEnds) {
    Start();
    OpenScale37();
    TToneZone* zone = Find<TToneZone>("ToneZone");
    QTest::mouseMove(zone, QPoint(50, 100));
    QTest::mousePress(zone, Qt::RightButton, {}, QPoint(50, 100));
    EXPECT_EQ(Find<QSlider>("ResonanceFader")->value(), 11);
    EXPECT_FLOAT_EQ(Osc(20).Resonance.load(), ResonanceFromFader(11));
    EXPECT_TRUE(Find<QTimer>("RezDownTimer")->isActive());
    QTest::qWait(200); // the timer keeps lowering while the button is held
    EXPECT_GT(Find<QSlider>("ResonanceFader")->value(), 11);
    QTest::mouseRelease(zone, Qt::RightButton, {}, QPoint(50, 100));
    EXPECT_FALSE(Find<QTimer>("RezDownTimer")->isActive());

    Find<QSlider>("ResonanceFader")->setValue(200);
    QTest::mousePress(zone, Qt::RightButton, {}, QPoint(50, 100));
    Win->Playing().ResonanceStepDown();
    EXPECT_EQ(Find<QSlider>("ResonanceFader")->value(), 200);
    QTest::mouseRelease(zone, Qt::RightButton, {}, QPoint(50, 100));
    Find<QSlider>("ResonanceFader")->setValue(0);
    EXPECT_FLOAT_EQ(Osc(0).Resonance.load(), 0.9999f);
    QTest::mousePress(zone, Qt::MiddleButton, {}, QPoint(50, 100));
    Win->Playing().ResonanceStepUp();
    EXPECT_EQ(Find<QSlider>("ResonanceFader")->value(), 0);
    QTest::mouseRelease(zone, Qt::MiddleButton, {}, QPoint(50, 100));
    EXPECT_FALSE(Find<QTimer>("RezUpTimer")->isActive());
    Find<TLinkLabel>("ResonanceReset")->OnClick();
    EXPECT_EQ(Find<QSlider>("ResonanceFader")->value(), 10);
}

TEST_F(MainWinTest, LevelMetersAndClipLeds) {
    Start();
    Win->Instrument.Audio().Engine().Stop();
    Win->Instrument.Audio().Engine().PeakLeft = 0.8f; // -1.9 dB: loud, not clipping
    Win->Instrument.Audio().Engine().PeakRight = 0.891f;
    Win->ShowLevels();
    EXPECT_EQ(Find<QProgressBar>("LeftMeter")->value(), 58);
    EXPECT_EQ(Find<TClipLed>("LeftClipLed")->Fill, QColor(Qt::black));
    EXPECT_FALSE(Find<QTimer>("LeftClipOffTimer")->isActive());
    EXPECT_EQ(Find<QProgressBar>("RightMeter")->value(), 59);
    EXPECT_EQ(Find<TClipLed>("RightClipLed")->Fill, QColor(255, 128, 0));
    EXPECT_EQ(Find<TClipLed>("RightClipLed")->Outline, QColor(128, 0, 0));
    EXPECT_TRUE(Find<QTimer>("RightClipOffTimer")->isActive());
    EXPECT_EQ(Win->Instrument.Audio().Engine().PeakLeft.load(), 0.0f);
    EXPECT_EQ(Win->Instrument.Audio().Engine().PeakRight.load(), 0.0f);

    Win->Instrument.Audio().Engine().PeakLeft = 0.001f;
    Win->Instrument.Audio().Engine().PeakRight = 0.0f;
    Win->ShowLevels();
    EXPECT_EQ(Find<QProgressBar>("LeftMeter")->value(), 0);
    EXPECT_EQ(Find<QProgressBar>("RightMeter")->value(), 0);

    Win->RightClipOff();
    EXPECT_EQ(Find<TClipLed>("RightClipLed")->Fill, QColor(Qt::black));
    EXPECT_EQ(Find<TClipLed>("RightClipLed")->Outline, QColor(128, 128, 128));
    EXPECT_FALSE(Find<QTimer>("RightClipOffTimer")->isActive());
}

TEST_F(MainWinTest, MasterFaderGainsAndTheLoudspeaker) {
    Start();
    const std::pair<int, float> cases[] = {{19, 1.21f}, {20, 1.0f},     {21, 0.99f},
                                           {0, 7.40f},  {199, 0.1655f}, {200, 0.0f}};
    for (auto [p, gain] : cases) {
        Find<QSlider>("MasterFader")->setValue(p);
        Settle();
        EXPECT_NEAR(Win->Instrument.Audio().Engine().MasterGain.load(), gain, 0.005f) << p;
    }
    Find<TLinkLabel>("MasterLevelReset")->OnClick();
    EXPECT_EQ(Find<QSlider>("MasterFader")->value(), 20);
    Settle();
    EXPECT_FLOAT_EQ(Win->Instrument.Audio().Engine().MasterGain.load(), 1.0f);
}

TEST_F(MainWinTest, ModeLimitRepeatEditsAndWeightingLabel) {
    Start();
    Find<QLineEdit>("ModeLimitEdit")->setText("0");
    Find<QLineEdit>("ModeLimitEdit")->setText("abc");
    EXPECT_EQ(Win->Instrument.Bank().ModeLimit(), 8);
    Find<QLineEdit>("ModeLimitEdit")->setText("150");
    EXPECT_EQ(Win->Instrument.Bank().ModeLimit(), 150);
    Find<QLineEdit>("ModeLimitEdit")->setText("99");
    Find<TUpDown>("ModeLimitArrows")->Click(+1);
    Find<TUpDown>("ModeLimitArrows")->Click(+1);
    EXPECT_EQ(Win->Instrument.Bank().ModeLimit(), 100); // the arrows stop at 100
    EXPECT_EQ(Find<QLineEdit>("ModeLimitEdit")->text(), "100");

    Find<QLineEdit>("RepeatDownEdit")->setText("11");
    EXPECT_EQ(Win->Instrument.Bank().RepeatDownCount(), 0);
    Find<QLineEdit>("RepeatDownEdit")->setText("7");
    EXPECT_EQ(Win->Instrument.Bank().RepeatDownCount(), 7);
    Find<TUpDown>("RepeatUpArrows")->Click(-1);
    EXPECT_EQ(Win->Instrument.Bank().RepeatUpCount(), 0);

    Find<QSlider>("ModeWeightingSlider")->setValue(11);
    EXPECT_EQ(Find<QLabel>("ModeWeightingFormula")->text(), "1/n!");
    EXPECT_TRUE(Find<QLabel>("ModeWeightingExponent")->isHidden());
    // The "!" is shown, not cut off.
    EXPECT_GE(Find<QLabel>("ModeWeightingFormula")->width(),
              Find<QLabel>("ModeWeightingFormula")->sizeHint().width());
    Find<QSlider>("ModeWeightingSlider")->setValue(5);
    EXPECT_EQ(Find<QLabel>("ModeWeightingFormula")->text(), "1/n");
    EXPECT_EQ(Find<QLabel>("ModeWeightingExponent")->text(), "2.5");
    EXPECT_FALSE(Find<QLabel>("ModeWeightingExponent")->isHidden());
    Find<QSlider>("ModeWeightingSlider")->setValue(0);
    EXPECT_EQ(Find<QLabel>("ModeWeightingExponent")->text(), "0");
}

TEST_F(MainWinTest, FunctionKeys) {
    Start();
    QWidget* focus = Find<QLineEdit>("InitialFrequencyEdit");
    Find<QWidget>("ParametersPanel")->show();
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_F3);
    EXPECT_FALSE(Find<QWidget>("ParametersPanel")->isVisible());
    QTest::keyClick(Win.get(), Qt::Key_F3, Qt::ShiftModifier); // modifiers: not the window's
    EXPECT_FALSE(Find<QWidget>("ParametersPanel")->isVisible());
    QTest::keyClick(Win.get(), Qt::Key_F3);
    EXPECT_TRUE(Find<QWidget>("ParametersPanel")->isVisible());
    QTest::keyClick(Win.get(), Qt::Key_F4);
    EXPECT_TRUE(Find<QWidget>("ScaleContentsPanel")->isVisible());
    QTest::keyClick(Win.get(), Qt::Key_F9);
    EXPECT_FALSE(Find<QWidget>("ToolbarPanel")->isVisible());
    QTest::keyClick(Win.get(), Qt::Key_F10);
    EXPECT_FALSE(Find<TStatusPanels>("StatusBar")->isVisible());
    QTest::keyClick(Win.get(), Qt::Key_F10);
    EXPECT_TRUE(Find<TStatusPanels>("StatusBar")->isVisible());

    Win->move(40, 30);
    QCoreApplication::processEvents();
    const QRect before = Win->geometry();
    QTest::keyClick(Win.get(), Qt::Key_F11);
    EXPECT_TRUE(Win->isFullScreen());
    QTest::keyClick(Win.get(), Qt::Key_F11);
    EXPECT_FALSE(Win->isFullScreen());
    EXPECT_FALSE(Win->isMaximized());
    EXPECT_TRUE(Win->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(Win->geometry(), before); // back where it was, not lower

    QTest::keyClick(Win.get(), Qt::Key_F1);
    ASSERT_EQ(Urls.size(), 1u);
    EXPECT_TRUE(Urls[0].toLocalFile().endsWith("User Guide.htm"));
    QTest::keyClick(Win.get(), Qt::Key_F12);
    EXPECT_TRUE(Saw("varko::TSettingsDialog"));
}

TEST_F(MainWinTest, F6StopsTheAudioUntilRestart) {
    Start();
    QTest::keyClick(Win.get(), Qt::Key_F6);
    EXPECT_TRUE(Saw("varko::TAudioStoppedNotice", "Audio was stopped."));
    EXPECT_FALSE(Win->Instrument.Audio().Engine().Running.load());
    EXPECT_FALSE(Find<QTimer>("Watchdog")->isActive());
    EXPECT_TRUE(Find<TImageButton>("RestartBtn")->isVisible());
    EXPECT_EQ(Win->StatusText(4), "Stopped");
    QTest::mouseClick(Find<TImageButton>("RestartBtn"), Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_TRUE(Win->Instrument.Audio().Engine().Running.load());
    EXPECT_TRUE(Find<QTimer>("Watchdog")->isActive());
    EXPECT_FALSE(Find<TImageButton>("RestartBtn")->isVisible());
    EXPECT_EQ(Win->StatusText(4), "Running");
}

TEST_F(MainWinTest, WatchdogStopsAfterFifteenSecondsOfStarvation) {
    Start();
    Tick += 10000; // a 10 s block never trips it
    Win->WatchdogTick();
    EXPECT_TRUE(Win->Instrument.Audio().Engine().Running.load());
    Tick += 15001;
    Win->WatchdogTick();
    EXPECT_TRUE(Saw("varko::TAudioStoppedNotice", text::LoadStopped));
    EXPECT_FALSE(Win->Instrument.Audio().Engine().Running.load());
    EXPECT_FALSE(Find<QTimer>("Watchdog")->isActive());
    EXPECT_EQ(Win->StatusText(4), "Stopped");
    // The tick count wraps around without a false alarm.
    Tick = 0xFFFFF000u;
    Win->RestartBtnClick(); // the watchdog counts from here
    shown_.clear();
    Tick += 0x2000u;
    Win->WatchdogTick();
    EXPECT_FALSE(Saw("varko::TAudioStoppedNotice"));
}

TEST_F(MainWinTest, ExceptionInAHandlerShowsTheCrashWindowAndHalts) {
    Start();
    QMetaObject::invokeMethod(
        Win.get(), [] { throw std::runtime_error("boom"); }, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Saw("varko::TCrashWindow", "std::runtime_error@TMainWindow: boom"));
    ASSERT_EQ(halts_.size(), 1u);
    EXPECT_NE(halts_[0], 0);
    EXPECT_FALSE(Win->Instrument.Audio().Engine().Running.load());
    // Halted: nothing is saved.
    Win.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFilePath())));
}

TEST_F(MainWinTest, OpeningAScaleOrReplayingWithoutADriverAsksForOne) {
    Start();
    Win->Instrument.Audio().SelectDriver(-1);
    fileToChoose_ = QString::fromStdString(TwelveEqualTones());
    QTest::keyClick(Win.get(), Qt::Key_F2);
    EXPECT_TRUE(Saw("QMessageBox", text::ChooseDriver));
    EXPECT_FALSE(Saw("QFileDialog"));
    EXPECT_TRUE(Win->Instrument.Audio().Engine().Oscillators.empty());

    // Not a replay that fails with no reason given.
    Win->ReplayBtnClick();
    EXPECT_EQ(Count("QMessageBox", text::ChooseDriver), 2);
    EXPECT_FALSE(Saw("QFileDialog"));
    EXPECT_FALSE(Win->Replaying());
}

// The labels say what the bank built sounds: with whole-sample lines the bars' own pitch at the
// bank's rate; after a rebuild with exact lines, the scale's.
TEST_F(MainWinTest, LabelsFollowTheDelayLinesTheBankWasBuiltWith) {
    Start();
    Win->Instrument.Settings().SetInterpolateDelays(false);
    OpenScale37();
    EXPECT_EQ(Find<TToneZone>("ToneZone")->Look().WholeSampleRate, 48000.0f);
    Win->Instrument.Settings().SetInterpolateDelays(true);
    Win->ApplyParametersBtnClick();
    EXPECT_EQ(Find<TToneZone>("ToneZone")->Look().WholeSampleRate, 0.0f);
}

TEST_F(MainWinTest, ApplyRebuildsWithTheNewFrequencyAndKeepsABadOne) {
    Start();
    OpenScale37();
    Find<QLineEdit>("InitialFrequencyEdit")->setText("100");
    QTest::keyClick(Win.get(), Qt::Key_F5);
    EXPECT_FLOAT_EQ(Osc(12).Frequency, 100.0f);
    Find<QLineEdit>("InitialFrequencyEdit")->setText("abc");
    Win->ApplyParametersBtnClick();
    EXPECT_FLOAT_EQ(Osc(12).Frequency, 100.0f);
    // A tone above half the sample rate cannot sound.
    Find<QLineEdit>("InitialFrequencyEdit")->setText("20000");
    Win->ApplyParametersBtnClick();
    EXPECT_FALSE(Find<QLabel>("NoSoundWarning")->isHidden());
    EXPECT_EQ(Win->StatusText(2), "12-tone equal temperament");
}

TEST_F(MainWinTest, SettingsAreWrittenAtExitEvenWithTheAudioStopped) {
    Start();
    Find<QSlider>("MasterFader")->setValue(35);
    Win->StopAudio();
    Win->close();
    TIniFile ini;
    ASSERT_EQ(ini.Load(SettingsFilePath()), TIniFile::TLoadResult::Loaded);
    const TVarkoSettings s = ReadSettings(ini);
    EXPECT_EQ(s.MasterLevel, 35);
    EXPECT_EQ(s.ASIOdriver, 0);
    EXPECT_TRUE(s.AllowMouse); // forced on without a tablet
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(HistoryFilePath())));
    EXPECT_FALSE(Saw("QMessageBox"));

    // The next start reads them back.
    Win.reset();
    shown_.clear();
    Start();
    EXPECT_EQ(Find<QSlider>("MasterFader")->value(), 35);
}

TEST_F(MainWinTest, SettingsThatCannotBeReadOrSavedAreReported) {
    // A folder where the settings file should be: it can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("config/Varko/Varko.ini")));
    Start();
    EXPECT_TRUE(Saw("QMessageBox", text::SettingsNotRetrieved));
    EXPECT_EQ(Win->StatusText(4), "Running"); // the defaults still start the audio
    Win->close();
    EXPECT_TRUE(Saw("QMessageBox", text::SettingsNotSaved));
    // The history is still saved beside it.
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(HistoryFilePath())));
}

namespace {
// An oscillator whose set-up fails.
class TFailingOsc : public TTone {
protected:
    void BuildBands(uint32_t) override { throw std::length_error("no room for the bands"); }
};
} // namespace

TEST_F(MainWinTest, AnOscillatorThatDiesShowsTheCrashWindowWithItsClass) {
    Start();
    Win->Platform.MakeTone = [] { return std::make_unique<TFailingOsc>(); };
    OpenScale37();
    Win->Platform.MakeTone = nullptr;
    // The rebuild was abandoned at the first tone; its end arrives through the event loop.
    EXPECT_EQ(Win->Instrument.Audio().Engine().Oscillators.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !halts_.empty(); }, 5000));
    EXPECT_TRUE(
        Saw("varko::TCrashWindow", "std::length_error@TWaveguideThread: no room for the bands"));
    EXPECT_FALSE(Win->Instrument.Audio().Engine().Running.load());
}

TEST_F(MainWinTest, StartsWithATabletWhenOneIsPresent) {
    platform_.ProbeTablet = [](TTabletEventSource& source) { source.SetDevice(true, "Test Pen"); };
    Start();
    EXPECT_FALSE(Saw("varko::TNoTabletNotice"));
    EXPECT_EQ(Win->StatusText(0), "Test Pen");
    EXPECT_TRUE(Find<TSettingsDialog>("SettingsDialog")->MousePressureBox->isEnabled());
    EXPECT_FALSE(Win->Playing().MousePressure);
    EXPECT_EQ(Win->Playing().PressureBarMax, 1023);
    EXPECT_FLOAT_EQ(Win->Playing().PressureScale, 1.0f / 1023);
    QCoreApplication::processEvents(); // the context-open message
    EXPECT_GT(Win->Playing().TabletScaleX, 0.0f);

    // Pen events on the tone zone reach the tone under the pointer.
    OpenScale37();
    static const QPointingDevice pen(
        QStringLiteral("Test Pen"), 4713, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    auto send = [&](QEvent::Type type, QPoint local, double pressure, Qt::MouseButtons buttons) {
        const QPointF global = Find<TToneZone>("ToneZone")->mapToGlobal(QPointF(local));
        QTabletEvent e(type, &pen, QPointF(local), global, pressure, 0, 0, 0, 0, 0, Qt::NoModifier,
                       Qt::NoButton, buttons);
        QApplication::sendEvent(Find<TToneZone>("ToneZone"), &e);
    };
    QTest::mouseMove(Find<TToneZone>("ToneZone"),
                     QPoint(100, 200)); // the bar comes from the mouse events
    ASSERT_EQ(Win->Playing().CurrentBar, 5);
    send(QEvent::TabletMove, {100, 200}, 0.0, Qt::NoButton);
    send(QEvent::TabletMove, {110, 200}, 0.0, Qt::NoButton); // hovering: speed, no pressure
    EXPECT_GT(Osc(5).Speed.load(), 0.0f);
    EXPECT_EQ(Osc(5).Pressure.load(), 0.0f);
    QTest::mousePress(Find<TToneZone>("ToneZone"), Qt::LeftButton, {}, QPoint(110, 200)); // the tip
    send(QEvent::TabletMove, {110, 200}, 0.5, Qt::LeftButton);
    EXPECT_NEAR(Osc(5).Pressure.load(), 0.5f, 1e-3);
    EXPECT_EQ(Win->ShownPressure(), 512);
}

TEST_F(MainWinTest, ModeFilesFromBrowseAndHistory) {
    const std::string good = Path("glass.vmod");
    std::ofstream(good) << "1.0, 1.0\n2.76, 0.5\nnot a mode\n";
    {
        ASSERT_TRUE(QDir().mkpath(dir_.filePath("config/Varko")));
        std::ofstream(HistoryFilePath()) << Path("gone.vmod") << "\r\n";
    }
    Start();
    ASSERT_EQ(Find<QComboBox>("ModeFilesCombo")->count(), 2);
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->itemText(1), "gone");
    Find<QRadioButton>("ExternalObject")->click();
    EXPECT_TRUE(Find<QComboBox>("ModeFilesCombo")->isEnabled());
    EXPECT_FALSE(Find<QSlider>("ModeWeightingSlider")->isEnabled());

    fileToChoose_ = QString::fromStdString(good);
    Find<QComboBox>("ModeFilesCombo")->setCurrentIndex(0);
    Win->ModeFilesComboSelect();
    EXPECT_TRUE(Saw("QFileDialog", "Open Vibration Mode File"));
    EXPECT_FALSE(Find<QLabel>("ModeFileWarning")->isHidden()); // the faulty third line
    ASSERT_EQ(Find<QComboBox>("ModeFilesCombo")->count(), 3);
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->currentIndex(), 1);
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->itemText(1), "glass");

    // The missing history entry: the error, and it leaves list and history.
    Find<QComboBox>("ModeFilesCombo")->setCurrentIndex(2);
    Win->ModeFilesComboSelect();
    EXPECT_TRUE(Saw("QMessageBox", text::ModeFileNotOpened));
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->count(), 2);
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->currentIndex(), -1);

    // Cancelling "Browse..." clears the selection but keeps the modes.
    Find<QComboBox>("ModeFilesCombo")->setCurrentIndex(1);
    Win->ModeFilesComboSelect();
    fileToChoose_.clear();
    Find<QComboBox>("ModeFilesCombo")->setCurrentIndex(0);
    Win->ModeFilesComboSelect();
    EXPECT_EQ(Find<QComboBox>("ModeFilesCombo")->currentIndex(), -1);

    OpenScale37();
    Find<QComboBox>("ModeFilesCombo")->setCurrentIndex(1);
    Win->ApplyParametersBtnClick();
    EXPECT_EQ(Win->StatusText(3), "glass (Both ends free)");
    Win.reset();
    ModeFileHistory saved;
    ASSERT_TRUE(saved.Load(HistoryFilePath()));
    EXPECT_EQ(saved.Entries(), std::vector<std::string>{good});
}

TEST_F(MainWinTest, ADriverResetRebuildsTheBankOnTheWindowsThread) {
    Start();
    OpenScale37();
    const TTone* before = &Osc(0);
    static_cast<TNullHost&>(Win->Instrument.Audio().Engine().Host()).RequestReset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return &Osc(0) != before; }, 5000));
    EXPECT_EQ(Win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    EXPECT_TRUE(Win->Instrument.Audio().Engine().Running.load());
    EXPECT_EQ(Win->StatusText(4), "Running");
}

TEST_F(MainWinTest, PressureDisplayIsPaintedIntoTheStatusBar) {
    Start();
    OpenScale37();
    QTest::mouseMove(Find<TToneZone>("ToneZone"), QPoint(50, 100));
    QTest::mousePress(Find<TToneZone>("ToneZone"), Qt::LeftButton, {}, QPoint(50, 100));
    EXPECT_EQ(Win->ShownPressure(), 50);
    const QImage half = Find<TStatusPanels>("StatusBar")->grab().toImage();
    QTest::mouseRelease(Find<TToneZone>("ToneZone"), Qt::LeftButton, {}, QPoint(50, 100));
    const QImage none = Find<TStatusPanels>("StatusBar")->grab().toImage();
    const int y = (Find<TStatusPanels>("StatusBar")->height() - 9) / 2 + 5;
    const int x = Find<TStatusPanels>("StatusBar")->PanelRect(1).left() + 4;
    // Half scale: the bar's left quarter differs from the empty bar, its right end does not.
    EXPECT_NE(half.pixelColor(x + 20, y), none.pixelColor(x + 20, y));
    EXPECT_EQ(half.pixelColor(x + 90, y), none.pixelColor(x + 90, y));
}

TEST_F(MainWinTest, TooManyTonesAreCappedWithAMessage) {
    Start();
    Win->Instrument.Audio().Engine().Stop(); // the capped bank is built, not played
    const std::string p = Path("et30.scl");
    {
        std::ofstream f(p);
        // 72 steps over 21 octaves: more tones than the cap.
        f << "72 steps\n72\n";
        for (int i = 1; i <= 72; ++i) {
            f << i * 50 / 3 << "." << i * 50 % 3 * 3 << "\n";
        }
    }
    Find<QLineEdit>("RepeatDownEdit")->setText("10");
    Find<QLineEdit>("RepeatUpEdit")->setText("10");
    fileToChoose_ = QString::fromStdString(p);
    Win->OpenScaleBtnClick();
    EXPECT_EQ(Win->Instrument.Bank().Tones().size(), 73u + 72u * 20u);
    EXPECT_EQ(Win->Instrument.Audio().Engine().Oscillators.size(), static_cast<size_t>(MaxTones));
    EXPECT_TRUE(Saw("QMessageBox", QString::fromUtf8(text::TooManyTones).arg(1513).arg(MaxTones)));
    EXPECT_EQ(Find<TToneZone>("ToneZone")->ToneRatios().size(), static_cast<size_t>(MaxTones));
}

TEST_F(MainWinTest, CtrlRRecordsAndTheReplayButtonPlaysTheRecordingBack) {
    platform_.MusicFolder = [this] { return dir_.filePath("Music"); };
    Start();
    OpenScale37();
    const QImage rest = Find<TImageButton>("RecordBtn")->ImageNormal();
    // The common roll-over: Ctrl let go a moment before R. Read on release, it did nothing.
    QTest::keyPress(Find<TToneZone>("ToneZone"), Qt::Key_Control);
    QTest::keyPress(Find<TToneZone>("ToneZone"), Qt::Key_R, Qt::ControlModifier);
    QTest::keyRelease(Find<TToneZone>("ToneZone"), Qt::Key_Control);
    QTest::keyRelease(Find<TToneZone>("ToneZone"), Qt::Key_R);
    ASSERT_TRUE(Win->Instrument.Recording().Active());
    EXPECT_EQ(Find<TImageButton>("RecordBtn")->ImageNormal(),
              ResourceImage(QStringLiteral("RecordBtnOn")));
    const QString folder = QString::fromStdString(Win->Instrument.Recording().Folder());
    EXPECT_TRUE(folder.startsWith(dir_.filePath("Music/Varko/"))) << folder.toStdString();

    // A press on bar 3 while recording.
    TToneZone* zone = Find<TToneZone>("ToneZone");
    QTest::mouseMove(zone, QPoint(3 * 18 + 5, 125));
    QTest::mousePress(zone, Qt::LeftButton, {}, QPoint(3 * 18 + 5, 125));
    QTest::mouseMove(zone, QPoint(3 * 18 + 7, 200));
    QTest::qWait(300);
    QTest::mouseRelease(zone, Qt::LeftButton, {}, QPoint(3 * 18 + 7, 200));
    QTest::qWait(1000); // long enough for the replay to be stopped before its end
    Find<TImageButton>("RecordBtn")->OnClick(Find<TImageButton>("RecordBtn"));
    ASSERT_FALSE(Win->Instrument.Recording().Active());
    EXPECT_EQ(Find<TImageButton>("RecordBtn")->ImageNormal(), rest);
    EXPECT_TRUE(Find<QLabel>("RecordingLabel")->text().contains(QDir(folder).dirName()));
    for (const char* name : {"performance.wav", "performance.txt", "performance.ini", "et12.scl"}) {
        EXPECT_TRUE(QFile::exists(folder + "/" + name)) << name;
    }

    // Another scale, then the replay: the recorded scale comes back and bar 3 is pressed again.
    {
        std::ofstream f(Path("three.scl"));
        f << "three\n2\n400.0\n2/1\n";
    }
    fileToChoose_ = QString::fromStdString(Path("three.scl"));
    Find<QLineEdit>("RepeatUpEdit")->setText("0");
    Win->OpenScaleBtnClick();
    ASSERT_EQ(Win->Instrument.Audio().Engine().Oscillators.size(), 5u);
    fileToChoose_ = folder;
    Win->ReplayBtnClick();
    ASSERT_TRUE(Win->Replaying());
    // The take is read off the window's thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Win->ReplayLoading(); }, 10000));
    ASSERT_TRUE(Win->Replaying());
    EXPECT_EQ(Find<TImageButton>("ReplayBtn")->ImageNormal(),
              ResourceImage(QStringLiteral("ReplayBtnStop")));
    EXPECT_EQ(Win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    EXPECT_EQ(Win->StatusText(2), "12-tone equal temperament");
    EXPECT_EQ(Find<QLineEdit>("RepeatUpEdit")->text(), "1");
    TTone& three = Osc(3);
    bool pressed = false;
    for (int i = 0; i < 2000 && !pressed; ++i) {
        QTest::qWait(1);
        pressed = three.Pressure.load() > 0.0f;
    }
    EXPECT_TRUE(pressed) << "the replay did not press bar 3";
    fileToChoose_.clear();
    Win->ReplayBtnClick(); // the stop button
    EXPECT_FALSE(Win->Replaying());
    EXPECT_EQ(Find<TImageButton>("ReplayBtn")->ImageNormal(),
              ResourceImage(QStringLiteral("ReplayBtn")));
    EXPECT_EQ(Osc(3).Pressure.load(), 0.0f);
}

TEST_F(MainWinTest, AReplayRunsToItsEndWhileANewRecordingTakesItIn) {
    platform_.MusicFolder = [this] { return dir_.filePath("Music"); };
    Start();
    OpenScale37();
    Win->RecordBtnClick();
    // The press comes a while into the performance, so that the second recording, started
    // just after the replay, is running when the replay reaches it.
    QTest::qWait(300);
    QTest::mouseMove(Find<TToneZone>("ToneZone"), QPoint(5 * 18 + 5, 125));
    QTest::mousePress(Find<TToneZone>("ToneZone"), Qt::LeftButton, {}, QPoint(5 * 18 + 5, 125));
    QTest::qWait(50);
    QTest::mouseRelease(Find<TToneZone>("ToneZone"), Qt::LeftButton, {}, QPoint(5 * 18 + 5, 125));
    QTest::qWait(150);
    Win->RecordBtnClick();
    const QString first = QString::fromStdString(Win->Instrument.Recording().Folder());

    fileToChoose_ = first;
    Win->ReplayBtnClick();
    ASSERT_TRUE(Win->Replaying());
    // The take is read off the window's thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Win->ReplayLoading(); }, 10000));
    ASSERT_TRUE(Win->Replaying());
    Win->RecordBtnClick(); // recording again while the replay runs
    ASSERT_TRUE(Win->Instrument.Recording().Active());
    const QString second = QString::fromStdString(Win->Instrument.Recording().Folder());
    EXPECT_NE(second, first);
    for (int i = 0; i < 3000 && Win->Replaying(); ++i) {
        QTest::qWait(1);
    }
    EXPECT_FALSE(Win->Replaying()) << "the replay did not end by itself";
    Win->RecordBtnClick();
    // The replayed press is in the new recording's gesture.
    std::ifstream script((second + "/performance.txt").toStdString());
    const std::string text((std::istreambuf_iterator<char>(script)), {});
    EXPECT_NE(text.find("\ntone @"), std::string::npos) << text;
    EXPECT_NE(text.find(" 5 0.5 "), std::string::npos) << text;
}

TEST_F(MainWinTest, ClippingLightsTheClippingChannelsLampAndKeepsItsMeterFull) {
    // A flat top at full scale on the left, a quieter right (as marimba-bar.vmod gives).
    Start();
    TAudioEngine& e = Win->Instrument.Audio().Engine();
    e.Stop();
    e.PeakLeft = 1.0f;
    e.PeakRight = 0.5f;
    Win->ShowLevels();
    EXPECT_EQ(Find<QProgressBar>("LeftMeter")->value(), 60);
    EXPECT_EQ(Find<TClipLed>("LeftClipLed")->Fill, QColor(255, 128, 0));
    EXPECT_EQ(Find<QProgressBar>("RightMeter")->value(), 54);
    EXPECT_EQ(Find<TClipLed>("RightClipLed")->Fill, QColor(Qt::black));
    // Beyond full scale the meter stays full and the lamp lit.
    for (float peak : {1.12f, 1.5f, 2000.0f}) {
        Win->LeftClipOff();
        e.PeakLeft = peak;
        e.PeakRight = 0.5f;
        Win->ShowLevels();
        EXPECT_EQ(Find<QProgressBar>("LeftMeter")->value(), 60) << peak;
        EXPECT_EQ(Find<TClipLed>("LeftClipLed")->Fill, QColor(255, 128, 0)) << peak;
        EXPECT_EQ(Find<TClipLed>("RightClipLed")->Fill, QColor(Qt::black)) << peak;
    }
}

TEST_F(MainWinTest, LevelMetersShowGreenYellowAndRedZones) {
    Start();
    Win->Instrument.Audio().Engine().Stop();
    Find<QTimer>("LevelTimer")->stop();
    auto at = [&](int step) {
        const QImage img = Find<QProgressBar>("LeftMeter")->grab().toImage();
        const int h = img.height() - 2;
        return img.pixelColor(img.width() / 2, 1 + h - (h * step + h * (step + 1)) / 120);
    };
    Find<QProgressBar>("LeftMeter")->setValue(60);
    EXPECT_EQ(at(10), TLevelMeter::ZoneColor(10, true));
    EXPECT_EQ(at(52), TLevelMeter::ZoneColor(52, true));
    EXPECT_EQ(at(59), TLevelMeter::ZoneColor(59, true));
    EXPECT_GT(at(10).green(), 150);
    EXPECT_GT(at(52).red(), 150);
    EXPECT_GT(at(52).green(), 150);
    EXPECT_GT(at(59).red(), 150);
    EXPECT_LT(at(59).green(), 100);
    Find<QProgressBar>("LeftMeter")->setValue(30);
    EXPECT_EQ(at(10), TLevelMeter::ZoneColor(10, true));
    EXPECT_EQ(at(40), TLevelMeter::ZoneColor(40, false)); // unlit, but its zone shows
    EXPECT_EQ(at(59), TLevelMeter::ZoneColor(59, false));
}

TEST_F(MainWinTest, LevelTimerRunsOnlyWhileTheMetersShow) {
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("config/Varko")));
    std::ofstream(SettingsFilePath()) << "[UI]\nShowMainLevels=0\n";
    Start();
    EXPECT_FALSE(Find<TSettingsDialog>("SettingsDialog")->MainLevelsBox->isChecked());
    EXPECT_FALSE(Find<QTimer>("LevelTimer")->isActive());
    // Meters that no longer move are not left on screen, frozen.
    EXPECT_TRUE(Find<QProgressBar>("LeftMeter")->parentWidget()->isHidden());
    Find<TSettingsDialog>("SettingsDialog")->MainLevelsBox->click();
    EXPECT_TRUE(Find<QTimer>("LevelTimer")->isActive());
    EXPECT_FALSE(Find<QProgressBar>("LeftMeter")->parentWidget()->isHidden());
}

TEST_F(MainWinTest, AnExceptionDuringStartUpReachesTheCrashWindow) {
    platform_.CreateHost = []() -> std::unique_ptr<IAudioHost> {
        throw std::runtime_error("no sound server");
    };
    EXPECT_EQ(CreateMainWindow(platform_), nullptr);
    EXPECT_TRUE(Saw("varko::TCrashWindow", "std::runtime_error@TMainWindow: no sound server"));
    ASSERT_EQ(halts_.size(), 1u);
    EXPECT_NE(halts_[0], 0);
    EXPECT_FALSE(TVarkoApplication::gOnException); // the dead window's handler is gone
}

TEST_F(MainWinTest, TheWindowAndTheNoticesOpenInTheMiddleOfTheScreen) {
    std::vector<QPoint> offsets;
    onModal_ = [&](QDialog& d) {
        d.show();
        offsets.push_back(d.frameGeometry().center() - d.screen()->availableGeometry().center());
        d.hide();
    };
    Win =
        std::make_unique<TMainWindow>(platform_); // no tablet: the notice, before the window shows
    Win->ShowOnScreen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Win.get()));
    const QRect screen = Win->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(Win->frameGeometry()));
    EXPECT_LE((Win->frameGeometry().center() - screen.center()).manhattanLength(), 1);
    Win->move(0, 0); // the window elsewhere: the notices still come in the middle
    Win->StopAudio();
    ASSERT_EQ(offsets.size(), 2u);
    for (const QPoint& off : offsets) {
        EXPECT_LE(off.manhattanLength(), 1) << off.x() << ", " << off.y();
    }
}

TEST_F(MainWinTest, ChoosingTheDriverAgainAfterAStopHidesRestart) {
    Start();
    Win->StopAudio();
    ASSERT_TRUE(Find<TImageButton>("RestartBtn")->isVisible());
    Find<TSettingsDialog>("SettingsDialog")->DriverCombo->setCurrentIndex(0);
    Find<TSettingsDialog>("SettingsDialog")->DriverComboChange();
    EXPECT_EQ(Win->StatusText(4), "Running");
    EXPECT_FALSE(Find<TImageButton>("RestartBtn")->isVisible());
    EXPECT_TRUE(Find<QTimer>("Watchdog")->isActive());
}

TEST_F(MainWinTest, F1WithoutABrowserShowsTheGuideInAWindowOfItsOwn) {
    Start();
    Browser = false;
    Find<QWidget>("HelpPanel")->show();
    QTest::keyClick(Win.get(), Qt::Key_F1);
    ASSERT_EQ(Urls.size(), 1u);
    ASSERT_NE(Win->UserGuideWindow(), nullptr);
    EXPECT_TRUE(Win->UserGuideWindow()->isVisible());
    EXPECT_EQ(Win->UserGuideWindow()->Browser->documentTitle(), "Varko User Guide");
    EXPECT_FALSE(Find<QWidget>("HelpPanel")->isVisible());
    // With a browser the guide goes there and no window of ours opens.
    Win->UserGuideWindow()->hide();
    Browser = true;
    QTest::keyClick(Win.get(), Qt::Key_F1);
    EXPECT_FALSE(Win->UserGuideWindow()->isVisible());
}

TEST(ScaleArchive, TheOfferAndTheGuideCountTheSameScales) {
    QFile guide(UserGuidePath());
    ASSERT_TRUE(guide.open(QIODevice::ReadOnly));
    const QRegularExpression count(QStringLiteral("more than (\\d+) scales"),
                                   QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch inGuide = count.match(QString::fromUtf8(guide.readAll()));
    const QRegularExpressionMatch offered = count.match(QString::fromUtf8(text::ScaleArchive));
    ASSERT_TRUE(inGuide.hasMatch());
    ASSERT_TRUE(offered.hasMatch());
    EXPECT_EQ(offered.captured(1), inGuide.captured(1));
    EXPECT_GE(offered.captured(1).toInt(), 5000);
}

TEST_F(MainWinTest, OpenScaleStartsInTheExamplesThenWhereTheLastScaleWas) {
    Start();
    Win->OpenScaleBtnClick(); // cancelled
    ASSERT_EQ(shown_.back().Class, "QFileDialog");
    EXPECT_EQ(shown_.back().Folder, QDir(VARKO_EXAMPLES_DIR "/scales").absolutePath());
    OpenScale37(); // from the test's own folder
    fileToChoose_.clear();
    Win->OpenScaleBtnClick();
    EXPECT_EQ(shown_.back().Folder, QDir(dir_.path()).absolutePath());
}

TEST_F(MainWinTest, AnEmptyToneZoneSaysWhatToDo) {
    Start();
    const QImage empty = Find<TToneZone>("ToneZone")->grab().toImage();
    int lit = 0;
    for (int y = 0; y < empty.height(); ++y) {
        for (int x = 0; x < empty.width(); ++x) {
            lit += empty.pixelColor(x, y).lightness() > 60 ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 50) << "a black field";
    EXPECT_EQ(Find<TToneZone>("ToneZone")->Look().EmptyHint, "Open a scale: F2");
    OpenScale37();
    EXPECT_EQ(Find<TToneZone>("ToneZone")->grab().toImage().pixelColor(690, 250),
              QColor(Qt::black));
}

TEST_F(MainWinTest, FadersFillFromTheBottomAndShowTheirValueWhileDragged) {
    Start();
    Find<QWidget>("ParametersPanel")->show();
    QCoreApplication::processEvents();
    QSlider* fader = Find<QSlider>("MasterFader");
    ASSERT_GE(fader->height(), 100);
    fader->setValue(100); // half-way
    const QImage img = fader->grab().toImage();
    // The groove: blue (the highlight) below the handle, grey above.
    auto blueness = [&](double at) {
        int most = -255;
        const int y = static_cast<int>(img.height() * at);
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            most = std::max(most, c.blue() - c.red());
        }
        return most;
    };
    EXPECT_GT(blueness(0.8), 60) << "not filled below the handle";
    EXPECT_LT(blueness(0.2), 30) << "filled above the handle";

    // The value while dragged: the master level in decibels.
    EXPECT_EQ(MasterLevelText(20), "Master level: 0.0 dB");
    EXPECT_EQ(MasterLevelText(0), "Master level: +17.4 dB");
    EXPECT_EQ(MasterLevelText(21), "Master level: -0.1 dB");
    EXPECT_EQ(MasterLevelText(200), "Master level: off");
    EXPECT_EQ(ResonanceText(10), "Resonance: 95 %");
    EXPECT_EQ(ResonanceText(200), "Resonance: 0 %");
    const QPoint handle(fader->width() / 2, fader->height() / 2);
    QTest::mousePress(fader, Qt::LeftButton, {}, handle);
    QTest::mouseMove(fader, handle + QPoint(0, 20));
    EXPECT_TRUE(fader->isSliderDown());
    EXPECT_EQ(QToolTip::text(), MasterLevelText(fader->value()));
    QTest::mouseRelease(fader, Qt::LeftButton, {}, handle + QPoint(0, 20));
    Find<QSlider>("ResonanceFader")->setValue(10);
    EXPECT_EQ(static_cast<TFader*>(Find<QSlider>("ResonanceFader"))->ValueTip(), "Resonance: 95 %");
}
