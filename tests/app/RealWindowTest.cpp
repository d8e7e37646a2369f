// The instrument as a player starts it: a real X window, the JACK driver, a scale opened and
// the mouse dragged across the bars with its button held. What reaches the server's playback
// ports must sound while dragging and decay after; the window must show its bars.
#include "WindowFixture.h"
#include "audio/JackServer.h"
#include "midi/JackMidiClient.h"
#include "midi/MidiInput.h"
#include "render/Renderer.h"
#include "ui/ImageButton.h"
#include "ui/MainWindow.h"
#include "ui/StatusPanels.h"
#include "ui/ToneZone.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/NoTabletNotice.h"
#include "ui/dialogs/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace varko;
using test::Find;
using test::Settle;

namespace {

// The stored settings that choose the JACK driver, as a player's choice would.
const std::string JackDriverSettings = "[Sound]\r\nASIOdriver=0\r\nASIOdriverName=JACK: system\r\n";

// Whether cond() holds within tries looks 50 ms apart, the window's events running meanwhile.
template <typename F> bool WaitFor(F cond, int tries) {
    for (int i = 0; i < tries && !cond(); ++i) {
        QTest::qWait(50);
    }
    return cond();
}

// Moves the screen cursor as a mouse does: the window hears of it once, from the X server, and
// reads the pen's speed from the cursor. A synthetic move as well would be a second event at the
// same place, a pen at rest. Each step of a drag should differ in length: an unchanged speed
// strikes the bar no more.
void MoveCursor(QWidget& zone, QPoint p) {
    if (QCursor::pos() == zone.mapToGlobal(p)) {
        return; // a mouse that does not move says nothing
    }
    // Waits for the move to arrive, so that a press after it lands on the bar moved to.
    struct TArrival : QObject {
        QPoint Where{-1, -1};
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::MouseMove) {
                Where = static_cast<QMouseEvent*>(e)->position().toPoint();
            }
            return false;
        }
    } arrival;
    zone.installEventFilter(&arrival);
    QCursor::setPos(zone.mapToGlobal(p));
    const bool arrived = QTest::qWaitFor([&] { return arrival.Where == p; }, 2000);
    zone.removeEventFilter(&arrival);
    if (!arrived) {
        ADD_FAILURE() << "the X server did not deliver the move to " << p.x() << "," << p.y();
    }
}

// The rows of a drag up and down a bar: steps of unequal length.
int DragRow(int step, int from, int span) {
    return from + (step % 2) * span + (step % 5) * 7;
}

double Rms(const std::vector<float>& l, const std::vector<float>& r, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += double(l[i]) * l[i] + double(r[i]) * r[i];
    }
    return to > from ? std::sqrt(sum / double(2 * (to - from))) : 0.0;
}

// Drags across the bars, button held, the screen cursor moving along: steps to the right by
// stride, struck again every restrike steps (a new press gives the bar pressure again).
void DragAcross(TToneZone& zone, int steps, int stride, int restrike) {
    MoveCursor(zone, {9, 100});
    QTest::mousePress(&zone, Qt::LeftButton, {}, {9, 100});
    for (int step = 0; step < steps; ++step) {
        const QPoint p(9 + (step * stride) % 640, DragRow(step, 100, 200));
        MoveCursor(zone, p);
        if (step % restrike == 0) {
            QTest::mouseRelease(&zone, Qt::LeftButton, {}, p);
            QTest::mousePress(&zone, Qt::LeftButton, {}, p);
        }
        QTest::qWait(10);
    }
    QTest::mouseRelease(&zone, Qt::LeftButton, {}, {9, 100});
}

// Varko's ports are made anew with each stream, a moment after it starts (up to 30 s on a
// loaded machine): connects the capture to them once they are there.
bool ConnectWhenThere(test::TJackCapture& capture) {
    for (int i = 0; i < 1500; ++i) {
        if (capture.Connect() >= 2) {
            return true;
        }
        QTest::qWait(20);
    }
    return false;
}

std::string ServerName() {
    return "varko-window-" + std::to_string(getpid());
}

// The real-window tests: the shared window set-up with the JACK driver's server, started once
// for the program. A test that changes or kills the server has one of its own (below).
class RealWindow : public test::TWindowFixture {
protected:
    static void SetUpTestSuite() {
        gSharedServer = std::make_unique<test::TJackServer>(ServerName(), 48000, 256);
        if (!gSharedServer->Start()) {
            gSharedServer.reset();
        }
    }
    static void TearDownTestSuite() { gSharedServer.reset(); }
    void SetUp() override {
        TWindowFixture::SetUp();
        ASSERT_NE(gSharedServer, nullptr) << "jackd did not start";
    }

