#include "ui/LinkLabel.h"

#include <QMouseEvent>

namespace varko {

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

} // namespace varko
