#include "ui/Fader.h"

#include "engine/FaderLaws.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace varko {

TFader::TFader(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    setRange(FaderMin, FaderMax);
    // Position 0 at the top, as the faders are read.
    setInvertedAppearance(true);
    setInvertedControls(true);
    setTickInterval(10);
    setTickPosition(QSlider::TicksBothSides);
    setSingleStep(1);
    setPageStep(10);
    connect(this, &QSlider::sliderPressed, this, &TFader::ShowValue);
    connect(this, &QSlider::sliderMoved, this, &TFader::ShowValue);
    connect(this, &QSlider::sliderReleased, this, [] { QToolTip::hideText(); });
}

QString TFader::ValueTip() const {
    return ValueText ? ValueText(sliderPosition()) : QString();
}

void TFader::ShowValue() {
    const QString tip = ValueTip();
    if (tip.isEmpty()) {
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    QToolTip::showText(mapToGlobal(QPoint(width(), handle.center().y())), tip, this);
}

void TFader::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks) {
        option.subControls |= QStyle::SC_SliderTickmarks;
    }
    if (isSliderDown()) {
        option.activeSubControls = QStyle::SC_SliderHandle;
        option.state |= QStyle::State_Sunken;
    }
    // Mirror the positions and the direction together: the handle stays where it is, and the
    // style fills the groove below it instead of above.
    option.upsideDown = !option.upsideDown;
    option.sliderPosition = option.maximum - (option.sliderPosition - option.minimum);
    option.sliderValue = option.maximum - (option.sliderValue - option.minimum);
    style()->drawComplexControl(QStyle::CC_Slider, &option, &p, this);
}

QString MasterLevelText(int position) {
    const double gain = MasterGainFromFader(position);
    if (gain <= 0.0) {
        return QStringLiteral("Master level: off");
    }
    const double db = 20.0 * std::log10(gain);
    // "+0.0" and "-0.0" both read as the unity they are.
    const double shown = std::fabs(db) < 0.05 ? 0.0 : db;
    return QStringLiteral("Master level: %1%2 dB")
        .arg(shown > 0 ? QStringLiteral("+") : QString())
        .arg(shown, 0, 'f', 1);
}

QString ResonanceText(int position) {
    const int clamped = std::clamp(position, FaderMin, FaderMax);
    const int percent = static_cast<int>(
        std::lround(100.0 * (FaderMax - clamped) / static_cast<double>(FaderMax - FaderMin)));
    return QStringLiteral("Resonance: %1 %").arg(percent);
}

} // namespace varko
