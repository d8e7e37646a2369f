// The main window's status bar, level meters, timers and watchdog, and stopping and restarting
// the audio.
#include "ui/MainWindow.h"

#include "ui/StatusPanels.h"

#include "core/Texts.h"
#include "ui/ClipLed.h"
#include "ui/ImageButton.h"
#include "ui/ToneZone.h"
#include "ui/dialogs/AudioStoppedNotice.h"

#include <QPainter>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace varko {

QString TMainWindow::StatusText(int panel) const {
    return statusBar_->Text(panel);
}

void TMainWindow::SetStatusText(int panel, const QString& text) {
    statusBar_->SetText(panel, text);
}

void TMainWindow::LayOutStatusBar() {
    statusBar_->LayOut();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutStatusBar();
}

int TMainWindow::ShownPressure() {
    const TPlaying& play = Playing();
    return std::clamp(play.PressureBarPosition, 0, play.PressureBarMax);
}

void TMainWindow::DrawPressurePanel(QPainter& painter) {
    if (!Instrument.Settings().Stored().ShowPressureLevel) {
        return; // not followed: not shown
    }
    const QRect bar(statusBar_->PanelRect(1).left() + 4, (statusBar_->height() - 9) / 2, 97, 10);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    const int range = std::max(Playing().PressureBarMax, 1);
    const int filled = (bar.width() - 2) * ShownPressure() / range;
    if (filled > 0) {
        painter.fillRect(QRect(bar.left() + 1, bar.top() + 1, filled, bar.height() - 2),
                         palette().color(QPalette::Highlight));
    }
}

void TMainWindow::LevelMeter(float peak, QProgressBar* meter, TClipLed* led, QTimer* offTimer) {
    if (peak > 0) {
        const double d = 20.0 * std::log10(static_cast<double>(peak));
        // Ties to even, as the meters have always rounded.
        const double r = std::nearbyint(d);
        // Above full scale the meter stays full: an overload never reads quieter.
        const int position = static_cast<int>(std::clamp(60.0 + std::min(r, 0.0), 0.0, 60.0));
        meter->setValue(position);
        // The top two steps (-1 dBFS and above): the channel clips or is about to.
        if (meter->value() >= meter->maximum() - 1) {
            led->SetColors(QColor(255, 128, 0), QColor(128, 0, 0));
            offTimer->start(); // restarts: lit 1000 ms after the last such reading
        }
    } else {
        meter->setValue(0);
    }
}

void TMainWindow::ShowLevels() {
    const auto [left, right] = Instrument.Audio().TakePeaks();
    LevelMeter(left, leftMeter_, leftClipLed_, leftClipOffTimer_);
    LevelMeter(right, rightMeter_, rightClipLed_, rightClipOffTimer_);
    ShowBarLight();
    const float gain = Instrument.Audio().TakeLimiterGain();
    limiterMeter_->setValue(
        gain > 0.0f ? static_cast<int>(std::clamp(std::lround(-20.0 * std::log10(gain)), 0L, 12L))
                    : 12);
}

void TMainWindow::ShowBarLight() {
    const std::vector<float> levels = Instrument.Audio().TakeToneLevels();
    std::vector<float> light(levels.size(), 0.0f);
    for (size_t t = 0; t < levels.size(); ++t) {
        // -48 dBFS is dark, full scale full light; the light falls as a meter's bar does.
        const float target =
            levels[t] > 0.0f
                ? std::clamp((20.0f * std::log10(levels[t]) + 48.0f) / 48.0f, 0.0f, 1.0f)
                : 0.0f;
        const float before = t < barLight_.size() ? barLight_[t] : 0.0f;
        light[t] = std::max(target, before * 0.8f);
        if (light[t] < 0.03f) {
            light[t] = 0.0f;
        }
    }
    barLight_ = light;
    const std::vector<bool> held = Instrument.HeldTones();
    TToneZoneLook look = toneZone_->Look();
    if (look.Light != light || look.Held != held) {
        look.Light = std::move(light);
        look.Held = held;
        toneZone_->SetLook(look);
    }
}

void TMainWindow::LeftClipOff() {
    leftClipOffTimer_->stop();
    leftClipLed_->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWindow::RightClipOff() {
    rightClipOffTimer_->stop();
    rightClipLed_->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWindow::ShowStoppedWarning(const char* first, const char* second) {
    watchdog_->stop();
    Instrument.Audio().StopAudio();
    restartBtn_->show();
    TAudioStoppedNotice warning(this);
    warning.SetTexts(QString::fromUtf8(first), QString::fromUtf8(second));
    Platform.ExecModal(warning);
}

void TMainWindow::WatchdogTick() {
    const uint32_t now = Platform.TickCount();
    // The ticks are UI messages: a long gap means the UI thread was starved.
    if (static_cast<uint32_t>(now - lastTick_) > 15000u) {
        lastTick_ = now;
        ShowStoppedWarning(text::LoadStopped, text::LoadAdvice);
    }
    lastTick_ = Platform.TickCount();
}

void TMainWindow::StopAudio() {
    ShowStoppedWarning(text::UserStopped, text::UserStoppedAdvice);
}

void TMainWindow::RestartBtnClick() {
    lastTick_ = Platform.TickCount();
    watchdog_->start();
    Instrument.Audio().StartAudio();
    restartBtn_->hide();
}

} // namespace varko