    static inline std::unique_ptr<test::TJackServer> gSharedServer;
};

class RealWindowOwnServer : public test::TWindowFixture {
protected:
    void SetUp() override {
        TWindowFixture::SetUp();
        ASSERT_TRUE(server_.Start()) << "jackd did not start";
    }
    test::TJackServer server_{ServerName(), 48000, 256};
};

} // namespace

TEST_F(RealWindow, DragPlaysIntoJack) {
    UseSettings(JackDriverSettings);
    auto win = ShowWindow(PlayingSize);
    ASSERT_TRUE(halts_.empty());
    ASSERT_EQ(Find<TSettingsDialog>(*win, "SettingsDialog")->DriverCombo->currentText(),
              "JACK: system");
    ASSERT_EQ(win->StatusText(4), "Running");
    OpenScale37(*win);
    ASSERT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    Find<QSlider>(*win, "ResonanceFader")
        ->setValue(200); // the shortest ring, so the decay shows soon

    test::TJackCapture capture(48000 * 8);
    ASSERT_TRUE(capture.Ok());
    // Opening the scale restarts the stream.
    ASSERT_TRUE(ConnectWhenThere(capture))
        << "Varko's ports are not connected to the playback ports";
    capture.Record();

    TToneZone* zone = Find<TToneZone>(*win, "ToneZone");
    DragAcross(*zone, 150, 7, 3);
    const size_t dragEnd = capture.Recorded();
    QTest::qWait(3000);
    const size_t end = capture.Recorded();
    ASSERT_GT(dragEnd, 48000u / 2);
    ASSERT_GT(end, dragEnd + 48000u * 2);

    const double during = Rms(capture.Left, capture.Right, dragEnd / 2, dragEnd);
    const double after = Rms(capture.Left, capture.Right, end - 9600, end);
    std::printf("RMS while dragging %.5f, 3 s after release %.7f\n", during, after);
    EXPECT_GT(during, 1e-3) << "no sound while dragging";
    EXPECT_LT(after, during * 0.1) << "the tones did not decay";

    // The screen shows the bars: metal in the bars, black in the strip right of them.
    const QImage shot =
        win->screen()->grabWindow(win->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint zoneAt = zone->mapTo(win.get(), QPoint(0, 0));
    const QColor bar = shot.pixelColor(zoneAt + QPoint(9, 250));
    const QColor strip = shot.pixelColor(zoneAt + QPoint(690, 250));
    EXPECT_GT(bar.lightness(), 60) << "no bar painted";
    EXPECT_LT(strip.lightness(), 10) << "the strip right of the bars is not black";
    win.reset();
}

TEST_F(RealWindow, SettingsChosenInTheDialogAreRestoredAtTheNextStart) {
    // A first run: no settings file yet.

    auto win = ShowWindow();
    ASSERT_TRUE(halts_.empty());
    TSettingsDialog& s = *Find<TSettingsDialog>(*win, "SettingsDialog");
    // Choose the JACK driver in the dialog, as the player does.
    const int jack = s.DriverCombo->findText("JACK: system");
    ASSERT_GE(jack, 0);
    s.DriverCombo->setCurrentIndex(jack);
    s.DriverComboChange();
    ASSERT_EQ(win->StatusText(4), "Running");
    ASSERT_GT(s.ChannelBox->count(), 0);
    // Change an option of every kind; each takes effect at once.
    s.StereoBox->click();
    s.TwoRowsBox->click();
    s.ColoredBarsBox->click();
    s.FrequencyLabelsBox->click();
    s.MainLevelsBox->click();
    s.PressureLevelBox->click();
    s.ResonanceRateSlider->setValue(7);
    s.RightRaisesRadio->click();
    Find<QSlider>(*win, "MasterFader")->setValue(35);
    Settle(*win);
    EXPECT_FALSE(win->Instrument.Audio().Engine().Stereo.load());
    EXPECT_TRUE(win->Instrument.Audio().Engine().TwoRowPanning.load());
    EXPECT_FALSE(win->Instrument.Audio().Engine().MeterPeaks.load());
    win->close(); // writes the settings
    win.reset();

    win = std::make_unique<TMainWindow>(platform_);
    ASSERT_TRUE(halts_.empty());
    TSettingsDialog& t = *Find<TSettingsDialog>(*win, "SettingsDialog");
    EXPECT_EQ(t.DriverCombo->currentText(), "JACK: system");
    EXPECT_EQ(win->StatusText(4), "Running");
    EXPECT_FALSE(t.StereoBox->isChecked());
    EXPECT_TRUE(t.TwoRowsBox->isChecked());
    EXPECT_FALSE(t.ColoredBarsBox->isChecked());
    EXPECT_FALSE(t.FrequencyLabelsBox->isChecked());
    EXPECT_FALSE(t.MainLevelsBox->isChecked());
    EXPECT_FALSE(t.PressureLevelBox->isChecked());
    EXPECT_EQ(t.ResonanceRateSlider->value(), 7);
    EXPECT_EQ(t.ResonanceButtonsIndex(), 1);
    EXPECT_EQ(Find<QSlider>(*win, "MasterFader")->value(), 35);
    Settle(*win);
    EXPECT_FALSE(win->Instrument.Audio().Engine().Stereo.load());
    EXPECT_TRUE(win->Instrument.Audio().Engine().TwoRowPanning.load());
    EXPECT_FALSE(win->Instrument.Audio().Engine().MeterPeaks.load());
    EXPECT_FLOAT_EQ(win->Instrument.Audio().Engine().MasterGain.load(), 0.86005837f); // 0.99^15
    EXPECT_FALSE(win->Instrument.Settings().Stored().ColoredToneZone);
    EXPECT_TRUE(win->Instrument.Settings().Stored().Paint2Rows);
    win->close();
    win.reset();
}

// Every start lost the scale, the parameters, the object and the resonance, and showed the
// no-tablet notice again with no way to keep it away.
TEST_F(RealWindow, TheLastSessionOpensAgainAtTheNextStart) {
    UseSettings(JackDriverSettings);
    const std::string scale = TwelveEqualTones();
    const std::string modes = dir_.filePath("bowl.vmod").toStdString();
    std::filesystem::copy_file(std::string(VARKO_EXAMPLES_DIR) + "/modes/singing-bowl.vmod", modes);
    // The no-tablet notice: "Don't show this again" ticked the first time.
    onModal_ = [](QDialog& d) {
        if (auto* notice = qobject_cast<TNoTabletNotice*>(&d)) {
            notice->DontShowBox->setChecked(true);
        }
    };
    const auto notices = [this] { return Count("varko::TNoTabletNotice"); };

    auto win = ShowWindow();
    ASSERT_TRUE(halts_.empty());
    EXPECT_EQ(notices(), 1);
    Find<QLineEdit>(*win, "InitialFrequencyEdit")->setText("261.5");
    Find<QLineEdit>(*win, "RepeatUpEdit")->setText("1");
    Find<QCheckBox>(*win, "RepeatEndsBox")->setChecked(true);
    Find<QLineEdit>(*win, "ModeLimitEdit")->setText("5");
    Find<QRadioButton>(*win, "EndFixedRadio")->click();
    Find<QSlider>(*win, "ResonanceFader")->setValue(30);
    win->Instrument.ModeFiles().Load(modes);
    Find<QRadioButton>(*win, "ExternalObject")->click();
    win->Instrument.OpenScale(scale);
    win->ApplyParametersBtnClick();
    const size_t bars = win->Instrument.Bank().BarRatios().size();
    ASSERT_GT(bars, 13u); // an octave up
    win->close();
    win.reset();

    win = ShowWindow();
    ASSERT_TRUE(halts_.empty());
    EXPECT_EQ(notices(), 1) << "the notice came back";
    const TInstrument& in = win->Instrument;
    EXPECT_EQ(in.Bank().ScalePath(), scale);
    EXPECT_EQ(in.Bank().BarRatios().size(), bars);
    EXPECT_EQ(Find<QLineEdit>(*win, "InitialFrequencyEdit")->text(), "261.5");
    EXPECT_FLOAT_EQ(in.Bank().InitialFrequency(), 261.5f);
    EXPECT_EQ(Find<QLineEdit>(*win, "RepeatUpEdit")->text(), "1");
    EXPECT_TRUE(Find<QCheckBox>(*win, "RepeatEndsBox")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(*win, "ModeLimitEdit")->text(), "5");
    EXPECT_TRUE(Find<QRadioButton>(*win, "EndFixedRadio")->isChecked());
    EXPECT_EQ(Find<QSlider>(*win, "ResonanceFader")->value(), 30);
    EXPECT_TRUE(Find<QRadioButton>(*win, "ExternalObject")->isChecked());
    EXPECT_NE(in.ModeFiles().Name().find("bowl"), std::string::npos) << in.ModeFiles().Name();
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), bars);
    EXPECT_EQ(win->StatusText(4), "Running");
    win->close();
    win.reset();

    // The files gone: nothing is opened, and the status bar says why.
    std::filesystem::remove(scale);
    std::filesystem::remove(modes);
    win = std::make_unique<TMainWindow>(platform_);
    ASSERT_TRUE(halts_.empty());
    EXPECT_TRUE(win->Instrument.Bank().ScalePath().empty());
    EXPECT_FALSE(win->Instrument.Bank().ExternalObject());
    EXPECT_TRUE(win->StatusText(2).contains("The last scale is gone"))
        << win->StatusText(2).toStdString();
    EXPECT_TRUE(win->StatusText(2).contains("et12.scl"));
    win->close();
    win.reset();
}

