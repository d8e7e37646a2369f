// The main window as the player meets it: start-up, playing through its widgets, meters,
// faders, function keys, the watchdog, the crash path and the settings written at exit.
#include "ui/MainWindow.h"
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
#include <QTemporaryDir>
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
    const std::vector<std::string>& DriverList() const override { return none; }
    std::vector<std::string> none;
};

struct Shown {
    std::string Class;
    QString Text;
    QString Folder; // where a file dialog starts
};

struct MainWinTest : ::testing::Test {
    QTemporaryDir dir;
    std::vector<Shown> shown;
    std::vector<int> halts;
    std::vector<QUrl> urls;
    uint32_t tick = 1000;
    QString fileToChoose; // what the file dialogs answer; empty: cancel
    bool browser = true;  // a web browser opens the addresses
    TWindowPlatform Platform = TWindowPlatform::Desktop();
    std::unique_ptr<TMainWindow> win;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        Platform.ExecModal = [this](QDialog& d) {
            Shown s{d.metaObject()->className(), {}, {}};
            if (auto* box = qobject_cast<QMessageBox*>(&d)) {
                s.Text = box->text();
            } else if (auto* warn = qobject_cast<TAudioStoppedNotice*>(&d)) {
                s.Text = warn->Headline->text();
            } else if (auto* crash = qobject_cast<TCrashWindow*>(&d)) {
                s.Text = crash->ErrorText();
            } else if (auto* fd = qobject_cast<QFileDialog*>(&d)) {
                s.Text = fd->windowTitle();
                s.Folder = fd->directory().absolutePath();
                shown.push_back(s);
                if (fileToChoose.isEmpty()) {
                    return int(QDialog::Rejected);
                }
                fd->selectFile(fileToChoose);
                return int(QDialog::Accepted);
            }
            shown.push_back(s);
            return int(QMessageBox::Ok);
        };
        Platform.Halt = [this](int code) { halts.push_back(code); };
        Platform.OpenUrl = [this](const QUrl& u) {
            urls.push_back(u);
            return browser;
        };
        Platform.TickCount = [this] { return tick; };
        Platform.CreateHost = [] { return std::make_unique<TNullHost>(48000.0, 128, true); };
    }
    void Start() {
        win = std::make_unique<TMainWindow>(Platform);
        win->resize(700, 49 + 500 + 19);
        win->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    }
    void TearDown() override { win.reset(); }
    std::string Path(const char* name) { return dir.filePath(name).toStdString(); }
    // A twelve-tone equal scale: with one repeat down and up, 37 tones.
    QString WriteScale() {
        const std::string p = Path("et12.scl");
        std::ofstream f(p);
        f << "! et12.scl\n12-tone equal temperament\n12\n";
        for (int i = 1; i <= 12; ++i) {
            f << i * 100 << ".0\n";
        }
        return QString::fromStdString(p);
    }
    void OpenScale37() {
        win->RepeatDownEdit->setText("1");
        win->RepeatUpEdit->setText("1");
        fileToChoose = WriteScale();
        win->OpenScaleBtnClick();
        QCoreApplication::processEvents();
    }
    // Playing values reach the engine at its next block: wait for it.
    void Settle() {
        for (int i = 0; i < 2000 && win->Instrument.Audio().Engine().ChangesPending(); ++i) {
            QTest::qWait(1);
        }
        ASSERT_FALSE(win->Instrument.Audio().Engine().ChangesPending());
    }
    TTone& Osc(int i) {
        Settle();
        return *win->Instrument.Audio().Engine().Oscillators.at(static_cast<size_t>(i));
    }
    bool Saw(const std::string& cls, const QString& text = {}) const {
        for (const Shown& s : shown) {
            if (s.Class == cls && (text.isEmpty() || s.Text == text)) {
                return true;
            }
        }
        return false;
    }
};

} // namespace

TEST_F(MainWinTest, StartsWithoutTabletInMouseModeWithAudioRunning) {
    Start();
    EXPECT_TRUE(Saw("varko::TNoTabletNotice"));
    EXPECT_TRUE(win->Settings->MousePressureBox->isChecked());
    EXPECT_FALSE(win->Settings->MousePressureBox->isEnabled());
    EXPECT_TRUE(win->Playing().MousePressure);
    EXPECT_EQ(win->StatusText(0), "Standard mouse");
    EXPECT_EQ(win->StatusText(4), "Running"); // first run: driver 0 opened and started
    EXPECT_TRUE(win->Instrument.Audio().Engine().Running.load());
    EXPECT_TRUE(win->Watchdog->isActive());
    EXPECT_TRUE(win->LevelTimer->isActive());
    EXPECT_FALSE(win->RestartBtn->isVisible());
    EXPECT_FALSE(win->ParametersPanel->isVisible());
    ASSERT_EQ(win->ModeFilesCombo->count(), 1);
    EXPECT_EQ(win->ModeFilesCombo->itemText(0), "Browse...");
    EXPECT_EQ(win->ModeFilesCombo->currentIndex(), -1);
    EXPECT_TRUE(win->Instrument.Audio()
                    .Engine()
                    .Oscillators.empty()); // no scale until the player opens one
    EXPECT_TRUE(halts.empty());
}

TEST_F(MainWinTest, NoAudioDeviceShowsTheNoticeAndHaltsWithoutWriting) {
    Platform.CreateHost = [] { return std::make_unique<TNoDeviceHost>(); };
    Start();
    EXPECT_TRUE(Saw("varko::TNoAudioDeviceNotice"));
    EXPECT_FALSE(Saw("varko::TNoTabletNotice"));
    ASSERT_EQ(halts.size(), 1u);
    EXPECT_TRUE(win->Halted);
    win.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFilePath())));
}

