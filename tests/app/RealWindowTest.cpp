// The instrument as a player starts it: a real X window, the JACK driver, a scale opened and
// the mouse dragged across the bars with its button held. What reaches the server's playback
// ports must sound while dragging and decay after; the window must show its bars.
#include "audio/JackServer.h"
#include "ui/ImageButton.h"
#include "ui/MainWindow.h"
#include "ui/ToneZone.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace varko;

namespace {

double Rms(const std::vector<float>& l, const std::vector<float>& r, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += double(l[i]) * l[i] + double(r[i]) * r[i];
    }
    return to > from ? std::sqrt(sum / double(2 * (to - from))) : 0.0;
}

} // namespace

TEST(RealWindow, DragPlaysIntoJack) {
    test::TJackServer server("varko-window-test-" + std::to_string(getpid()), 48000, 256);
    ASSERT_TRUE(server.Start()) << "jackd did not start";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    // Choose the JACK driver as a stored setting would.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("config/Varko")));
    std::ofstream(dir.filePath("config/Varko/Varko.ini").toStdString())
        << "[Sound]\r\nASIOdriver=0\r\nASIOdriverName=JACK: system\r\n";
    const std::string scale = dir.filePath("et12.scl").toStdString();
    {
        std::ofstream f(scale);
        f << "12-tone equal temperament\n12\n";
        for (int i = 1; i <= 12; ++i) {
            f << i * 100 << ".0\n";
        }
    }
    TMainWindow::ExecModal = [&](QDialog& d) {
        if (auto* fd = qobject_cast<QFileDialog*>(&d)) {
            fd->selectFile(QString::fromStdString(scale));
            return int(QDialog::Accepted);
        }
        return 0; // the notices: closed at once
    };
    std::vector<int> halts;
    TMainWindow::Halt = [&](int code) { halts.push_back(code); };

    auto win = std::make_unique<TMainWindow>();
    ASSERT_TRUE(halts.empty());
    ASSERT_EQ(win->Settings->DriverCombo->currentText(), "JACK: system");
    win->resize(700, 49 + 500 + 19);
    win->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    ASSERT_EQ(win->StatusText(4), "Running");
    win->RepeatDownEdit->setText("1");
    win->RepeatUpEdit->setText("1");
    win->OpenScaleBtnClick();
    ASSERT_EQ(win->Instrument.Engine().Oscillators.size(), 37u);
    win->ResonanceFader->setValue(200); // the shortest ring, so the decay shows soon

    test::TJackCapture capture(48000 * 8);
    ASSERT_TRUE(capture.Ok());
    // Opening the scale restarts the stream, which connects its ports again a moment later.
    int connected = 0;
    for (int i = 0; i < 150 && (connected = capture.Connect()) < 2; ++i) {
        QTest::qWait(20);
    }
    ASSERT_GE(connected, 2) << "Varko's ports are not connected to the playback ports";
    capture.Record();

    // Drag across the bars, button held, the screen cursor moving along.
    TToneZone* zone = win->ToneZone;
    auto moveTo = [&](QPoint p) {
        QCursor::setPos(zone->mapToGlobal(p));
        QTest::mouseMove(zone, p);
    };
    moveTo({9, 100});
    QTest::mousePress(zone, Qt::LeftButton, {}, {9, 100});
    for (int step = 0; step < 150; ++step) {
        const int x = 9 + (step * 7) % 640;
        const int y = 100 + (step % 2) * 200;
        moveTo({x, y});
        if (step % 3 == 0) { // a new press on each bar gives it pressure again
            QTest::mouseRelease(zone, Qt::LeftButton, {}, {x, y});
            QTest::mousePress(zone, Qt::LeftButton, {}, {x, y});
        }
        QTest::qWait(10);
    }
    QTest::mouseRelease(zone, Qt::LeftButton, {}, {9, 100});
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

TEST(RealWindow, SettingsChosenInTheDialogAreRestoredAtTheNextStart) {
    test::TJackServer server("varko-window-settings-" + std::to_string(getpid()), 48000, 256);
    ASSERT_TRUE(server.Start()) << "jackd did not start";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8()); // a first run: no file yet
    TMainWindow::ExecModal = [](QDialog&) { return 0; };         // notices closed at once
    std::vector<int> halts;
    TMainWindow::Halt = [&](int code) { halts.push_back(code); };

    auto win = std::make_unique<TMainWindow>();
    ASSERT_TRUE(halts.empty());
    win->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    TSettingsDialog& s = *win->Settings;
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
    win->MasterFader->setValue(35);
    EXPECT_FALSE(win->Instrument.Engine().Stereo.load());
    EXPECT_TRUE(win->Instrument.Engine().TwoRowPanning.load());
    EXPECT_FALSE(win->Instrument.Engine().MeterPeaks.load());
    win->close(); // writes the settings
    win.reset();

    win = std::make_unique<TMainWindow>();
    ASSERT_TRUE(halts.empty());
    TSettingsDialog& t = *win->Settings;
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
    EXPECT_EQ(win->MasterFader->value(), 35);
    EXPECT_FALSE(win->Instrument.Engine().Stereo.load());
    EXPECT_TRUE(win->Instrument.Engine().TwoRowPanning.load());
    EXPECT_FALSE(win->Instrument.Engine().MeterPeaks.load());
    EXPECT_FLOAT_EQ(win->Instrument.Engine().MasterGain.load(), 0.86005837f); // 0.99^15
    EXPECT_FALSE(win->Instrument.Settings().ColoredToneZone);
    EXPECT_TRUE(win->Instrument.Settings().Paint2Rows);
    win->close();
    win.reset();
}