namespace {

std::vector<float> ReadInterleaved(const std::string& path) {
    SF_INFO info{};
    std::vector<float> samples;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f != nullptr && info.channels == 2) {
        samples.resize(static_cast<size_t>(info.frames) * 2);
        sf_readf_float(f, samples.data(), info.frames);
    }
    if (f != nullptr) {
        sf_close(f);
    }
    return samples;
}

// The first frame the recording's gesture says was late, or the whole length when none was.
size_t FirstLateFrame(const std::string& script, size_t frames) {
    std::ifstream in(script);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# late @", 0) == 0) {
            return std::min<size_t>(frames, std::stoull(line.substr(8)));
        }
    }
    return frames;
}

} // namespace

TEST_F(RealWindow, RecordedDragEqualsWhatJackHeardReRendersAndReplays) {
    UseSettings(JackDriverSettings);
    platform_.MusicFolder = [&] { return dir_.filePath("Music"); };
    auto win = ShowWindow(PlayingSize);
    ASSERT_TRUE(halts_.empty());
    ASSERT_EQ(win->StatusText(4), "Running");
    OpenScale37(*win);
    ASSERT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 37u);
    Find<QSlider>(*win, "ResonanceFader")->setValue(150);

    test::TJackCapture capture(48000 * 20);
    ASSERT_TRUE(capture.Ok());
    ASSERT_GE(capture.Connect(), 2);
    capture.Record();
    QTest::qWait(100);
    QTest::keyClick(Find<TToneZone>(*win, "ToneZone"), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(win->Instrument.Recording().Active());
    const std::string folder = win->Instrument.Recording().Folder();
    // The recording starts a bank of its own, which restarts the stream and with it the ports'
    // connections; the bank is silent until the first press.
    ASSERT_GE(capture.Connect(), 2);
    QTest::qWait(100);

    DragAcross(*Find<TToneZone>(*win, "ToneZone"), 100, 11, 4);
    QTest::qWait(500);
    QTest::keyClick(Find<TToneZone>(*win, "ToneZone"), Qt::Key_R, Qt::ControlModifier);
    ASSERT_FALSE(win->Instrument.Recording().Active());
    QTest::qWait(300);
    const size_t captured = capture.Recorded();

    // The WAV is what reached JACK: find the recording's first sound in the capture, then every
    // sample must be the same.
    const std::vector<float> wav = ReadInterleaved(folder + "/performance.wav");
    ASSERT_GT(wav.size(), 2u * 48000);
    const size_t frames = wav.size() / 2;
    size_t w0 = 0;
    while (w0 < frames && wav[2 * w0] == 0.0f && wav[2 * w0 + 1] == 0.0f) {
        ++w0;
    }
    ASSERT_LT(w0, frames) << "the recording is silent";
    size_t c0 = 0;
    while (c0 < captured && capture.Left[c0] == 0.0f && capture.Right[c0] == 0.0f) {
        ++c0;
    }
    ASSERT_GE(c0, w0);
    const size_t offset = c0 - w0;
    ASSERT_LE(offset + frames, captured) << "the capture does not cover the recording";
    size_t differing = 0;
    for (size_t i = 0; i < frames; ++i) {
        differing +=
            wav[2 * i] != capture.Left[offset + i] || wav[2 * i + 1] != capture.Right[offset + i];
    }
    EXPECT_EQ(differing, 0u) << "of " << frames << " frames";
    EXPECT_EQ(capture.XRuns.load(), 0);

    // The gesture re-renders to the same sound, up to the first late block if there was one.
    const std::string again = dir_.filePath("again.wav").toStdString();
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(RunRenderTool({"--performance", folder, "-o", again}, sink, sink), 0);
    std::fclose(sink);
    const std::vector<float> rendered = ReadInterleaved(again);
    ASSERT_EQ(rendered.size(), wav.size());
    const size_t exactUntil = FirstLateFrame(folder + "/performance.txt", frames);
    double difference = 0.0, energy = 0.0;
    size_t firstDifference = frames;
    for (size_t i = 0; i < 2 * frames; ++i) {
        const double d = static_cast<double>(wav[i]) - rendered[i];
        difference += d * d;
        energy += static_cast<double>(wav[i]) * wav[i];
        if (d != 0.0 && firstDifference == frames) {
            firstDifference = i / 2;
        }
    }
    std::printf("re-render: relative RMS difference %.3g over %zu frames; exact up to frame %zu, "
                "first late block at frame %zu\n",
                std::sqrt(difference / energy), frames, firstDifference, exactUntil);
    EXPECT_GE(firstDifference, exactUntil);

    // The replay plays the recorded drag again.
    fileToChoose_ = QString::fromStdString(folder);
    capture.Record();
    win->ReplayBtnClick();
    ASSERT_TRUE(win->Replaying());
    // The take is read off the window's thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !win->ReplayLoading(); }, 10000));
    ASSERT_TRUE(win->Replaying());
    ASSERT_GE(capture.Connect(), 2); // the replayed bank restarted the stream
    for (int i = 0; i < 8000 && win->Replaying(); ++i) {
        QTest::qWait(1);
    }
    EXPECT_FALSE(win->Replaying()) << "the replay did not end";
    const size_t replayed = capture.Recorded();
    ASSERT_GT(replayed, frames / 2);
    const double during = Rms(capture.Left, capture.Right, 0, std::min(replayed, frames));
    std::printf("replay RMS %.5f\n", during);
    EXPECT_GT(during, 1e-3) << "the replay is silent";
    win->close();
    win.reset();
}

