#include "ui/ClipLed.h"

#include <QPainter>

namespace varko {

TClipLed::TClipLed(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void TClipLed::SetColors(const QColor& fill, const QColor& outline) {
    Fill = fill;
    Outline = outline;
    update();
}

void TClipLed::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(Outline);
    p.setBrush(Fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0), 1.5, 1.5);
}

} // namespace varko
