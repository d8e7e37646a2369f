#include "ui/ToneZonePainter.h"

#include <QPainter>

#include <cmath>

#include <gtest/gtest.h>

using namespace varko;

namespace {

const QColor KWorkspace(171, 171, 171);

QImage Solid(QColor c) {
    QImage img(201, 800, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

struct Painted {
    QImage Image;
    float Reciprocal = 0;
};

Painted Paint(QSize size, int tones, TToneZoneLook look, float previous = 0.25f) {
    const TToneZonePainter painter({Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue)});
    look.Workspace = KWorkspace;
    Painted out;
    out.Image = QImage(size, QImage::Format_RGB32);
    out.Image.fill(Qt::magenta);
    QPainter p(&out.Image);
    out.Reciprocal = painter.Paint(p, size, std::vector<float>(static_cast<size_t>(tones), 1.5f),
                                   200.0f, look, previous);
    return out;
}

QColor At(const Painted& p, int x, int y) {
    return p.Image.pixelColor(x, y);
}

} // namespace

TEST(ToneZonePainter, EmptyToneListIsAllBlackInBothLooks) {
    for (bool coloured : {false, true}) {
        const Painted p = Paint({200, 100}, 0, {false, coloured, true});
        EXPECT_EQ(p.Reciprocal, 0.25f); // unchanged
        for (QPoint pt : {QPoint(0, 0), QPoint(199, 99), QPoint(100, 50)}) {
            EXPECT_EQ(At(p, pt.x(), pt.y()), QColor(Qt::black));
        }
    }
}

TEST(ToneZonePainter, GreyLookOneRowWithStripAndOutline) {
    const Painted p = Paint({700, 400}, 37, {false, false, false});
    EXPECT_FLOAT_EQ(p.Reciprocal, 1.0f / 18);
    EXPECT_EQ(At(p, 5, 200), QColor(152, 152, 152));
    EXPECT_EQ(At(p, 20, 200), QColor(222, 222, 222));
    EXPECT_EQ(At(p, 36 * 18 + 5, 200), QColor(152, 152, 152)); // tone 36, even column
    EXPECT_EQ(At(p, 665, 200), QColor(152, 152, 152));
    EXPECT_EQ(At(p, 666, 200), QColor(Qt::black)); // the strip
    EXPECT_EQ(At(p, 698, 200), QColor(Qt::black));
    // The outline runs round the whole 700-pixel zone.
    EXPECT_EQ(At(p, 699, 200), KWorkspace);
    EXPECT_EQ(At(p, 690, 0), KWorkspace);
    EXPECT_EQ(At(p, 690, 399), KWorkspace);
    EXPECT_EQ(At(p, 0, 200), KWorkspace);
}

TEST(ToneZonePainter, GreyLookTwoRowsWithDividerAndEmptyCell) {
    const Painted p = Paint({700, 501}, 37, {true, false, false});
    EXPECT_FLOAT_EQ(p.Reciprocal, 1.0f / 36);
    EXPECT_EQ(At(p, 100, 250), KWorkspace);          // the divider
    EXPECT_EQ(At(p, 5, 300), QColor(152, 152, 152)); // tone 19 starts dark again
    EXPECT_EQ(At(p, 40, 300), QColor(222, 222, 222));
    EXPECT_EQ(At(p, 660, 300), QColor(Qt::black));     // the empty 19th cell
    EXPECT_EQ(At(p, 660, 100), QColor(152, 152, 152)); // tone 18 above it
    EXPECT_EQ(At(p, 690, 100), QColor(Qt::black));     // right of the last column
}

TEST(ToneZonePainter, ColouredLookCyclesTexturesPerRowWithoutOutline) {
    const Painted p = Paint({700, 501}, 37, {true, true, false});
    EXPECT_EQ(At(p, 5, 100), QColor(Qt::red));    // tone 0: metal1
    EXPECT_EQ(At(p, 40, 100), QColor(Qt::green)); // tone 1: metal2
    EXPECT_EQ(At(p, 80, 100), QColor(Qt::blue));  // tone 2: metal3
    EXPECT_EQ(At(p, 5, 300), QColor(Qt::red));    // tone 19: metal1 again
    EXPECT_EQ(At(p, 0, 0), QColor(Qt::red));      // no outline
    EXPECT_NE(At(p, 100, 250), KWorkspace);       // no divider
    EXPECT_EQ(At(p, 690, 100), QColor(Qt::black));
}

TEST(ToneZonePainter, LabelsAndTheirBoxes) {
    EXPECT_EQ(FrequencyLabel(1.5f, 200.0f), QStringLiteral("300.00 Hz"));
    EXPECT_EQ(FrequencyLabel(1.0f, 261.6256f), QStringLiteral("261.63 Hz"));
    const Painted plain = Paint({300, 200}, 2, {false, false, false});
    const Painted labelled = Paint({300, 200}, 2, {false, false, true});
    int white = 0;
    int dark = 0;
    int changed = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            const QColor c = At(labelled, x, y);
            white += c == QColor(Qt::white) ? 1 : 0;
            changed += c != At(plain, x, y) ? 1 : 0;
            // Dark text inside the first bar, where the plain bar is grey.
            dark += x > 0 && x < 149 && y > 0 && y < 199 && c.red() < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(white, 100); // the label's own white box
    EXPECT_GT(dark, 30);   // its black text
    // Labels sit at the middle of the bar's height, near its left edge; nothing else changes.
    EXPECT_EQ(At(labelled, 150, 20), At(plain, 150, 20));
    EXPECT_EQ(At(labelled, 2, 100), At(plain, 2, 100));
    EXPECT_LT(changed, 2 * 100 * 20);
}

// 37 tones of 100 .. 800 Hz: each label is wider than the 18-pixel bars of a 700-pixel zone.
std::vector<float> ThreeOctaves() {
    std::vector<float> ratios;
    for (int i = 0; i < 37; ++i) {
        ratios.push_back(std::pow(2.0f, static_cast<float>(i - 12) / 12.0f));
    }
    return ratios;
}

TEST(ToneZonePainter, LabelsWiderThanTheirBarsAreWholeAndNeverInTheStrip) {
    const std::vector<float> ratios = ThreeOctaves();
    const TToneZonePainter painter({Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue)});
    TToneZoneLook look{false, false, true};
    look.Workspace = KWorkspace;
    QImage img(700, 400, QImage::Format_RGB32);
    QPainter p(&img);
    painter.Paint(p, img.size(), ratios, 200.0f, look, 0);
    p.end();
    // The first label shows whole: the zone holds exactly the label drawn on its own.
    const QFont font = FrequencyLabelFont();
    const std::vector<TFrequencyLabel> labels =
        FrequencyLabels(TToneZoneGeometry(37, 700, 400, false), ratios, 200.0f, false, font);
    ASSERT_FALSE(labels.empty());
    const QString first = labels[0].Text;
    const QRect box = labels[0].Box;
    QImage alone(box.size(), QImage::Format_RGB32);
    alone.fill(Qt::white);
    QPainter a(&alone);
    a.setFont(font);
    a.setPen(Qt::black);
    a.drawText(alone.rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, first);
    a.end();
    EXPECT_EQ(img.copy(box), alone) << "the next bar is painted over the label";
    // Nothing but black in the strip right of the bars (the outline aside).
    for (int y = 1; y < 399; ++y) {
        for (int x = 666; x < 699; ++x) {
            ASSERT_EQ(img.pixelColor(x, y), QColor(Qt::black)) << x << ", " << y;
        }
    }
}