// A read-only Varko.ini was silently replaced at exit; a FIFO in place of Varko.history kept the
// window from ever appearing, and one opened as a scale (F2) froze it.
TEST_F(RealWindow, ReadOnlySettingsAndPipesAreKeptAndNothingHangs) {
    const std::string& settings = JackDriverSettings;
    const std::string ini = UseSettings(settings);
    std::filesystem::permissions(ini, std::filesystem::perms(0444));
    const std::string history = dir_.filePath("config/Varko/Varko.history").toStdString();
    const std::string scale = dir_.filePath("pipe.scl").toStdString();
    ASSERT_EQ(::mkfifo(history.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(scale.c_str(), 0600), 0);

    // Should an open wait on a pipe, a writer comes after 20 s to let it go, and says so.
    std::atomic<bool> finished{false}, hung{false};
    std::thread rescue([&] {
        for (int i = 0; i < 400 && !finished; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        while (!finished) {
            for (const std::string& pipe : {history, scale}) {
                const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    hung = true;
                    ::close(fd);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    fileToChoose_ = QString::fromStdString(scale);

    auto win = ShowWindow();
    EXPECT_TRUE(halts_.empty());
    EXPECT_EQ(win->StatusText(4), "Running");
    win->OpenScaleBtnClick();
    win->close();
    win.reset();
    finished = true;
    rescue.join();

    EXPECT_FALSE(hung) << "an open waited on a pipe";
    EXPECT_EQ(Told(), (std::vector<QString>{"The scale file could not be opened.",
                                            "Your settings could not be saved."}));
    std::ifstream in(ini, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), settings);
    EXPECT_EQ(std::filesystem::status(ini).permissions(), std::filesystem::perms(0444));
    EXPECT_TRUE(std::filesystem::is_fifo(history));
}

TEST_F(RealWindow, AKeyboardOnTheStoredPortPlaysAndThePressureShows) {
    // The keyboard is plugged in before Varko starts, and the settings name its port.
    test::TJackMidiClient keys("VarkoTestKeys", 48000 * 4);
    ASSERT_TRUE(keys.Ok());
    UseSettings(JackDriverSettings + "[MIDI]\r\nInput=JACK: VarkoTestKeys:out\r\n"
                                     "ReferenceNote=60\r\n");
    const std::string scale = std::string(VARKO_EXAMPLES_DIR) + "/scales/12-equal.scl";
    fileToChoose_ = QString::fromStdString(scale);

    auto win = ShowWindow();
    ASSERT_TRUE(halts_.empty());
    EXPECT_EQ(win->MidiPortName(), "JACK: VarkoTestKeys:out");
    win->OpenScaleBtnClick();
    ASSERT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 13u);
    // The MIDI tab shows the port chosen.
    Find<TSettingsDialog>(*win, "SettingsDialog")->MidiTab->ShowPorts();
    EXPECT_EQ(Find<TSettingsDialog>(*win, "SettingsDialog")->MidiTab->PortCombo->currentText(),
              "JACK: VarkoTestKeys:out");

    ASSERT_TRUE(QTest::qWaitFor([&] { return keys.ListenToPlayback() == 2; }, 30000));
    keys.Record();
    // A held key leaves the bar free; the finger's pressure (aftertouch) presses it.
    keys.Send({{0x90, 60, 100}, {0xD0, 100}});
    // The status bar's pressure display follows the key, as it follows the pen.
    EXPECT_TRUE(QTest::qWaitFor([&] { return win->ShownPressure() == 79; }, 2000))
        << win->ShownPressure();
    if (const char* shots = std::getenv("VARKO_SCREENSHOTS")) {
        Find<TStatusPanels>(*win, "StatusBar")
            ->grab()
            .save(QString::fromLocal8Bit(shots) + "/midi-status.png");
    }
    ASSERT_TRUE(keys.WaitRecorded(48000, std::chrono::seconds(5)));
    const double rms = Rms(keys.Left, keys.Right, 0, 48000);
    std::printf("RMS of a second after the key: %.5f\n", rms);
    EXPECT_GT(rms, 1e-3) << "the key did not sound";
    keys.Send({{0x80, 60, 0}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return win->ShownPressure() == 0; }, 2000));
    // The release reaches the tone at the engine's next block.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return win->Instrument.Audio().Engine().Oscillators[0]->Pressure.load() == 0.0f; },
        2000));
    win->close();
    win.reset();
}

int main(int argc, char** argv) {
    TVarkoApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The status bar tells the audio as it is: the JACK server changes its period (Varko follows,
// the bank is rebuilt for it), goes away ("Device lost") and comes back ("Running" again,
// without the Restart button); the glitch counter stands beside it.
TEST_F(RealWindowOwnServer, StatusFollowsTheJackServerThroughAPeriodChangeAndARestart) {
    UseSettings(JackDriverSettings);
    const std::string scale = dir_.filePath("et12.scl").toStdString();
    std::ofstream(scale) << "12-tone equal temperament\n1\n1200.0\n";
    fileToChoose_ = QString::fromStdString(scale);
    auto win = ShowWindow(PlayingSize);
    win->OpenScaleBtnClick();
    TAudioEngine& engine = win->Instrument.Audio().Engine();
    ASSERT_FALSE(engine.Oscillators.empty());
    const auto waitFor = [](auto cond) { return WaitFor(cond, 100); };
    EXPECT_TRUE(waitFor([&] { return win->StatusText(4) == "Running"; }));
    EXPECT_EQ(win->StatusText(5), "Late 0, xruns 0, resets 0");

    // A bar held with the mouse through the period change: the held bar went silent to the
    // end of the hold, because the new bank's tones start at rest.
    TToneZone* zone = Find<TToneZone>(*win, "ToneZone");
    const QPoint held(zone->width() / 4, zone->height() / 2);
    QTest::mouseMove(zone, held);
    QTest::mousePress(zone, Qt::LeftButton, {}, held);
    const int bar = win->Playing().CurrentBar;
    ASSERT_GE(bar, 0);
    const TTone* before = engine.Oscillators[static_cast<size_t>(bar)].get();
    EXPECT_TRUE(waitFor([&] { return before->Pressure.load() > 0.0f; }));

    ASSERT_TRUE(server_.ChangePeriod(1024));
    EXPECT_TRUE(waitFor([&] {
        return engine.Host().BufferSize() == 1024 && engine.Oscillators[0]->BlockSize == 1024 &&
               win->StatusText(4) == "Running";
    })) << win->StatusText(4).toStdString();
    // Still held: the new bank's bar is pressed as the old one was.
    const TTone* after = engine.Oscillators[static_cast<size_t>(bar)].get();
    EXPECT_TRUE(waitFor([&] { return after->Pressure.load() == 0.5f; })) << after->Pressure.load();
    QTest::mouseRelease(zone, Qt::LeftButton, {}, held);
    EXPECT_TRUE(waitFor([&] { return after->Pressure.load() == 0.0f; }));

    server_.Kill(SIGKILL);
    EXPECT_TRUE(waitFor([&] { return win->StatusText(4) == "Device lost"; }))
        << win->StatusText(4).toStdString();
    EXPECT_FALSE(Find<TImageButton>(*win, "RestartBtn")->isVisible());
    const QImage lost = win->grab().toImage();
    lost.save(dir_.filePath("lost.png"));
    if (const char* keep = std::getenv("VARKO_KEEP_SCREENSHOT")) {
        lost.save(QString::fromUtf8(keep));
    }

    ASSERT_TRUE(server_.Start());
    EXPECT_TRUE(waitFor([&] { return win->StatusText(4) == "Running"; }))
        << win->StatusText(4).toStdString();
    EXPECT_EQ(engine.Host().BufferSize(), server_.Period);
    EXPECT_TRUE(engine.BankMatchesHost());
    win.reset();
}

// A JACK period change rebuilds the bank; the bar the mouse holds and moves on must go on
// sounding through it (it went silent to the end of the hold, the status saying "Running").
TEST_F(RealWindowOwnServer, AHeldBarSoundsOnThroughAPeriodChange) {
    UseSettings(JackDriverSettings);
    const std::string scale = TwelveEqualTones();
    fileToChoose_ = QString::fromStdString(scale);
    auto win = ShowWindow(PlayingSize);
    win->OpenScaleBtnClick();
    TAudioEngine& engine = win->Instrument.Audio().Engine();
    ASSERT_FALSE(engine.Oscillators.empty());
    const auto waitFor = [](auto cond) { return WaitFor(cond, 600); };
    ASSERT_TRUE(waitFor([&] { return win->StatusText(4) == "Running"; }));

    test::TJackCapture capture(48000 * 30);
    ASSERT_TRUE(capture.Ok());
    ASSERT_TRUE(ConnectWhenThere(capture))
        << "Varko's ports are not connected to the playback ports";
    capture.Record();

    // The button held on one bar, the mouse moving up and down it.
    TToneZone* zone = Find<TToneZone>(*win, "ToneZone");
    const int x = zone->width() / 3;
    auto moveTo = [&](QPoint p) { MoveCursor(*zone, p); };
    moveTo({x, 100});
    QTest::mousePress(zone, Qt::LeftButton, {}, {x, 100});
    const int bar = win->Playing().CurrentBar;
    ASSERT_GE(bar, 0);
    auto play = [&](int steps) {
        for (int step = 0; step < steps; ++step) {
            moveTo({x, DragRow(step, 100, 300)});
            QTest::qWait(10);
        }
    };
    play(60);
    const size_t before = capture.Recorded();
    play(60);
    const double heldBefore = Rms(capture.Left, capture.Right, before, capture.Recorded());

    ASSERT_TRUE(server_.ChangePeriod(1024));
    ASSERT_TRUE(waitFor([&] {
        return engine.Host().BufferSize() == 1024 && engine.Oscillators[0]->BlockSize == 1024 &&
               win->StatusText(4) == "Running";
    })) << win->StatusText(4).toStdString();
    ASSERT_TRUE(ConnectWhenThere(capture))
        << "Varko's ports are not connected again after the change";
    play(30); // the first blocks of the new stream
    const size_t after = capture.Recorded();
    play(60);
    const double heldAfter = Rms(capture.Left, capture.Right, after, capture.Recorded());
    std::printf("RMS of the held bar before the change %.5f, after %.5f\n", heldBefore, heldAfter);
    EXPECT_EQ(win->Playing().CurrentBar, bar);
    EXPECT_GT(heldBefore, 1e-3) << "the held bar does not sound";
    EXPECT_GT(heldAfter, heldBefore * 0.1) << "the held bar fell silent with the new bank";
    QTest::mouseRelease(zone, Qt::LeftButton, {}, {x, 100});
    win.reset();
}

namespace {

// The longest time the tone zone went without painting while the window ran until done(),
// the zone asked to paint every 20 ms.
template <typename F> double LongestPaintGap(TMainWindow& win, F done) {
    using Clock = std::chrono::steady_clock;
    struct TPaints : QObject {
        Clock::time_point Last = Clock::now();
        double Longest = 0.0;
        void Painted() {
            const Clock::time_point now = Clock::now();
            Longest = std::max(Longest, std::chrono::duration<double>(now - Last).count());
            Last = now;
        }
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) {
                Painted();
            }
            return false;
        }
    } paints;
    Find<TToneZone>(win, "ToneZone")->installEventFilter(&paints);
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, Find<TToneZone>(win, "ToneZone"),
                     [&] { Find<TToneZone>(win, "ToneZone")->update(); });
    ask.start(20);
    const Clock::time_point until = Clock::now() + std::chrono::seconds(60);
    while (!done() && Clock::now() < until) {
        QTest::qWait(10);
    }
    paints.Painted(); // a wait that has not ended yet counts as well
    Find<TToneZone>(win, "ToneZone")->removeEventFilter(&paints);
    return paints.Longest;
}

// A take of the test's own: its ini says 48 kHz and a second; its script is written by write.
template <typename W> QString WriteTake(const QTemporaryDir& dir, const QString& name, W write) {
    const QString folder = dir.filePath(name);
    QDir().mkpath(folder);
    std::ofstream((folder + "/performance.ini").toStdString())
        << "[Performance]\nSampleRate=48000\nBlockSize=256\nFrames=48000\nComplete=1\n";
    test::WriteTwelveEqualTones((folder + "/et12.scl").toStdString());
    std::ofstream script((folder + "/performance.txt").toStdString(), std::ios::binary);
    write(script);
    return folder;
}

std::string RebuildLine(int repeats) {
    const std::string r = std::to_string(repeats);
    return "rebuild @0 scale=et12.scl modes=- frequency=200 down=" + r + " up=" + r +
           " ends=0 end=free weighting=6 limit=8 interpolate=0\n";
}

} // namespace

