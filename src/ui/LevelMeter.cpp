#include "ui/LevelMeter.h"

#include <QPainter>

#include <algorithm>

namespace varko {

TLevelMeter::TLevelMeter(QWidget* parent) : QProgressBar(parent) {
    setOrientation(Qt::Vertical);
    setRange(0, 60);
    setValue(0);
    setTextVisible(false);
}

QColor TLevelMeter::ZoneColor(int step, bool lit) {
    if (step >= RedFrom) {
        return lit ? QColor(235, 40, 30) : QColor(70, 22, 20);
    }
    if (step >= YellowFrom) {
        return lit ? QColor(240, 210, 40) : QColor(70, 62, 20);
    }
    return lit ? QColor(40, 205, 60) : QColor(20, 58, 26);
}

void TLevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(24, 24, 24));
    const QRect inner = rect().adjusted(1, 1, -1, -1);
    const int steps = std::max(maximum() - minimum(), 1);
    const int lit = value() - minimum();
    // Each zone's share of the height, lit up to the value; the bottom of the bar is step 0.
    auto yOf = [&](int step) { return inner.bottom() + 1 - inner.height() * step / steps; };
    const int bounds[] = {0, YellowFrom, RedFrom, steps};
    for (int zone = 0; zone < 3; ++zone) {
        const int from = bounds[zone];
        const int to = bounds[zone + 1];
        const int litTo = std::clamp(lit, from, to);
        if (litTo > from) {
            p.fillRect(
                QRect(QPoint(inner.left(), yOf(litTo)), QPoint(inner.right(), yOf(from) - 1)),
                ZoneColor(from, true));
        }
        if (to > litTo) {
            p.fillRect(QRect(QPoint(inner.left(), yOf(to)), QPoint(inner.right(), yOf(litTo) - 1)),
                       ZoneColor(from, false));
        }
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace varko