// A read-only Varko.ini was silently replaced at exit; a FIFO in place of Varko.history kept the
// window from ever appearing, and one opened as a scale (F2) froze it.
TEST(RealWindow, ReadOnlySettingsAndPipesAreKeptAndNothingHangs) {
    test::TJackServer server("varko-window-pipes-" + std::to_string(getpid()), 48000, 256);
    ASSERT_TRUE(server.Start()) << "jackd did not start";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("config/Varko")));
    const std::string ini = dir.filePath("config/Varko/Varko.ini").toStdString();
    const std::string settings = "[Sound]\r\nASIOdriver=0\r\nASIOdriverName=JACK: system\r\n";
    std::ofstream(ini) << settings;
    std::filesystem::permissions(ini, std::filesystem::perms(0444));
    const std::string history = dir.filePath("config/Varko/Varko.history").toStdString();
    const std::string scale = dir.filePath("pipe.scl").toStdString();
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
    std::vector<std::string> messages;
    TMainWindow::ExecModal = [&](QDialog& d) {
        if (auto* fd = qobject_cast<QFileDialog*>(&d)) {
            fd->selectFile(QString::fromStdString(scale));
            return int(QDialog::Accepted);
        }
        if (auto* box = qobject_cast<QMessageBox*>(&d)) {
            messages.push_back(box->text().toStdString());
        }
        return 0;
    };
    std::vector<int> halts;
    TMainWindow::Halt = [&](int code) { halts.push_back(code); };

    auto win = std::make_unique<TMainWindow>();
    win->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    EXPECT_TRUE(halts.empty());
    EXPECT_EQ(win->StatusText(4), "Running");
    win->OpenScaleBtnClick();
    win->close();
    win.reset();
    finished = true;
    rescue.join();

    EXPECT_FALSE(hung) << "an open waited on a pipe";
    EXPECT_EQ(messages, (std::vector<std::string>{"The scale file could not be opened.",
                                                  "Your settings could not be saved."}));
    std::ifstream in(ini, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), settings);
    EXPECT_EQ(std::filesystem::status(ini).permissions(), std::filesystem::perms(0444));
    EXPECT_TRUE(std::filesystem::is_fifo(history));
}

int main(int argc, char** argv) {
    TVarkoApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The status bar tells the audio as it is: the JACK server changes its period (Varko follows,
// the bank is rebuilt for it), goes away ("Device lost") and comes back ("Running" again,
// without the Restart button); the glitch counter stands beside it.
TEST(RealWindow, StatusFollowsTheJackServerThroughAPeriodChangeAndARestart) {
    test::TJackServer server("varko-window-follow-" + std::to_string(getpid()), 48000, 256);
    ASSERT_TRUE(server.Start()) << "jackd did not start";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("config/Varko")));
    std::ofstream(dir.filePath("config/Varko/Varko.ini").toStdString())
        << "[Sound]\r\nASIOdriver=0\r\nASIOdriverName=JACK: system\r\n";
    const std::string scale = dir.filePath("et12.scl").toStdString();
    std::ofstream(scale) << "12-tone equal temperament\n1\n1200.0\n";
    TMainWindow::ExecModal = [&](QDialog& d) {
        if (auto* fd = qobject_cast<QFileDialog*>(&d)) {
            fd->selectFile(QString::fromStdString(scale));
            return int(QDialog::Accepted);
        }
        return 0;
    };
    TMainWindow::Halt = [](int) {};
    auto win = std::make_unique<TMainWindow>();
    win->resize(700, 49 + 500 + 19);
    win->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    win->OpenScaleBtnClick();
    TAudioEngine& engine = win->Instrument.Engine();
    ASSERT_FALSE(engine.Oscillators.empty());
    auto waitFor = [&](auto cond) {
        for (int i = 0; i < 100 && !cond(); ++i) {
            QTest::qWait(50);
        }
        return cond();
    };
    EXPECT_TRUE(waitFor([&] { return win->StatusText(4) == "Running"; }));
    EXPECT_EQ(win->StatusText(5), "Late 0, xruns 0, resets 0");

    ASSERT_TRUE(server.ChangePeriod(1024));
    EXPECT_TRUE(waitFor([&] {
        return engine.Host().BufferSize() == 1024 && engine.Oscillators[0]->BlockSize == 1024 &&
               win->StatusText(4) == "Running";
    })) << win->StatusText(4).toStdString();

    server.Kill(SIGKILL);
    EXPECT_TRUE(waitFor([&] { return win->StatusText(4) == "Device lost"; }))
        << win->StatusText(4).toStdString();
    EXPECT_FALSE(win->RestartBtn->isVisible());
    const QImage lost = win->grab().toImage();
    lost.save(dir.filePath("lost.png"));
    if (const char* keep = std::getenv("VARKO_KEEP_SCREENSHOT")) {
        lost.save(QString::fromUtf8(keep));
    }

    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(waitFor([&] { return win->StatusText(4) == "Running"; }))
        << win->StatusText(4).toStdString();
    EXPECT_EQ(engine.Host().BufferSize(), server.Period);
    EXPECT_TRUE(engine.BankMatchesHost());
    win.reset();
}