TEST_F(MainWinTest, OpeningAScaleBuildsTheBankAndPaintsTheBars) {
    Start();
    OpenScale37();
    EXPECT_TRUE(Saw("QFileDialog", "Open Scale"));
    ASSERT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    EXPECT_EQ(win->StatusText(2), "12-tone equal temperament");
    EXPECT_EQ(win->StatusText(3), "Uniform bar with free ends");
    EXPECT_EQ(win->StatusText(4), "Running");
    EXPECT_TRUE(win->ScaleContentsBox->toPlainText().startsWith("! et12.scl\n12-tone"));
    EXPECT_FLOAT_EQ(Osc(0).Frequency, 100.0f);
    EXPECT_NEAR(Osc(36).Frequency, 800.0f, 1e-3);

    // 37 bars on a 700-pixel zone: 18 pixels each, a 34-pixel strip right of them.
    ASSERT_EQ(win->ToneZone->width(), 700);
    EXPECT_FLOAT_EQ(win->ToneZone->BarWidthReciprocal(), 1.0f / 18);
    win->Settings->FrequencyLabelsBox->click();
    win->Settings->ColoredBarsBox->click(); // grey look
    QImage img = win->ToneZone->grab().toImage();
    EXPECT_EQ(QColor(img.pixel(5, 250)), QColor(152, 152, 152));
    EXPECT_EQ(QColor(img.pixel(18 + 5, 250)), QColor(222, 222, 222));
    EXPECT_EQ(QColor(img.pixel(680, 250)), QColor(Qt::black));

    // Two rows: 19 cells of 36 pixels; the divider at y = 250, the nineteenth bottom cell black.
    win->Settings->TwoRowsBox->click();
    img = win->ToneZone->grab().toImage();
    EXPECT_FLOAT_EQ(win->ToneZone->BarWidthReciprocal(), 1.0f / 36);
    EXPECT_EQ(QColor(img.pixel(5, 300)), QColor(152, 152, 152)); // tone 19, darker like tone 0
    EXPECT_EQ(QColor(img.pixel(18 * 36 + 5, 300)), QColor(Qt::black));
    EXPECT_NE(QColor(img.pixel(100, 250)), QColor(152, 152, 152));
    EXPECT_NE(QColor(img.pixel(100, 250)), QColor(222, 222, 222));
    Settle();
    EXPECT_FLOAT_EQ(win->Instrument.Audio().Engine().PanStep.load(), 1.0f / 19);
}

TEST_F(MainWinTest, MousePlaysTheBarUnderThePointer) {
    Start();
    OpenScale37();
    TToneZone* zone = win->ToneZone;
    QTest::mouseMove(zone, QPoint(3 * 18 + 5, 125));
    ASSERT_EQ(win->Playing().CurrentBar, 3);
    EXPECT_FLOAT_EQ(Osc(3).StrikePosition.load(), 0.25f);
    QTest::mousePress(zone, Qt::LeftButton, {}, QPoint(3 * 18 + 5, 125));
    EXPECT_FLOAT_EQ(Osc(3).Pressure.load(), 0.5f);
    EXPECT_EQ(win->PressureBar->value(), 50);
    // Dragging onto bar 4 silences bar 3; bar 4 waits for a new press.
    QTest::mouseMove(zone, QPoint(4 * 18 + 5, 375));
    EXPECT_EQ(win->Playing().CurrentBar, 4);
    EXPECT_EQ(Osc(3).Pressure.load(), 0.0f);
    EXPECT_EQ(Osc(4).Pressure.load(), 0.0f);
    EXPECT_FLOAT_EQ(Osc(4).StrikePosition.load(), 0.75f);
    // Into the strip right of the last bar: no bar.
    QTest::mouseMove(zone, QPoint(690, 375));
    EXPECT_EQ(win->Playing().CurrentBar, -1);
    QTest::mouseRelease(zone, Qt::LeftButton, {}, QPoint(690, 375));
    EXPECT_FALSE(win->Playing().PenDown);
    EXPECT_EQ(win->PressureBar->value(), 50); // over no bar the release leaves the display
}

TEST_F(MainWinTest, ResonanceButtonsStopAtTheFadersEnds) {
    Start();
    OpenScale37();
    TToneZone* zone = win->ToneZone;
    QTest::mouseMove(zone, QPoint(50, 100));
    QTest::mousePress(zone, Qt::RightButton, {}, QPoint(50, 100));
    EXPECT_EQ(win->ResonanceFader->value(), 11);
    EXPECT_FLOAT_EQ(Osc(20).Resonance.load(), ResonanceFromFader(11));
    EXPECT_TRUE(win->RezDownTimer->isActive());
    QTest::qWait(200); // the timer keeps lowering while the button is held
    EXPECT_GT(win->ResonanceFader->value(), 11);
    QTest::mouseRelease(zone, Qt::RightButton, {}, QPoint(50, 100));
    EXPECT_FALSE(win->RezDownTimer->isActive());

    win->ResonanceFader->setValue(200);
    QTest::mousePress(zone, Qt::RightButton, {}, QPoint(50, 100));
    win->Playing().RezDownTimerTimer();
    EXPECT_EQ(win->ResonanceFader->value(), 200);
    QTest::mouseRelease(zone, Qt::RightButton, {}, QPoint(50, 100));
    win->ResonanceFader->setValue(0);
    EXPECT_FLOAT_EQ(Osc(0).Resonance.load(), 0.9999f);
    QTest::mousePress(zone, Qt::MiddleButton, {}, QPoint(50, 100));
    win->Playing().RezUpTimerTimer();
    EXPECT_EQ(win->ResonanceFader->value(), 0);
    QTest::mouseRelease(zone, Qt::MiddleButton, {}, QPoint(50, 100));
    EXPECT_FALSE(win->RezUpTimer->isActive());
    win->ResonanceReset->OnClick();
    EXPECT_EQ(win->ResonanceFader->value(), 10);
}