// Replay read and parsed its take on the window's thread: a script of 1,000 rebuilds of 253
// tones at one sample froze the window for 11 minutes, one with a 10 MB word for 3, a 255 MB
// one for 13 s. The window paints on while each is read, and a second Replay or closing the
// window while one is read is safe.
TEST_F(RealWindow, ReplayReadsItsTakeWhileTheWindowPaints) {
    UseSettings(JackDriverSettings);
    fileToChoose_ = QString::fromStdString(TwelveEqualTones());

    const QString rebuilds = WriteTake(dir_, "rebuilds", [](std::ofstream& f) {
        for (int i = 0; i < 1000; ++i) {
            f << RebuildLine(10); // 12 x 21 + 1 tones
        }
        f << "pen @2400 0.5 0.5 0.5\n";
    });
    const QString word = WriteTake(dir_, "word", [](std::ofstream& f) {
        f << RebuildLine(1) << "pen @0 0.5 " << std::string(10u << 20, '7') << " 0.5\n";
    });
    const QString big = WriteTake(dir_, "big", [](std::ofstream& f) {
        f << RebuildLine(1);
        for (int i = 0; i < 100000; ++i) {
            f << "pen @" << i * 48 / 100 << " 0.5 0." << i % 10 << " 0.5\n";
        }
        const std::string comment = "# " + std::string(125, '-') + "\n";
        std::string chunk;
        for (int i = 0; i < 8192; ++i) {
            chunk += comment;
        }
        for (std::streamoff size = f.tellp(); size + std::streamoff(chunk.size()) < (255 << 20);
             size += std::streamoff(chunk.size())) {
            f << chunk;
        }
    });
    ASSERT_GT(QFileInfo(big + "/performance.txt").size(), 254 << 20);

    auto win = ShowWindow(PlayingSize);
    ASSERT_TRUE(WaitFor([&] { return win->StatusText(4) == "Running"; }, 600));

    const auto replay = [&](const QString& take, size_t messages) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        Clock::time_point read = start;
        const double gap = LongestPaintGap(*win, [&, started = false]() mutable {
            if (!started) {
                started = true;
                win->StartReplay(take);
            }
            if (win->ReplayLoading()) {
                read = Clock::now();
            }
            return !win->ReplayLoading() && (!win->Replaying() || Told().size() > messages);
        });
        std::printf("%s: read in %.3f s, longest time without painting %.3f s\n",
                    QDir(take).dirName().toUtf8().constData(),
                    std::chrono::duration<double>(read - start).count(), gap);
        return gap;
    };
    EXPECT_LT(replay(rebuilds, 0), 0.25);
    EXPECT_TRUE(Told().empty()) << Told().front().toStdString();
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 253u);

    EXPECT_LT(replay(word, 0), 0.25);
    const std::vector<QString> told = Told();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_LT(told[0].size(), 400) << "the whole word reached the message";
    EXPECT_TRUE(told[0].contains(QStringLiteral("characters"))) << told[0].toStdString();

    EXPECT_LT(replay(big, 1), 0.25);
    EXPECT_EQ(Told().size(), 1u) << Told().back().toStdString();
    EXPECT_EQ(win->Instrument.Audio().Engine().Oscillators.size(), 37u);

    // Replay again while the big take is read, then close the window while it is read.
    win->StartReplay(big);
    QTest::qWait(50);
    ASSERT_TRUE(win->ReplayLoading());
    win->StartReplay(big);
    QTest::qWait(50);
    ASSERT_TRUE(win->ReplayLoading());
    const auto closing = std::chrono::steady_clock::now();
    win->close();
    win.reset();
    const double closed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - closing).count();
    std::printf("closed while reading in %.3f s\n", closed);
    EXPECT_LT(closed, 5.0);
    EXPECT_EQ(Told().size(), 1u);
}
