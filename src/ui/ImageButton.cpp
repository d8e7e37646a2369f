#include "ui/ImageButton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace varko {

QImage MakeDisabledImage(const QImage& normal) {
    if (normal.isNull()) {
        return {};
    }
    if (normal.format() == QImage::Format_Indexed8 || normal.format() == QImage::Format_Mono ||
        normal.format() == QImage::Format_MonoLSB) {
        return normal; // palette image: used undimmed
    }
    QImage img = normal.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(qRed(p), qGreen(p), qBlue(p), qAlpha(p) / 3);
        }
    }
    return img;
}

TImageButton::TImageButton(QWidget* parent) : QWidget(parent) {
    resize(23, 23);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, false);
    // Drawn on the parent's surface: no background of its own.
    setAutoFillBackground(false);
}

void TImageButton::SetButtonLayout(TImageButtonLayout value) {
    layout_ = value;
    update();
}

void TImageButton::SetCaption(const QString& value) {
    caption_ = value;
    update();
}

void TImageButton::SetImageNormal(const QImage& value) {
    normal_ = value;
    disabled_ = MakeDisabledImage(normal_);
    update();
}

void TImageButton::SetImageDown(const QImage& value) {
    down_ = value;
    update();
}

void TImageButton::SetImageOver(const QImage& value) {
    over_ = value;
    update();
}

void TImageButton::SetButtonStyle(TImageButtonStyle value) {
    style_ = value;
    update();
}

void TImageButton::SetSlideWhenDown(bool value) {
    slide_ = value;
    update();
}

const QImage& TImageButton::CurrentImage() const {
    const bool pressed = Pressed();
    if (pressed && !down_.isNull()) {
        return down_;
    }
    if (mouseOver_ && !over_.isNull() && isEnabled()) {
        return over_;
    }
    if (state_ == TButtonState::bsDisabled && !disabled_.isNull()) {
        return disabled_;
    }
    return normal_;
}

void TImageButton::Layout(QPoint& image, QPoint& caption) const {
    // The image's size on the screen: fine art for dense screens is no bigger there.
    const QSize size = CurrentImage().deviceIndependentSize().toSize();
    int iw = size.width();
    int ih = size.height();
    int tw = 0;
    int th = 0;
    if (!caption_.isEmpty()) {
        const QFontMetrics fm(font());
        tw = fm.horizontalAdvance(caption_);
        th = fm.height();
        ih += 4; // gap between image and caption
    }
    const int w = width();
    const int h = height();
    const int s = Pressed() && slide_ ? 2 : 0;
    int ix = (w - iw) / 2 + s;
    int cx = (w - tw) / 2 + s;
    int cy = (h - th) / 2;
    int iy = (h - ih) / 2;
    switch (layout_) {
    case TImageButtonLayout::pbsImageAbove:
        iy = (h - ih - th) / 2;
        cy = iy + ih;
        break;
    case TImageButtonLayout::pbsImageBellow:
        cy = (h - ih - th) / 2;
        iy = cy + th;
        break;
    case TImageButtonLayout::pbsImageLeft:
        ix = (w - iw - tw) / 2;
        cx = ix + iw + 5;
        break;
    case TImageButtonLayout::pbsImageRight:
        cx = (w - iw - tw) / 2;
        ix = cx + tw + 5;
        break;
    }
    image = QPoint(ix, iy + s);
    caption = QPoint(cx, cy + s);
}

QPoint TImageButton::ImagePosition() const {
    QPoint image;
    QPoint caption;
    Layout(image, caption);
    return image;
}

QPoint TImageButton::CaptionPosition() const {
    QPoint image;
    QPoint caption;
    Layout(image, caption);
    return caption;
}

void TImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    // Art drawn for another pixel ratio is resampled, not repeated pixel by pixel.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool pressed = Pressed();
    const QRect r = rect();
    switch (style_) {
    case TImageButtonStyle::pbsFlat:
        if (state_ != TButtonState::bsDisabled) {
            const QColor shadow = palette().color(QPalette::Dark);
            const QColor light = palette().color(QPalette::Light);
            const bool raised = !pressed && (mouseOver_ || state_ == TButtonState::bsDown);
            if (pressed || raised) {
                const QColor topLeft = pressed ? shadow : light;
                const QColor bottomRight = pressed ? light : shadow;
                p.setPen(topLeft);
                p.drawLine(r.topLeft(), r.topRight());
                p.drawLine(r.topLeft(), r.bottomLeft());
                p.setPen(bottomRight);
                p.drawLine(r.bottomLeft(), r.bottomRight());
                p.drawLine(r.topRight(), r.bottomRight());
            }
        }
        break;
    case TImageButtonStyle::pbsDefault: {
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = r;
        option.state &= ~QStyle::State_HasFocus;
        option.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
        break;
    }
    case TImageButtonStyle::pbsNoFrame:
        break;
    }
    QPoint image;
    QPoint caption;
    Layout(image, caption);
    const QImage& img = CurrentImage();
    if (!img.isNull()) {
        p.drawImage(image, img);
    }
    if (!caption_.isEmpty()) {
        p.setPen(state_ == TButtonState::bsDisabled
                     ? palette().color(QPalette::Disabled, QPalette::WindowText)
                     : palette().color(QPalette::Active, QPalette::ButtonText));
        p.setClipRect(r);
        const QFontMetrics fm(font());
        p.drawText(QRect(caption, QSize(fm.horizontalAdvance(caption_), fm.height())),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, caption_);
    }
}

void TImageButton::mousePressEvent(QMouseEvent* event) {
    if (state_ == TButtonState::bsUp && event->button() == Qt::LeftButton) {
        state_ = TButtonState::bsDown;
        // The press happens under the pointer, whatever the enter events said.
        if (rect().contains(event->position().toPoint())) {
            mouseOver_ = true;
        }
        update();
    }
    if (OnMouseDown) {
        const QPoint pt = event->position().toPoint();
        OnMouseDown(this, event->button(), event->modifiers(), pt.x(), pt.y());
    }
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    // A left release over the button is a click, and the click comes before the mouse-up.
    if (event->button() == Qt::LeftButton && state_ == TButtonState::bsDown &&
        rect().contains(pt)) {
        Click();
    }
    // Any release lets the button up: a click needs its own press.
    if (state_ == TButtonState::bsDown) {
        state_ = TButtonState::bsUp;
        update();
    }
    if (OnMouseUp) {
        OnMouseUp(this, event->button(), event->modifiers(), pt.x(), pt.y());
    }
}

void TImageButton::Click() {
    if (state_ == TButtonState::bsDown) {
        state_ = TButtonState::bsUp;
        update();
    }
    if (OnClick) {
        OnClick(this);
    }
    emit clicked();
}

void TImageButton::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    const bool inside = rect().contains(pt);
    if (inside && !mouseOver_ && state_ != TButtonState::bsDown) {
        mouseOver_ = true;
        update();
    }
    // While held, the pressed look follows the pointer in and out of the button.
    if (state_ == TButtonState::bsDown && inside != mouseOver_) {
        mouseOver_ = inside;
        update();
    }
    if (OnMouseMove) {
        OnMouseMove(this, event->modifiers(), pt.x(), pt.y());
    }
}

void TImageButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click is also a press, so the second click works like the first.
    mousePressEvent(event);
    if (OnDblClick) {
        OnDblClick(this);
    }
}

void TImageButton::enterEvent(QEnterEvent*) {
    if (isEnabled()) {
        if (OnMouseEnter) {
            OnMouseEnter(this);
        }
        mouseOver_ = true;
        update();
    }
}

void TImageButton::leaveEvent(QEvent*) {
    if (isEnabled()) {
        if (OnMouseExit) {
            OnMouseExit(this);
        }
        mouseOver_ = false;
        update();
    }
}

void TImageButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            disabled_ = MakeDisabledImage(normal_);
        }
        state_ = isEnabled() ? TButtonState::bsUp : TButtonState::bsDisabled;
        update();
    }
    QWidget::changeEvent(event);
}

} // namespace varko