TEST_F(MainWinTest, LevelMetersAndClipLeds) {
    Start();
    win->Instrument.Audio().Engine().Stop();
    win->Instrument.Audio().Engine().PeakLeft = 0.8f; // -1.9 dB: loud, not clipping
    win->Instrument.Audio().Engine().PeakRight = 0.891f;
    win->LevelTimerTick();
    EXPECT_EQ(win->LeftMeter->value(), 58);
    EXPECT_EQ(win->LeftClipLed->Fill, QColor(Qt::black));
    EXPECT_FALSE(win->LeftClipOffTimer->isActive());
    EXPECT_EQ(win->RightMeter->value(), 59);
    EXPECT_EQ(win->RightClipLed->Fill, QColor(255, 128, 0));
    EXPECT_EQ(win->RightClipLed->Outline, QColor(128, 0, 0));
    EXPECT_TRUE(win->RightClipOffTimer->isActive());
    EXPECT_EQ(win->Instrument.Audio().Engine().PeakLeft.load(), 0.0f);
    EXPECT_EQ(win->Instrument.Audio().Engine().PeakRight.load(), 0.0f);

    win->Instrument.Audio().Engine().PeakLeft = 0.001f;
    win->Instrument.Audio().Engine().PeakRight = 0.0f;
    win->LevelTimerTick();
    EXPECT_EQ(win->LeftMeter->value(), 0);
    EXPECT_EQ(win->RightMeter->value(), 0);

    win->RightClipOffTimerTimer();
    EXPECT_EQ(win->RightClipLed->Fill, QColor(Qt::black));
    EXPECT_EQ(win->RightClipLed->Outline, QColor(128, 128, 128));
    EXPECT_FALSE(win->RightClipOffTimer->isActive());
}

TEST_F(MainWinTest, MasterFaderGainsAndTheLoudspeaker) {
    Start();
    const std::pair<int, float> cases[] = {{19, 1.21f}, {20, 1.0f},     {21, 0.99f},
                                           {0, 7.40f},  {199, 0.1655f}, {200, 0.0f}};
    for (auto [p, gain] : cases) {
        win->MasterFader->setValue(p);
        Settle();
        EXPECT_NEAR(win->Instrument.Audio().Engine().MasterGain.load(), gain, 0.005f) << p;
    }
    win->MasterLevelReset->OnClick();
    EXPECT_EQ(win->MasterFader->value(), 20);
    Settle();
    EXPECT_FLOAT_EQ(win->Instrument.Audio().Engine().MasterGain.load(), 1.0f);
}

TEST_F(MainWinTest, ModeLimitRepeatEditsAndWeightingLabel) {
    Start();
    win->ModeLimitEdit->setText("0");
    win->ModeLimitEdit->setText("abc");
    EXPECT_EQ(win->Instrument.Bank().ModeLimit(), 8);
    win->ModeLimitEdit->setText("150");
    EXPECT_EQ(win->Instrument.Bank().ModeLimit(), 150);
    win->ModeLimitEdit->setText("99");
    win->ModeLimitArrows->Click(+1);
    win->ModeLimitArrows->Click(+1);
    EXPECT_EQ(win->Instrument.Bank().ModeLimit(), 100); // the arrows stop at 100
    EXPECT_EQ(win->ModeLimitEdit->text(), "100");

    win->RepeatDownEdit->setText("11");
    EXPECT_EQ(win->Instrument.Bank().RepeatDownCount(), 0);
    win->RepeatDownEdit->setText("7");
    EXPECT_EQ(win->Instrument.Bank().RepeatDownCount(), 7);
    win->RepeatUpArrows->Click(-1);
    EXPECT_EQ(win->Instrument.Bank().RepeatUpCount(), 0);

    win->ModeWeightingSlider->setValue(11);
    EXPECT_EQ(win->ModeWeightingFormula->text(), "1/n!");
    EXPECT_TRUE(win->ModeWeightingExponent->isHidden());
    // The "!" is shown, not cut off.
    EXPECT_GE(win->ModeWeightingFormula->width(), win->ModeWeightingFormula->sizeHint().width());
    win->ModeWeightingSlider->setValue(5);
    EXPECT_EQ(win->ModeWeightingFormula->text(), "1/n");
    EXPECT_EQ(win->ModeWeightingExponent->text(), "2.5");
    EXPECT_FALSE(win->ModeWeightingExponent->isHidden());
    win->ModeWeightingSlider->setValue(0);
    EXPECT_EQ(win->ModeWeightingExponent->text(), "0");
}