TEST(ToneZonePainter, WhereLabelsWouldCollideEveryKthColumnCarriesOne) {
    const std::vector<float> ratios = ThreeOctaves();
    const QFont font = FrequencyLabelFont();
    for (const bool twoRows : {false, true}) {
        for (const bool coloured : {false, true}) {
            SCOPED_TRACE(twoRows ? "two rows" : "one row");
            SCOPED_TRACE(coloured ? "coloured" : "grey");
            const TToneZoneGeometry zone(37, 700, 501, twoRows);
            const std::vector<TFrequencyLabel> labels =
                FrequencyLabels(zone, ratios, 200.0f, coloured, font);
            ASSERT_GE(labels.size(), 4u);
            const int first = zone.Column(labels[0].Tone);
            const int every = zone.Column(labels[1].Tone) - first;
            EXPECT_GT(every, 1);
            EXPECT_LT(first, every); // no more than one period of columns goes unlabelled
            for (size_t i = 0; i < labels.size(); ++i) {
                const TFrequencyLabel& l = labels[i];
                EXPECT_EQ((zone.Column(l.Tone) - first) % every, 0) << l.Tone;
                const int inRow = twoRows ? (zone.Row(l.Tone) == 0 ? 19 : 18) : 37;
                EXPECT_GE(l.Box.left(), 0) << l.Tone;
                EXPECT_LE(l.Box.left() + l.Box.width(), inRow * zone.BarWidth()) << l.Tone;
                // Centred on its own bar, across and along.
                const TBarRect b = zone.BarRect(l.Tone);
                EXPECT_LE(std::abs(2 * l.Box.left() + l.Box.width() - (2 * b.Left + b.Width())), 1)
                    << l.Tone;
                EXPECT_LE(std::abs(2 * l.Box.top() + l.Box.height() - (2 * b.Top + b.Height())), 1)
                    << l.Tone;
                for (size_t j = i + 1; j < labels.size(); ++j) {
                    EXPECT_FALSE(l.Box.intersects(labels[j].Box))
                        << l.Tone << " and " << labels[j].Tone;
                }
            }
        }
    }
    // Wide bars: every bar is labelled.
    const TToneZoneGeometry wide(4, 700, 400, false);
    EXPECT_EQ(FrequencyLabels(wide, {1.0f, 1.25f, 1.5f, 1.75f}, 200.0f, true, font).size(), 4u);
}

