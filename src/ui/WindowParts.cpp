#include "ui/WindowParts.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

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

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent)
    : QWidget(parent), Min(min), Max(max), associate_(associate), position_(position) {
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    UpButton = new QToolButton(this);
    UpButton->setArrowType(Qt::UpArrow);
    DownButton = new QToolButton(this);
    DownButton->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {UpButton, DownButton}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        box->addWidget(b);
    }
    connect(UpButton, &QToolButton::clicked, this, [this] { Click(+1); });
    connect(DownButton, &QToolButton::clicked, this, [this] { Click(-1); });
}

bool TUpDown::Change(int value) {
    if (OnChangingEx && !OnChangingEx(value)) {
        return false;
    }
    position_ = value;
    return true;
}

void TUpDown::SetPosition(int value) {
    Change(value);
}

void TUpDown::Click(int step) {
    const int next = std::clamp(position_ + step, Min, Max);
    if (next != position_ && Change(next) && associate_ != nullptr) {
        associate_->setText(QString::number(next));
    }
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent, bool link) : QLabel(text, parent) {
    setCursor(Qt::PointingHandCursor);
    if (link) {
        QFont f = font();
        f.setUnderline(true);
        setFont(f);
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, QColor(67, 81, 90));
        setPalette(pal);
    }
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        OnClick) {
        OnClick();
    }
}

TStatusPanels::TStatusPanels(QWidget* parent) : QWidget(parent) {
    setFixedHeight(19);
}

void TStatusPanels::SetText(int panel, const QString& text) {
    QString& t = Texts.at(static_cast<size_t>(panel));
    if (t != text) {
        t = text;
        update();
    }
}

void TStatusPanels::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    int x = 0;
    for (size_t i = 0; i < Texts.size(); ++i) {
        const int w = i + 1 == Texts.size() ? std::max(width() - x, 0) : Widths[i];
        const QRect r(x, 1, std::max(w - 2, 0), height() - 2);
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(r.adjusted(0, 0, -1, -1));
        if (i == 1) {
            if (OnDrawPanel) {
                p.save();
                OnDrawPanel(p);
                p.restore();
            }
        } else {
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(r.adjusted(3, 0, -2, 0),
                       Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, Texts[i]);
        }
        x += w;
    }
}

} // namespace varko