TEST_F(MainWinTest, FunctionKeys) {
    Start();
    QWidget* focus = win->InitialFrequencyEdit;
    win->ParametersPanel->show();
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_F3);
    EXPECT_FALSE(win->ParametersPanel->isVisible());
    QTest::keyClick(win.get(), Qt::Key_F3, Qt::ShiftModifier); // modifiers: not the window's
    EXPECT_FALSE(win->ParametersPanel->isVisible());
    QTest::keyClick(win.get(), Qt::Key_F3);
    EXPECT_TRUE(win->ParametersPanel->isVisible());
    QTest::keyClick(win.get(), Qt::Key_F4);
    EXPECT_TRUE(win->ScaleContentsPanel->isVisible());
    QTest::keyClick(win.get(), Qt::Key_F9);
    EXPECT_FALSE(win->ToolbarPanel->isVisible());
    QTest::keyClick(win.get(), Qt::Key_F10);
    EXPECT_FALSE(win->StatusBar->isVisible());
    QTest::keyClick(win.get(), Qt::Key_F10);
    EXPECT_TRUE(win->StatusBar->isVisible());

    win->move(40, 30);
    QCoreApplication::processEvents();
    const QRect before = win->geometry();
    QTest::keyClick(win.get(), Qt::Key_F11);
    EXPECT_TRUE(win->isFullScreen());
    QTest::keyClick(win.get(), Qt::Key_F11);
    EXPECT_FALSE(win->isFullScreen());
    EXPECT_FALSE(win->isMaximized());
    EXPECT_TRUE(win->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(win->geometry(), before); // back where it was, not lower

    QTest::keyClick(win.get(), Qt::Key_F1);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_TRUE(urls[0].toLocalFile().endsWith("User Guide.htm"));
    QTest::keyClick(win.get(), Qt::Key_F12);
    EXPECT_TRUE(Saw("varko::TSettingsDialog"));
}

TEST_F(MainWinTest, F6StopsTheAudioUntilRestart) {
    Start();
    QTest::keyClick(win.get(), Qt::Key_F6);
    EXPECT_TRUE(Saw("varko::TAudioStoppedNotice", "Audio was stopped."));
    EXPECT_FALSE(win->Instrument.Audio().Engine().Running.load());
    EXPECT_FALSE(win->Watchdog->isActive());
    EXPECT_TRUE(win->RestartBtn->isVisible());
    EXPECT_EQ(win->StatusText(4), "Stopped");
    QTest::mouseClick(win->RestartBtn, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_TRUE(win->Instrument.Audio().Engine().Running.load());
    EXPECT_TRUE(win->Watchdog->isActive());
    EXPECT_FALSE(win->RestartBtn->isVisible());
    EXPECT_EQ(win->StatusText(4), "Running");
}

TEST_F(MainWinTest, WatchdogStopsAfterFifteenSecondsOfStarvation) {
    Start();
    tick += 10000; // a 10 s block never trips it
    win->WatchdogTick();
    EXPECT_TRUE(win->Instrument.Audio().Engine().Running.load());
    tick += 15001;
    win->WatchdogTick();
    EXPECT_TRUE(Saw("varko::TAudioStoppedNotice", text::LoadStopped));
    EXPECT_FALSE(win->Instrument.Audio().Engine().Running.load());
    EXPECT_FALSE(win->Watchdog->isActive());
    EXPECT_EQ(win->StatusText(4), "Stopped");
    // The tick count wraps around without a false alarm.
    win->RestartBtnClick();
    shown.clear();
    tick = 0xFFFFF000u;
    win->LastTick = tick;
    tick += 0x2000u;
    win->WatchdogTick();
    EXPECT_FALSE(Saw("varko::TAudioStoppedNotice"));
}

TEST_F(MainWinTest, ExceptionInAHandlerShowsTheCrashWindowAndHalts) {
    Start();
    QMetaObject::invokeMethod(
        win.get(), [] { throw std::runtime_error("boom"); }, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Saw("varko::TCrashWindow", "std::runtime_error@TMainWindow: boom"));
    ASSERT_EQ(halts.size(), 1u);
    EXPECT_NE(halts[0], 0);
    EXPECT_FALSE(win->Instrument.Audio().Engine().Running.load());
    // Halted: nothing is saved.
    win.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFilePath())));
}

TEST_F(MainWinTest, OpeningAScaleWithoutADriverAsksForOne) {
    Start();
    win->Instrument.Audio().SelectDriver(-1);
    fileToChoose = WriteScale();
    QTest::keyClick(win.get(), Qt::Key_F2);
    EXPECT_TRUE(Saw("QMessageBox", text::ChooseDriver));
    EXPECT_FALSE(Saw("QFileDialog"));
    EXPECT_TRUE(win->Instrument.Audio().Engine().Oscillators.empty());
}

// The labels say what the bank built sounds: with whole-sample lines the bars' own pitch at the
// bank's rate; after a rebuild with exact lines, the scale's.
TEST_F(MainWinTest, LabelsFollowTheDelayLinesTheBankWasBuiltWith) {
    Start();
    win->Instrument.Settings().SetInterpolateDelays(false);
    OpenScale37();
    EXPECT_EQ(win->ToneZone->Look().WholeSampleRate, 48000.0f);
    win->Instrument.Settings().SetInterpolateDelays(true);
    win->ApplyParametersBtnClick();
    EXPECT_EQ(win->ToneZone->Look().WholeSampleRate, 0.0f);
}

TEST_F(MainWinTest, ApplyRebuildsWithTheNewFrequencyAndKeepsABadOne) {
    Start();
    OpenScale37();
    win->InitialFrequencyEdit->setText("100");
    QTest::keyClick(win.get(), Qt::Key_F5);
    EXPECT_FLOAT_EQ(Osc(12).Frequency, 100.0f);
    win->InitialFrequencyEdit->setText("abc");
    win->ApplyParametersBtnClick();
    EXPECT_FLOAT_EQ(Osc(12).Frequency, 100.0f);
    // A tone above half the sample rate cannot sound.
    win->InitialFrequencyEdit->setText("20000");
    win->ApplyParametersBtnClick();
    EXPECT_FALSE(win->NoSoundWarning->isHidden());
    EXPECT_EQ(win->StatusText(2), "12-tone equal temperament");
}

