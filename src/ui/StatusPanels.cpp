#include "ui/StatusPanels.h"

#include <QPainter>
#include <algorithm>

namespace varko {

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
