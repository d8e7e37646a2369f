#include "ui/ToneZonePainter.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace varko;

namespace {

const QColor kWorkspace(171, 171, 171);

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
    look.Workspace = kWorkspace;
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
    EXPECT_EQ(At(p, 699, 200), kWorkspace);
    EXPECT_EQ(At(p, 690, 0), kWorkspace);
    EXPECT_EQ(At(p, 690, 399), kWorkspace);
    EXPECT_EQ(At(p, 0, 200), kWorkspace);
}

TEST(ToneZonePainter, GreyLookTwoRowsWithDividerAndEmptyCell) {
    const Painted p = Paint({700, 501}, 37, {true, false, false});
    EXPECT_FLOAT_EQ(p.Reciprocal, 1.0f / 36);
    EXPECT_EQ(At(p, 100, 250), kWorkspace);          // the divider
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
    EXPECT_NE(At(p, 100, 250), kWorkspace);       // no divider
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
