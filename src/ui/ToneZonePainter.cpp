#include "ui/ToneZonePainter.h"

#include "ui/Resources.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

namespace varko {

QColor WorkspaceColor(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Mid);
}

QString FrequencyLabel(float ratio, float initialFrequency) {
    // QString::asprintf ignores the locale, so the separator is always ".".
    return QString::asprintf("%.2f Hz", static_cast<double>(ratio * initialFrequency));
}

TToneZonePainter::TToneZonePainter()
    : textures_{ResourceImage(QStringLiteral("metal1")), ResourceImage(QStringLiteral("metal2")),
                ResourceImage(QStringLiteral("metal3"))} {}

float TToneZonePainter::Paint(QPainter& painter, QSize size, const std::vector<float>& toneRatios,
                              float initialFrequency, const TToneZoneLook& look,
                              float barWidthReciprocal) const {
    const int w = size.width();
    const int h = size.height();
    painter.save();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    painter.setFont(font);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.fillRect(QRect(0, 0, w, h), Qt::black);

    const int n = static_cast<int>(toneRatios.size());
    if (n == 0) {
        painter.restore();
        return barWidthReciprocal;
    }
    const TToneZoneGeometry zone(n, w, h, look.Paint2Rows);
    if (!zone.Usable()) {
        // Narrower than its bars: black, and nothing under the pointer.
        painter.restore();
        return 0.0f;
    }

    const QFontMetrics metrics(font);
    const int labelHeight = metrics.height();
    for (int i = 0; i < n; ++i) {
        const TBarRect b = zone.BarRect(i);
        const QRect rect(b.Left, b.Top, b.Width(), b.Height());
        const int column = zone.Column(i);
        if (look.ColoredToneZone) {
            painter.drawImage(rect, textures_[static_cast<size_t>(column % 3)]);
        } else {
            painter.fillRect(rect, column % 2 == 0 ? QColor(152, 152, 152) : QColor(222, 222, 222));
        }
        if (!look.ShowFrequencyLabels) {
            continue;
        }
        const QString label = FrequencyLabel(toneRatios[static_cast<size_t>(i)], initialFrequency);
        const int x = b.Left + (look.ColoredToneZone ? 6 : 3);
        const int y = b.Top + b.Height() / 2 - 8;
        const QRect box(x, y, metrics.horizontalAdvance(label), labelHeight);
        if (!look.ColoredToneZone) {
            painter.fillRect(box, Qt::white); // the label's own opaque box
        }
        painter.setPen(look.ColoredToneZone ? QColor(86, 86, 86) : QColor(Qt::black));
        // Not clipped to the bar: a long label runs over the next one.
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label);
    }
    if (!look.ColoredToneZone) {
        painter.setPen(QPen(look.Workspace, 1));
        painter.setBrush(Qt::NoBrush);
        if (look.Paint2Rows) {
            const int r = zone.RowHeight();
            painter.drawLine(0, r, w, r);
        }
        // The outline covers the zone's last column and row, as a 1-pixel frame of (0,0)-(W,H).
        painter.drawRect(0, 0, w - 1, h - 1);
    }
    painter.restore();
    return zone.BarWidthReciprocal();
}

} // namespace varko
