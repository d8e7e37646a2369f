#include "ui/ToneZone.h"

#include "core/Texts.h"
#include "ui/Resources.h"

#include <QMouseEvent>
#include <QPainter>

namespace varko {

TMouseButton ToMouseButton(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return TMouseButton::mbLeft;
    case Qt::RightButton:
        return TMouseButton::mbRight;
    case Qt::MiddleButton:
        return TMouseButton::mbMiddle;
    default:
        return TMouseButton::mbOther;
    }
}

TToneZone::TToneZone(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole zone
    look_.Workspace = WorkspaceColor(palette());
    look_.EmptyHint = QString::fromUtf8(text::OpenScaleHint);
}

void TToneZone::SetToneRatios(std::vector<float> ratios) {
    ratios_ = std::move(ratios);
    RepaintToneZone();
}

void TToneZone::SetInitialFrequency(float hertz) {
    initialFrequency_ = hertz;
    RepaintToneZone();
}

void TToneZone::SetLook(const TToneZoneLook& look) {
    look_ = look;
    look_.Workspace = WorkspaceColor(palette());
    RepaintToneZone();
}

TToneZoneGeometry TToneZone::Geometry() const {
    return {static_cast<int>(ratios_.size()), width(), height(), look_.Paint2Rows};
}

void TToneZone::RepaintToneZone() {
    const TToneZoneGeometry zone = Geometry();
    if (zone.ToneCount > 0) {
        barWidthReciprocal_ = zone.BarWidthReciprocal();
    }
    update();
}

void TToneZone::SetPenCursor(bool pen) {
    if (pen) {
        setCursor(PenCursor());
    } else {
        unsetCursor();
    }
}

void TToneZone::paintEvent(QPaintEvent*) {
    QPainter p(this);
    barWidthReciprocal_ =
        painter_.Paint(p, size(), ratios_, initialFrequency_, look_, barWidthReciprocal_);
}

void TToneZone::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove) {
        const QPoint pt = event->position().toPoint();
        OnMouseMove(pt.x(), pt.y());
    }
}

void TToneZone::mousePressEvent(QMouseEvent* event) {
    if (OnMouseDown) {
        const QPoint pt = event->position().toPoint();
        OnMouseDown(ToMouseButton(event->button()), pt.x(), pt.y());
    }
}

void TToneZone::mouseReleaseEvent(QMouseEvent* event) {
    if (OnMouseUp) {
        const QPoint pt = event->position().toPoint();
        OnMouseUp(ToMouseButton(event->button()), pt.x(), pt.y());
    }
}

void TToneZone::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click presses like the first.
    mousePressEvent(event);
}

} // namespace varko
