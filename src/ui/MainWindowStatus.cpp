// The main window's status bar, level meters, timers and watchdog, and stopping and restarting
// the audio.
#include "ui/MainWindow.h"

#include "ui/StatusPanels.h"

#include "core/Texts.h"
#include "ui/ClipLed.h"
#include "ui/ImageButton.h"
#include "ui/dialogs/AudioStoppedNotice.h"

#include <QPainter>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace varko {

QString TMainWindow::StatusText(int panel) const {
    return StatusBar->Text(panel);
}

void TMainWindow::SetStatusText(int panel, const QString& text) {
    StatusBar->SetText(panel, text);
}

void TMainWindow::LayOutStatusBar() {
    // The audio's state and its glitch counter (late blocks, device xruns, tone resets) at the
    // right.
    const int w = std::max((StatusBar->width() - 505) / 2, 0);
    StatusBar->Widths = {150, 115, w, w, 80, 160};
    StatusBar->update();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutStatusBar();
}

void TMainWindow::DrawPressurePanel(QPainter& painter) {
    const QPoint at(154, (StatusBar->height() - 9) / 2);
    PressureBar->render(&painter, at, QRegion(), QWidget::DrawChildren);
}

void TMainWindow::LevelMeter(float peak, QProgressBar* meter, TClipLed* led, QTimer* offTimer) {
    if (peak > 0) {
        const double d = 20.0 * std::log10(static_cast<double>(peak));
        // Ties to even, as the meters have always rounded.
        const double r = std::nearbyint(d);
        const int position = static_cast<int>(std::clamp(60.0 - std::fabs(r), 0.0, 60.0));
        meter->setValue(position);
        if (meter->value() == meter->maximum() - 1) {
            led->SetColors(QColor(255, 128, 0), QColor(128, 0, 0));
            offTimer->start(); // restarts: lit 1000 ms after the last such reading
        }
    } else {
        meter->setValue(0);
    }
}

void TMainWindow::LevelTimerTick() {
    const auto [left, right] = Instrument.TakePeaks();
    LevelMeter(left, LeftMeter, LeftClipLed, LeftClipOffTimer);
    LevelMeter(right, RightMeter, RightClipLed, RightClipOffTimer);
}

void TMainWindow::LeftClipOffTimerTimer() {
    LeftClipOffTimer->stop();
    LeftClipLed->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWindow::RightClipOffTimerTimer() {
    RightClipOffTimer->stop();
    RightClipLed->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWindow::ShowStoppedWarning(const char* first, const char* second) {
    Watchdog->stop();
    Instrument.StopAudio();
    RestartBtn->show();
    TAudioStoppedNotice warning(this);
    warning.SetTexts(QString::fromUtf8(first), QString::fromUtf8(second));
    ExecModal(warning);
}

void TMainWindow::WatchdogTick() {
    const uint32_t now = TickCount();
    // The ticks are UI messages: a long gap means the UI thread was starved.
    if (static_cast<uint32_t>(now - LastTick) > 15000u) {
        LastTick = now;
        ShowStoppedWarning(text::LoadStopped, text::LoadAdvice);
    }
    LastTick = TickCount();
}

void TMainWindow::StopAudio() {
    ShowStoppedWarning(text::UserStopped, text::UserStoppedAdvice);
}

void TMainWindow::RestartBtnClick() {
    LastTick = TickCount();
    Watchdog->start();
    Instrument.StartAudio();
    RestartBtn->hide();
}

} // namespace varko
