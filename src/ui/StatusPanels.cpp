#include "ui/StatusPanels.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace varko {

TStatusPanels::TStatusPanels(QWidget* parent) : QWidget(parent) {
    setFixedHeight(19);
}

void TStatusPanels::SetText(int panel, const QString& text) {
    QString& t = Texts.at(static_cast<size_t>(panel));
    if (t != text) {
        t = text;
        LayOut();
    }
}

void TStatusPanels::LayOut() {
    const QFontMetrics fm(font());
    // A panel's frame and the text's margins (see TextRect).
    auto need = [&](int panel) {
        return fm.horizontalAdvance(Texts.at(static_cast<size_t>(panel))) + 8;
    };
    const int scale = need(2);
    const int object = need(3);
    int input = std::max(150, need(0));
    int audio = std::max(80, need(4));
    int glitches = std::max(160, need(5));
    int rest = width() - input - 115 - audio - glitches;
    if (rest < scale + object) {
        // A narrow window: the short texts give up their spare room to the scale and object.
        input = need(0);
        audio = need(4);
        glitches = need(5);
        rest = std::max(width() - input - 115 - audio - glitches, 0);
    }
    int first = rest / 2;
    if (first < std::max(scale, object)) {
        first = rest >= scale + object ? scale + (rest - scale - object) / 2
                                       : rest * scale / (scale + object);
    }
    Widths = {input, 115, first, rest - first, audio, glitches};
    update();
}

bool TStatusPanels::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const QPoint at = static_cast<QHelpEvent*>(event)->pos();
        for (int i = 0; i < static_cast<int>(Texts.size()); ++i) {
            const QString& text = Texts.at(static_cast<size_t>(i));
            const QString& tip = Tips.at(static_cast<size_t>(i));
            if (i == 1 || !PanelRect(i).contains(at)) {
                continue;
            }
            const bool cut = fontMetrics().horizontalAdvance(text) > TextRect(i).width();
            if (cut || !tip.isEmpty()) {
                const QString shown = cut && !tip.isEmpty() ? text + QLatin1Char('\n') + tip
                                      : cut                 ? text
                                                            : tip;
                QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), shown, this);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

void TStatusPanels::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

QRect TStatusPanels::PanelRect(int panel) const {
    int x = 0;
    for (int i = 0; i < panel; ++i) {
        x += Widths.at(static_cast<size_t>(i));
    }
    // The last panel takes what is left.
    const int w = panel + 1 == static_cast<int>(Texts.size())
                      ? width() - x
                      : Widths.at(static_cast<size_t>(panel));
    return {x, 1, std::max(w - 2, 0), height() - 2};
}

QRect TStatusPanels::TextRect(int panel) const {
    return PanelRect(panel).adjusted(3, 0, -2, 0);
}

void TStatusPanels::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    for (int i = 0; i < static_cast<int>(Texts.size()); ++i) {
        const QRect r = PanelRect(i);
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
            // A text longer than its panel ends in "…" (its tip shows it whole).
            const QRect r = TextRect(i);
            p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                       fontMetrics().elidedText(Texts.at(static_cast<size_t>(i)), Qt::ElideRight,
                                                r.width()));
        }
    }
}

} // namespace varko
