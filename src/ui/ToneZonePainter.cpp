#include "ui/ToneZonePainter.h"

#include "dsp/WaveguideDelay.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace varko {

QColor WorkspaceColor(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Mid);
}

QString FrequencyLabel(float ratio, float initialFrequency) {
    // QString::asprintf ignores the locale, so the separator is always ".".
    return QString::asprintf("%.2f Hz", static_cast<double>(ratio * initialFrequency));
}

QString BarLabel(TLabelKind kind, float ratio, float initialFrequency, int tone, int scaleStart,
                 int period) {
    switch (kind) {
    case TLabelKind::Cents:
        return QString::asprintf("%.1f", 1200.0 * std::log2(static_cast<double>(ratio))) +
               QChar(0x00A2);
    case TLabelKind::Ratio:
        return QString::asprintf("%.4f", static_cast<double>(ratio));
    case TLabelKind::Degree: {
        if (period <= 0) {
            return QString::number(tone - scaleStart);
        }
        const int from = tone - scaleStart;
        const int copy = (from >= 0 ? from : from - period + 1) / period;
        const int degree = from - copy * period;
        // An arrow for each period up or down: short enough for narrow bars.
        QString text = QString::number(degree);
        if (copy != 0) {
            text += QChar(copy > 0 ? 0x2191 : 0x2193);
            if (std::abs(copy) > 1) {
                text += QString::number(std::abs(copy));
            }
        }
        return text;
    }
    case TLabelKind::Frequency:
    default:
        return FrequencyLabel(ratio, initialFrequency);
    }
}

QFont FrequencyLabelFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    return font;
}

std::vector<TFrequencyLabel> FrequencyLabels(const TToneZoneGeometry& zone,
                                             const std::vector<float>& toneRatios,
                                             float initialFrequency, bool coloredToneZone,
                                             const QFont& font, TLabelKind kind, int scaleStart,
                                             int period, float wholeSampleRate) {
    (void)coloredToneZone; // both looks centre their labels alike
    std::vector<TFrequencyLabel> labels;
    const int n = std::min(zone.ToneCount, static_cast<int>(toneRatios.size()));
    if (n <= 0 || !zone.Usable()) {
        return labels;
    }
    const QFontMetrics metrics(font);
    std::vector<QString> texts;
    int widest = 0;
    for (int i = 0; i < n; ++i) {
        float ratio = toneRatios[static_cast<size_t>(i)];
        if (wholeSampleRate > 0.0f && initialFrequency > 0.0f) {
            ratio = SoundingFrequency(ratio * initialFrequency, wholeSampleRate, false) /
                    initialFrequency;
        }
        texts.push_back(BarLabel(kind, ratio, initialFrequency, i, scaleStart, period));
        widest = std::max(widest, metrics.horizontalAdvance(texts.back()));
    }
    // Two blanks between labels, so that neighbours read as two labels and not one line.
    const int gap = metrics.horizontalAdvance(QStringLiteral("  "));
    const int w = zone.BarWidth();
    const int every = std::max(1, (widest + gap + w - 1) / w);
    const int height = metrics.height();
    const auto boxOf = [&](int tone) {
        const TBarRect b = zone.BarRect(tone);
        const int width = metrics.horizontalAdvance(texts[static_cast<size_t>(tone)]);
        return QRect(b.Left + (b.Width() - width) / 2, b.Top + (b.Height() - height) / 2, width,
                     height);
    };
    // Each row counts its every-th column from its first label that does not reach past the
    // zone's left edge: labels k columns apart never touch, whatever their own widths.
    int first[2] = {-1, -1};
    for (int i = 0; i < n; ++i) {
        const int row = zone.Row(i);
        if (first[row] < 0 && boxOf(i).left() >= 0) {
            first[row] = zone.Column(i);
        }
    }
    for (int i = 0; i < n; ++i) {
        const int row = zone.Row(i);
        const int column = zone.Column(i);
        if (first[row] < 0 || column < first[row] || (column - first[row]) % every != 0) {
            continue;
        }
        const int inRow = zone.TwoRows ? (row == 0 ? zone.Columns() : n - zone.Columns()) : n;
        const QRect box = boxOf(i);
        if (box.left() + box.width() > inRow * w) {
            continue; // it would reach into the black beside the bars
        }
        labels.push_back({i, texts[static_cast<size_t>(i)], box});
    }
    return labels;
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
    const QFont font = FrequencyLabelFont();
    painter.setFont(font);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.fillRect(QRect(0, 0, w, h), Qt::black);

    const int n = static_cast<int>(toneRatios.size());
    if (n == 0) {
        if (!look.EmptyHint.isEmpty()) {
            QFont hint = QApplication::font();
            hint.setPointSize(12);
            painter.setFont(hint);
            painter.setPen(QColor(150, 150, 150));
            painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter | Qt::TextWordWrap, look.EmptyHint);
        }
        painter.restore();
        return barWidthReciprocal;
    }
    const TToneZoneGeometry zone(n, w, h, look.Paint2Rows);
    if (!zone.Usable()) {
        // Narrower than its bars: black, and nothing under the pointer.
        painter.restore();
        return 0.0f;
    }

    for (int i = 0; i < n; ++i) {
        const TBarRect b = zone.BarRect(i);
        const QRect rect(b.Left, b.Top, b.Width(), b.Height());
        const int column = zone.Column(i);
        if (look.ColoredToneZone) {
            painter.drawImage(rect, textures_[static_cast<size_t>(column % 3)]);
        } else {
            painter.fillRect(rect, column % 2 == 0 ? QColor(152, 152, 152) : QColor(222, 222, 222));
        }
    }
    // Light over the metal as loud as each bar sounds, and a frame round the bars held now.
    for (int i = 0; i < n; ++i) {
        const TBarRect b = zone.BarRect(i);
        const QRect rect(b.Left, b.Top, b.Width(), b.Height());
        const size_t t = static_cast<size_t>(i);
        const float light = t < look.Light.size() ? std::clamp(look.Light[t], 0.0f, 1.0f) : 0.0f;
        if (light > 0.0f) {
            painter.fillRect(rect, QColor(255, 170, 40, static_cast<int>(light * 150.0f)));
        }
        if (t < look.Held.size() && look.Held[t] && rect.width() > 4) {
            painter.setPen(QPen(QColor(255, 230, 120), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect.adjusted(1, 1, -1, -1));
        }
    }
    // Every label after every bar, so that a label running over the next bar stays whole.
    if (look.ShowFrequencyLabels) {
        painter.setPen(look.ColoredToneZone ? QColor(86, 86, 86) : QColor(Qt::black));
        for (const TFrequencyLabel& label :
             FrequencyLabels(zone, toneRatios, initialFrequency, look.ColoredToneZone, font,
                             look.LabelKind, look.ScaleStart, look.Period, look.WholeSampleRate)) {
            if (!look.ColoredToneZone) {
                painter.fillRect(label.Box, Qt::white); // the label's own opaque box
            }
            painter.drawText(label.Box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                             label.Text);
        }
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