TEST_F(MainWinTest, SettingsAreWrittenAtExitEvenWithTheAudioStopped) {
    Start();
    win->MasterFader->setValue(35);
    win->StopAudio();
    win->close();
    TIniFile ini;
    ASSERT_EQ(ini.Load(SettingsFilePath()), TIniFile::TLoadResult::Loaded);
    const TVarkoSettings s = ReadSettings(ini);
    EXPECT_EQ(s.MasterLevel, 35);
    EXPECT_EQ(s.ASIOdriver, 0);
    EXPECT_TRUE(s.AllowMouse); // forced on without a tablet
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(HistoryFilePath())));
    EXPECT_FALSE(Saw("QMessageBox"));

    // The next start reads them back.
    win.reset();
    shown.clear();
    Start();
    EXPECT_EQ(win->MasterFader->value(), 35);
}

TEST_F(MainWinTest, SettingsThatCannotBeReadOrSavedAreReported) {
    // A folder where the settings file should be: it can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("config/Varko/Varko.ini")));
    Start();
    EXPECT_TRUE(Saw("QMessageBox", text::SettingsNotRetrieved));
    EXPECT_EQ(win->StatusText(4), "Running"); // the defaults still start the audio
    win->close();
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
    win->Platform.MakeTone = [] { return std::make_unique<TFailingOsc>(); };
    OpenScale37();
    win->Platform.MakeTone = nullptr;
    // The rebuild was abandoned at the first tone; its end arrives through the event loop.
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !halts.empty(); }, 5000));
    EXPECT_TRUE(
        Saw("varko::TCrashWindow", "std::length_error@TWaveguideThread: no room for the bands"));
    EXPECT_FALSE(win->Instrument.Audio().Engine().Running.load());
}

TEST_F(MainWinTest, StartsWithATabletWhenOneIsPresent) {
    Platform.ProbeTablet = [](TTabletEventSource& source) { source.SetDevice(true, "Test Pen"); };
    Start();
    EXPECT_FALSE(Saw("varko::TNoTabletNotice"));
    EXPECT_EQ(win->StatusText(0), "Test Pen");
    EXPECT_TRUE(win->Settings->MousePressureBox->isEnabled());
    EXPECT_FALSE(win->Playing().MousePressure);
    EXPECT_EQ(win->PressureBar->maximum(), 1023);
    EXPECT_FLOAT_EQ(win->Playing().PressureScale, 1.0f / 1023);
    QCoreApplication::processEvents(); // the context-open message
    EXPECT_GT(win->Playing().TabletScaleX, 0.0f);

    // Pen events on the tone zone reach the tone under the pointer.
    OpenScale37();
    static const QPointingDevice pen(
        QStringLiteral("Test Pen"), 4713, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    auto send = [&](QEvent::Type type, QPoint local, double pressure, Qt::MouseButtons buttons) {
        const QPointF global = win->ToneZone->mapToGlobal(QPointF(local));
        QTabletEvent e(type, &pen, QPointF(local), global, pressure, 0, 0, 0, 0, 0, Qt::NoModifier,
                       Qt::NoButton, buttons);
        QApplication::sendEvent(win->ToneZone, &e);
    };
    QTest::mouseMove(win->ToneZone, QPoint(100, 200)); // the bar comes from the mouse events
    ASSERT_EQ(win->Playing().CurrentBar, 5);
    send(QEvent::TabletMove, {100, 200}, 0.0, Qt::NoButton);
    send(QEvent::TabletMove, {110, 200}, 0.0, Qt::NoButton); // hovering: speed, no pressure
    EXPECT_GT(Osc(5).Speed.load(), 0.0f);
    EXPECT_EQ(Osc(5).Pressure.load(), 0.0f);
    QTest::mousePress(win->ToneZone, Qt::LeftButton, {}, QPoint(110, 200)); // the tip
    send(QEvent::TabletMove, {110, 200}, 0.5, Qt::LeftButton);
    EXPECT_NEAR(Osc(5).Pressure.load(), 0.5f, 1e-3);
    EXPECT_EQ(win->PressureBar->value(), 512);
}

TEST_F(MainWinTest, ModeFilesFromBrowseAndHistory) {
    const std::string good = Path("glass.vmod");
    std::ofstream(good) << "1.0, 1.0\n2.76, 0.5\nnot a mode\n";
    {
        ASSERT_TRUE(QDir().mkpath(dir.filePath("config/Varko")));
        std::ofstream(HistoryFilePath()) << Path("gone.vmod") << "\r\n";
    }
    Start();
    ASSERT_EQ(win->ModeFilesCombo->count(), 2);
    EXPECT_EQ(win->ModeFilesCombo->itemText(1), "gone");
    win->ExternalObject->click();
    EXPECT_TRUE(win->ModeFilesCombo->isEnabled());
    EXPECT_FALSE(win->ModeWeightingSlider->isEnabled());

    fileToChoose = QString::fromStdString(good);
    win->ModeFilesCombo->setCurrentIndex(0);
    win->ModeFilesComboSelect();
    EXPECT_TRUE(Saw("QFileDialog", "Open Vibration Mode File"));
    EXPECT_FALSE(win->ModeFileWarning->isHidden()); // the faulty third line
    ASSERT_EQ(win->ModeFilesCombo->count(), 3);
    EXPECT_EQ(win->ModeFilesCombo->currentIndex(), 1);
    EXPECT_EQ(win->ModeFilesCombo->itemText(1), "glass");

    // The missing history entry: the error, and it leaves list and history.
    win->ModeFilesCombo->setCurrentIndex(2);
    win->ModeFilesComboSelect();
    EXPECT_TRUE(Saw("QMessageBox", text::ModeFileNotOpened));
    EXPECT_EQ(win->ModeFilesCombo->count(), 2);
    EXPECT_EQ(win->ModeFilesCombo->currentIndex(), -1);

    // Cancelling "Browse..." clears the selection but keeps the modes.
    win->ModeFilesCombo->setCurrentIndex(1);
    win->ModeFilesComboSelect();
    fileToChoose.clear();
    win->ModeFilesCombo->setCurrentIndex(0);
    win->ModeFilesComboSelect();
    EXPECT_EQ(win->ModeFilesCombo->currentIndex(), -1);

    OpenScale37();
    win->ModeFilesCombo->setCurrentIndex(1);
    win->ApplyParametersBtnClick();
    EXPECT_EQ(win->StatusText(3), "glass (Both ends free)");
    win.reset();
    ModeFileHistory saved;
    ASSERT_TRUE(saved.Load(HistoryFilePath()));
    EXPECT_EQ(saved.Entries(), std::vector<std::string>{good});
}

TEST_F(MainWinTest, ADriverResetRebuildsTheBankOnTheWindowsThread) {
    Start();
    OpenScale37();
    const TTone* before = &Osc(0);
    static_cast<TNullHost&>(win->Instrument.Audio().Engine().Host()).RequestReset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return &Osc(0) != before; }, 5000));
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    EXPECT_TRUE(win->Instrument.Audio().Engine().Running.load());
    EXPECT_EQ(win->StatusText(4), "Running");
}