// Whole-sample delay lines put bars 1 and 2 of 53 equal steps from 1 kHz on one pitch at
// 48 kHz; their labels say so instead of the scale's pitches.
TEST(ToneZonePainter, WithWholeSampleLinesTheLabelsSayWhatTheBarsSound) {
    std::vector<float> ratios;
    for (int i = 0; i < 5; ++i) {
        ratios.push_back(std::pow(2.0f, static_cast<float>(i) / 53.0f));
    }
    const TToneZoneGeometry zone(5, 1000, 300, false);
    const QFont font = FrequencyLabelFont();
    const auto texts = [&](TLabelKind kind, float rate) {
        std::vector<QString> t;
        for (const TFrequencyLabel& l :
             FrequencyLabels(zone, ratios, 1000.0f, true, font, kind, 0, 53, rate)) {
            t.push_back(l.Text);
        }
        return t;
    };
    const std::vector<QString> exact = texts(TLabelKind::Frequency, 0.0f);
    ASSERT_EQ(exact.size(), 5u);
    EXPECT_EQ(exact[1], "1013.16 Hz");
    EXPECT_NE(exact[1], exact[2]);
    const std::vector<QString> sounding = texts(TLabelKind::Frequency, 48000.0f);
    ASSERT_EQ(sounding.size(), 5u);
    EXPECT_EQ(sounding[0], "1000.00 Hz"); // 48 samples exactly
    EXPECT_EQ(sounding[1], "1021.28 Hz"); // 47 samples
    EXPECT_EQ(sounding[2], "1021.28 Hz");
    EXPECT_EQ(texts(TLabelKind::Cents, 48000.0f)[1], QString("36.4") + QChar(0xA2));
    // A degree is the scale's whatever the bar sounds.
    EXPECT_EQ(texts(TLabelKind::Degree, 48000.0f), texts(TLabelKind::Degree, 0.0f));
}