TEST_F(MainWinTest, PressureDisplayIsPaintedIntoTheStatusBar) {
    Start();
    OpenScale37();
    QTest::mouseMove(win->ToneZone, QPoint(50, 100));
    QTest::mousePress(win->ToneZone, Qt::LeftButton, {}, QPoint(50, 100));
    EXPECT_EQ(win->PressureBar->value(), 50);
    const QImage half = win->StatusBar->grab().toImage();
    QTest::mouseRelease(win->ToneZone, Qt::LeftButton, {}, QPoint(50, 100));
    const QImage none = win->StatusBar->grab().toImage();
    const int y = (win->StatusBar->height() - 9) / 2 + 5;
    const int x = win->StatusBar->PanelRect(1).left() + 4;
    // Half scale: the bar's left quarter differs from the empty bar, its right end does not.
    EXPECT_NE(half.pixelColor(x + 20, y), none.pixelColor(x + 20, y));
    EXPECT_EQ(half.pixelColor(x + 90, y), none.pixelColor(x + 90, y));
}

TEST_F(MainWinTest, TooManyTonesAreCappedWithAMessage) {
    Start();
    win->Instrument.Audio().Engine().Stop(); // the capped bank is built, not played
    const std::string p = Path("et30.scl");
    {
        std::ofstream f(p);
        // 72 steps over 21 octaves: more tones than the cap.
        f << "72 steps\n72\n";
        for (int i = 1; i <= 72; ++i) {
            f << i * 50 / 3 << "." << i * 50 % 3 * 3 << "\n";
        }
    }
    win->RepeatDownEdit->setText("10");
    win->RepeatUpEdit->setText("10");
    fileToChoose = QString::fromStdString(p);
    win->OpenScaleBtnClick();
    EXPECT_EQ(win->Instrument.Bank().Tones().size(), 73u + 72u * 20u);
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), static_cast<size_t>(MaxTones));
    EXPECT_TRUE(Saw("QMessageBox", QString::fromUtf8(text::TooManyTones).arg(1513).arg(MaxTones)));
    EXPECT_EQ(win->ToneZone->ToneRatios().size(), static_cast<size_t>(MaxTones));
}

TEST_F(MainWinTest, CtrlRRecordsAndTheReplayButtonPlaysTheRecordingBack) {
    Platform.MusicFolder = [this] { return dir.filePath("Music"); };
    Start();
    OpenScale37();
    const QImage rest = win->RecordBtn->ImageNormal();
    // The common roll-over: Ctrl let go a moment before R. Read on release, it did nothing.
    QTest::keyPress(win->ToneZone, Qt::Key_Control);
    QTest::keyPress(win->ToneZone, Qt::Key_R, Qt::ControlModifier);
    QTest::keyRelease(win->ToneZone, Qt::Key_Control);
    QTest::keyRelease(win->ToneZone, Qt::Key_R);
    ASSERT_TRUE(win->Instrument.Recording().Active());
    EXPECT_EQ(win->RecordBtn->ImageNormal(), ResourceImage(QStringLiteral("RecordBtnOn")));
    const QString folder = QString::fromStdString(win->Instrument.Recording().Folder());
    EXPECT_TRUE(folder.startsWith(dir.filePath("Music/Varko/"))) << folder.toStdString();

    // A press on bar 3 while recording.
    TToneZone* zone = win->ToneZone;
    QTest::mouseMove(zone, QPoint(3 * 18 + 5, 125));
    QTest::mousePress(zone, Qt::LeftButton, {}, QPoint(3 * 18 + 5, 125));
    QTest::mouseMove(zone, QPoint(3 * 18 + 7, 200));
    QTest::qWait(300);
    QTest::mouseRelease(zone, Qt::LeftButton, {}, QPoint(3 * 18 + 7, 200));
    QTest::qWait(1000); // long enough for the replay to be stopped before its end
    win->RecordBtn->OnClick(win->RecordBtn);
    ASSERT_FALSE(win->Instrument.Recording().Active());
    EXPECT_EQ(win->RecordBtn->ImageNormal(), rest);
    EXPECT_TRUE(win->RecordingLabel->text().contains(QDir(folder).dirName()));
    for (const char* name : {"performance.wav", "performance.txt", "performance.ini", "et12.scl"}) {
        EXPECT_TRUE(QFile::exists(folder + "/" + name)) << name;
    }

    // Another scale, then the replay: the recorded scale comes back and bar 3 is pressed again.
    {
        std::ofstream f(Path("three.scl"));
        f << "three\n2\n400.0\n2/1\n";
    }
    fileToChoose = QString::fromStdString(Path("three.scl"));
    win->RepeatUpEdit->setText("0");
    win->OpenScaleBtnClick();
    ASSERT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 5u);
    fileToChoose = folder;
    win->ReplayBtnClick();
    ASSERT_TRUE(win->Replaying());
    // The take is read off the window's thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !win->ReplayLoading(); }, 10000));
    ASSERT_TRUE(win->Replaying());
    EXPECT_EQ(win->ReplayBtn->ImageNormal(), ResourceImage(QStringLiteral("ReplayBtnStop")));
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    EXPECT_EQ(win->StatusText(2), "12-tone equal temperament");
    EXPECT_EQ(win->RepeatUpEdit->text(), "1");
    TTone& three = Osc(3);
    bool pressed = false;
    for (int i = 0; i < 2000 && !pressed; ++i) {
        QTest::qWait(1);
        pressed = three.Pressure.load() > 0.0f;
    }
    EXPECT_TRUE(pressed) << "the replay did not press bar 3";
    fileToChoose.clear();
    win->ReplayBtnClick(); // the stop button
    EXPECT_FALSE(win->Replaying());
    EXPECT_EQ(win->ReplayBtn->ImageNormal(), ResourceImage(QStringLiteral("ReplayBtn")));
    EXPECT_EQ(Osc(3).Pressure.load(), 0.0f);
}

TEST_F(MainWinTest, AReplayRunsToItsEndWhileANewRecordingTakesItIn) {
    Platform.MusicFolder = [this] { return dir.filePath("Music"); };
    Start();
    OpenScale37();
    win->RecordBtnClick();
    // The press comes a while into the performance, so that the second recording, started
    // just after the replay, is running when the replay reaches it.
    QTest::qWait(300);
    QTest::mouseMove(win->ToneZone, QPoint(5 * 18 + 5, 125));
    QTest::mousePress(win->ToneZone, Qt::LeftButton, {}, QPoint(5 * 18 + 5, 125));
    QTest::qWait(50);
    QTest::mouseRelease(win->ToneZone, Qt::LeftButton, {}, QPoint(5 * 18 + 5, 125));
    QTest::qWait(150);
    win->RecordBtnClick();
    const QString first = QString::fromStdString(win->Instrument.Recording().Folder());

    fileToChoose = first;
    win->ReplayBtnClick();
    ASSERT_TRUE(win->Replaying());
    // The take is read off the window's thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !win->ReplayLoading(); }, 10000));
    ASSERT_TRUE(win->Replaying());
    win->RecordBtnClick(); // recording again while the replay runs
    ASSERT_TRUE(win->Instrument.Recording().Active());
    const QString second = QString::fromStdString(win->Instrument.Recording().Folder());
    EXPECT_NE(second, first);
    for (int i = 0; i < 3000 && win->Replaying(); ++i) {
        QTest::qWait(1);
    }
    EXPECT_FALSE(win->Replaying()) << "the replay did not end by itself";
    win->RecordBtnClick();
    // The replayed press is in the new recording's gesture.
    std::ifstream script((second + "/performance.txt").toStdString());
    const std::string text((std::istreambuf_iterator<char>(script)), {});
    EXPECT_NE(text.find("\ntone @"), std::string::npos) << text;
    EXPECT_NE(text.find(" 5 0.5 "), std::string::npos) << text;
}

TEST_F(MainWinTest, ClippingLightsTheClippingChannelsLampAndKeepsItsMeterFull) {
    // A flat top at full scale on the left, a quieter right (as marimba-bar.vmod gives).
    Start();
    TAudioEngine& e = win->Instrument.Audio().Engine();
    e.Stop();
    e.PeakLeft = 1.0f;
    e.PeakRight = 0.5f;
    win->LevelTimerTick();
    EXPECT_EQ(win->LeftMeter->value(), 60);
    EXPECT_EQ(win->LeftClipLed->Fill, QColor(255, 128, 0));
    EXPECT_EQ(win->RightMeter->value(), 54);
    EXPECT_EQ(win->RightClipLed->Fill, QColor(Qt::black));
    // Beyond full scale the meter stays full and the lamp lit.
    for (float peak : {1.12f, 1.5f, 2000.0f}) {
        win->LeftClipOffTimerTimer();
        e.PeakLeft = peak;
        e.PeakRight = 0.5f;
        win->LevelTimerTick();
        EXPECT_EQ(win->LeftMeter->value(), 60) << peak;
        EXPECT_EQ(win->LeftClipLed->Fill, QColor(255, 128, 0)) << peak;
        EXPECT_EQ(win->RightClipLed->Fill, QColor(Qt::black)) << peak;
    }
}

TEST_F(MainWinTest, LevelMetersShowGreenYellowAndRedZones) {
    Start();
    win->Instrument.Audio().Engine().Stop();
    win->LevelTimer->stop();
    auto at = [&](int step) {
        const QImage img = win->LeftMeter->grab().toImage();
        const int h = img.height() - 2;
        return img.pixelColor(img.width() / 2, 1 + h - (h * step + h * (step + 1)) / 120);
    };
    win->LeftMeter->setValue(60);
    EXPECT_EQ(at(10), TLevelMeter::ZoneColor(10, true));
    EXPECT_EQ(at(52), TLevelMeter::ZoneColor(52, true));
    EXPECT_EQ(at(59), TLevelMeter::ZoneColor(59, true));
    EXPECT_GT(at(10).green(), 150);
    EXPECT_GT(at(52).red(), 150);
    EXPECT_GT(at(52).green(), 150);
    EXPECT_GT(at(59).red(), 150);
    EXPECT_LT(at(59).green(), 100);
    win->LeftMeter->setValue(30);
    EXPECT_EQ(at(10), TLevelMeter::ZoneColor(10, true));
    EXPECT_EQ(at(40), TLevelMeter::ZoneColor(40, false)); // unlit, but its zone shows
    EXPECT_EQ(at(59), TLevelMeter::ZoneColor(59, false));
}