TEST(ToneZonePainter, EmptyZoneShowsItsHint) {
    TToneZoneLook look{false, true, true};
    look.EmptyHint = QStringLiteral("Open a scale: F2");
    const Painted p = Paint({400, 200}, 0, look);
    int lit = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 400; ++x) {
            lit += At(p, x, y) != QColor(Qt::black) ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 50);
    EXPECT_EQ(At(p, 5, 5), QColor(Qt::black));
}

TEST(ToneZonePainter, ZoneNarrowerThanItsBarsStaysBlack) {
    const Painted p = Paint({5, 50}, 10, {false, false, true});
    EXPECT_EQ(p.Reciprocal, 0.0f);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(At(p, x, 25), QColor(Qt::black));
    }
}

TEST(ToneZonePainter, LoadsTheCompiledInTextures) {
    const TToneZonePainter painter;
    for (const QImage& t : painter.Textures()) {
        EXPECT_EQ(t.size(), QSize(201, 800));
    }
}

// A microtonal player reads cents, ratios or degrees more easily than hertz.
TEST(ToneZonePainter, LabelsSayFrequencyCentsRatioOrDegree) {
    EXPECT_EQ(BarLabel(TLabelKind::Frequency, 1.5f, 200.0f, 7, 0, 12), "300.00 Hz");
    EXPECT_EQ(BarLabel(TLabelKind::Cents, 1.5f, 200.0f, 7, 0, 12), QString("702.0") + QChar(0xA2));
    EXPECT_EQ(BarLabel(TLabelKind::Cents, 0.5f, 200.0f, 0, 12, 12),
              QString("-1200.0") + QChar(0xA2));
    EXPECT_EQ(BarLabel(TLabelKind::Ratio, 1.25f, 200.0f, 4, 0, 12), "1.2500");
    // Degrees count from the scale's 1/1, period by period.
    EXPECT_EQ(BarLabel(TLabelKind::Degree, 1.0f, 200.0f, 12, 12, 12), "0");
    EXPECT_EQ(BarLabel(TLabelKind::Degree, 1.5f, 200.0f, 19, 12, 12), "7");
    EXPECT_EQ(BarLabel(TLabelKind::Degree, 3.0f, 200.0f, 31, 12, 12), QString("7") + QChar(0x2191));
    EXPECT_EQ(BarLabel(TLabelKind::Degree, 0.75f, 200.0f, 7, 12, 12), QString("7") + QChar(0x2193));
    EXPECT_EQ(BarLabel(TLabelKind::Degree, 0.375f, 200.0f, 0, 24, 12),
              QString("0") + QChar(0x2193) + "2");
}

// Nothing showed which bar was pressed or sounding.
TEST(ToneZonePainter, SoundingBarsLightUpAndHeldBarsAreFramed) {
    TToneZoneLook dark{false, true, false};
    const Painted plain = Paint({300, 200}, 3, dark);
    TToneZoneLook lit = dark;
    lit.Light = {0.0f, 1.0f};
    lit.Held = {false, false, true};
    const Painted shown = Paint({300, 200}, 3, lit);
    EXPECT_EQ(At(shown, 50, 100), At(plain, 50, 100)); // bar 0: silent, free
    const QColor glow = At(shown, 150, 100), metal = At(plain, 150, 100);
    EXPECT_GT(glow.red() - glow.blue(), metal.red() - metal.blue() + 40); // bar 1: warm light
    EXPECT_NE(At(shown, 201, 100), At(plain, 201, 100));                  // bar 2: its frame
    EXPECT_EQ(At(shown, 250, 100), At(plain, 250, 100)); // and inside it, the bar as it is
}