TEST_F(MainWinTest, LevelTimerRunsOnlyWhileTheMetersShow) {
    ASSERT_TRUE(QDir().mkpath(dir.filePath("config/Varko")));
    std::ofstream(SettingsFilePath()) << "[UI]\nShowMainLevels=0\n";
    Start();
    EXPECT_FALSE(win->Settings->MainLevelsBox->isChecked());
    EXPECT_FALSE(win->LevelTimer->isActive());
    // Meters that no longer move are not left on screen, frozen.
    EXPECT_TRUE(win->LeftMeter->parentWidget()->isHidden());
    win->Settings->MainLevelsBox->click();
    EXPECT_TRUE(win->LevelTimer->isActive());
    EXPECT_FALSE(win->LeftMeter->parentWidget()->isHidden());
}

TEST_F(MainWinTest, AnExceptionDuringStartUpReachesTheCrashWindow) {
    Platform.CreateHost = []() -> std::unique_ptr<IAudioHost> {
        throw std::runtime_error("no sound server");
    };
    EXPECT_EQ(CreateMainWindow(Platform), nullptr);
    EXPECT_TRUE(Saw("varko::TCrashWindow", "std::runtime_error@TMainWindow: no sound server"));
    ASSERT_EQ(halts.size(), 1u);
    EXPECT_NE(halts[0], 0);
    EXPECT_FALSE(TVarkoApplication::OnException); // the dead window's handler is gone
}

TEST_F(MainWinTest, TheWindowAndTheNoticesOpenInTheMiddleOfTheScreen) {
    std::vector<QPoint> offsets;
    Platform.ExecModal = [&](QDialog& d) {
        d.show();
        offsets.push_back(d.frameGeometry().center() - d.screen()->availableGeometry().center());
        d.hide();
        return 0;
    };
    win = std::make_unique<TMainWindow>(Platform); // no tablet: the notice, before the window shows
    win->ShowOnScreen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    const QRect screen = win->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(win->frameGeometry()));
    EXPECT_LE((win->frameGeometry().center() - screen.center()).manhattanLength(), 1);
    win->move(0, 0); // the window elsewhere: the notices still come in the middle
    win->StopAudio();
    ASSERT_EQ(offsets.size(), 2u);
    for (const QPoint& off : offsets) {
        EXPECT_LE(off.manhattanLength(), 1) << off.x() << ", " << off.y();
    }
}

TEST_F(MainWinTest, ChoosingTheDriverAgainAfterAStopHidesRestart) {
    Start();
    win->StopAudio();
    ASSERT_TRUE(win->RestartBtn->isVisible());
    win->Settings->DriverCombo->setCurrentIndex(0);
    win->Settings->DriverComboChange();
    EXPECT_EQ(win->StatusText(4), "Running");
    EXPECT_FALSE(win->RestartBtn->isVisible());
    EXPECT_TRUE(win->Watchdog->isActive());
}

TEST_F(MainWinTest, F1WithoutABrowserShowsTheGuideInAWindowOfItsOwn) {
    Start();
    browser = false;
    win->HelpPanel->show();
    QTest::keyClick(win.get(), Qt::Key_F1);
    ASSERT_EQ(urls.size(), 1u);
    ASSERT_NE(win->UserGuideWindow(), nullptr);
    EXPECT_TRUE(win->UserGuideWindow()->isVisible());
    EXPECT_EQ(win->UserGuideWindow()->Browser->documentTitle(), "Varko User Guide");
    EXPECT_FALSE(win->HelpPanel->isVisible());
    // With a browser the guide goes there and no window of ours opens.
    win->UserGuideWindow()->hide();
    browser = true;
    QTest::keyClick(win.get(), Qt::Key_F1);
    EXPECT_FALSE(win->UserGuideWindow()->isVisible());
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
    win->OpenScaleBtnClick(); // cancelled
    ASSERT_EQ(shown.back().Class, "QFileDialog");
    EXPECT_EQ(shown.back().Folder, QDir(VARKO_EXAMPLES_DIR "/scales").absolutePath());
    OpenScale37(); // from the test's own folder
    fileToChoose.clear();
    win->OpenScaleBtnClick();
    EXPECT_EQ(shown.back().Folder, QDir(dir.path()).absolutePath());
}

TEST_F(MainWinTest, AnEmptyToneZoneSaysWhatToDo) {
    Start();
    const QImage empty = win->ToneZone->grab().toImage();
    int lit = 0;
    for (int y = 0; y < empty.height(); ++y) {
        for (int x = 0; x < empty.width(); ++x) {
            lit += empty.pixelColor(x, y).lightness() > 60 ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 50) << "a black field";
    EXPECT_EQ(win->ToneZone->Look().EmptyHint, "Open a scale: F2");
    OpenScale37();
    EXPECT_EQ(win->ToneZone->grab().toImage().pixelColor(690, 250), QColor(Qt::black));
}

TEST_F(MainWinTest, FadersFillFromTheBottomAndShowTheirValueWhileDragged) {
    Start();
    win->ParametersPanel->show();
    QCoreApplication::processEvents();
    QSlider* fader = win->MasterFader;
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
    win->ResonanceFader->setValue(10);
    EXPECT_EQ(static_cast<TFader*>(win->ResonanceFader)->ValueTip(), "Resonance: 95 %");
}
