// Draws every picture the program carries (textures, toolbar buttons, badges, cursor, icons)
// and writes them as PNG files into the folder given on the command line.
// Output is deterministic: fixed seeds, shapes drawn from paths only (no fonts).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Small fixed generator so that every platform draws the same streaks.
class Rng {
public:
    explicit Rng(uint32_t seed) : state_(seed) {}
    double Next() { // 0 .. 1
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 16777216.0;
    }
    double Centered() { return Next() * 2.0 - 1.0; }

private:
    uint32_t state_;
};

struct Rgb {
    double R, G, B;
};

// ---- textures -------------------------------------------------------------------------

// A vertical bar of brushed metal: fine vertical streaks, brightest along the middle, darker
// towards all four edges. The channel means are then pulled onto the wanted average.
QImage MetalTexture(Rgb tint, Rgb average, uint32_t seed) {
    const int w = 201;
    const int h = 800;
    Rng rng(seed);
    std::vector<double> column(w);
    for (double& c : column) {
        c = 0.045 * rng.Centered();
    }
    // Smooth a little so streaks are a few pixels wide, then add single-pixel grain.
    std::vector<double> streak(w);
    for (int x = 0; x < w; ++x) {
        const double l = column[std::max(0, x - 1)];
        const double r = column[std::min(w - 1, x + 1)];
        streak[x] = 0.5 * column[x] + 0.25 * (l + r) + 0.02 * rng.Centered();
    }
    // Slow variation along each streak.
    std::vector<double> phase(w);
    for (double& p : phase) {
        p = rng.Next() * 6.2831853;
    }

    std::vector<Rgb> px(static_cast<size_t>(w) * h);
    Rgb sum{0, 0, 0};
    for (int y = 0; y < h; ++y) {
        const double v = std::abs(y - (h - 1) / 2.0) / ((h - 1) / 2.0);
        const double fy = 1.0 - 0.43 * std::pow(v, 12.0);
        for (int x = 0; x < w; ++x) {
            const double u = std::abs(x - (w - 1) / 2.0) / ((w - 1) / 2.0);
            const double fx = 1.0 - 0.43 * std::pow(u, 4.0);
            const double grain = 0.012 * rng.Centered();
            const double wave = 0.015 * std::sin(y * 0.011 + phase[x]);
            const double k = fx * fy * (1.0 + streak[x] + wave + grain);
            Rgb& p = px[static_cast<size_t>(y) * w + x];
            p = {tint.R * k, tint.G * k, tint.B * k};
            sum.R += p.R;
            sum.G += p.G;
            sum.B += p.B;
        }
    }
    const double n = static_cast<double>(w) * h;
    const Rgb gain{average.R / (sum.R / n), average.G / (sum.G / n), average.B / (sum.B / n)};
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        uchar* line = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const Rgb& p = px[static_cast<size_t>(y) * w + x];
            line[3 * x + 0] = static_cast<uchar>(std::clamp(std::lround(p.R * gain.R), 0L, 255L));
            line[3 * x + 1] = static_cast<uchar>(std::clamp(std::lround(p.G * gain.G), 0L, 255L));
            line[3 * x + 2] = static_cast<uchar>(std::clamp(std::lround(p.B * gain.B), 0L, 255L));
        }
    }
    return img;
}

// ---- shared drawing helpers -----------------------------------------------------------

QPainterPath Stroke(const QPainterPath& path, double width, Qt::PenCapStyle cap = Qt::RoundCap) {
    QPainterPathStroker s;
    s.setWidth(width);
    s.setCapStyle(cap);
    s.setJoinStyle(Qt::RoundJoin);
    return s.createStroke(path).simplified();
}

QImage Blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

// Box blur of the alpha channel, three passes (close to a Gaussian).
QImage BlurAlpha(const QImage& src, int radius) {
    const int w = src.width();
    const int h = src.height();
    std::vector<double> a(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            a[static_cast<size_t>(y) * w + x] = qAlpha(src.pixel(x, y));
        }
    }
    std::vector<double> t(a.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int xx = std::clamp(x + k, 0, w - 1);
                    s += a[static_cast<size_t>(y) * w + xx];
                }
                t[static_cast<size_t>(y) * w + x] = s / (2 * radius + 1);
            }
        }
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int k = -radius; k <= radius; ++k) {
                    const int yy = std::clamp(y + k, 0, h - 1);
                    s += t[static_cast<size_t>(yy) * w + x];
                }
                a[static_cast<size_t>(y) * w + x] = s / (2 * radius + 1);
            }
        }
    }
    QImage out = Blank(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            out.setPixel(x, y,
                         qRgba(255, 255, 255, static_cast<int>(a[static_cast<size_t>(y) * w + x])));
        }
    }
    return out;
}

// A soft glow of the given colour around the path (in units of `scale` pixels; size in pixels).
void DrawHalo(QPainter& p, const QPainterPath& shape, QSize size, QColor color, int radius,
              double strength, double scale) {
    QImage mask = Blank(size.width(), size.height());
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.scale(scale, scale);
        m.fillPath(Stroke(shape, radius * 0.8).united(shape), Qt::white);
    }
    QImage blur = BlurAlpha(mask, static_cast<int>(std::lround(radius * scale)));
    QImage glow = Blank(size.width(), size.height());
    for (int y = 0; y < glow.height(); ++y) {
        for (int x = 0; x < glow.width(); ++x) {
            const int a = std::min(255, static_cast<int>(qAlpha(blur.pixel(x, y)) * strength));
            glow.setPixel(x, y, qRgba(color.red(), color.green(), color.blue(), a));
        }
    }
    p.save();
    p.resetTransform();
    p.drawImage(0, 0, glow);
    p.restore();
}

// Round brushed-metal disc with a dark ring: concentric grain around the centre. Centre, radius
// and ring in pixels; `scale` pixels make one unit of the grain, so every scale shows the same
// disc.
void DrawMetalDisc(QImage& img, QPointF c, double radius, uint32_t seed, double ring,
                   double scale = 1.0) {
    Rng rng(seed);
    std::vector<double> rings(static_cast<size_t>(radius * 4) + 8);
    for (double& r : rings) {
        r = rng.Centered();
    }
    QImage disc = Blank(img.width(), img.height());
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const double dx = x + 0.5 - c.x();
            const double dy = y + 0.5 - c.y();
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d > radius + 1) {
                continue;
            }
            const double cover = std::clamp(radius + 0.5 - d, 0.0, 1.0);
            // Light from the top left, concentric brushing, a bright sheen band.
            const double light = 0.5 - 0.5 * (dx + dy) / (radius * 1.414);
            const double grain = 0.06 * rings[static_cast<size_t>(d / scale * 2)];
            const double angle = std::atan2(dy, dx);
            const double sheen = 0.10 * std::cos(2.0 * angle + 0.8);
            const double v = std::clamp(0.62 + 0.22 * light + grain + sheen, 0.0, 1.0);
            const int g = static_cast<int>(v * 255);
            disc.setPixel(x, y, qRgba(g, g, std::min(255, g + 6), static_cast<int>(cover * 255)));
        }
    }
    QPainter p(&img);
    p.drawImage(0, 0, disc);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(58, 58, 62), ring));
    p.drawEllipse(c, radius - ring / 2, radius - ring / 2);
    p.setPen(QPen(QColor(255, 255, 255, 90), scale));
    p.drawEllipse(c, radius - ring - 0.5 * scale, radius - ring - 0.5 * scale);
}

// ---- symbols, drawn in a 24 x 24 box centred on (0, 0) -----------------------------------

QPainterPath Folder() {
    QPainterPath back;
    back.moveTo(-11, -8);
    back.lineTo(-4, -8);
    back.lineTo(-2, -5);
    back.lineTo(10, -5);
    back.lineTo(10, 8);
    back.lineTo(-11, 8);
    back.closeSubpath();
    QPainterPath front;
    front.moveTo(-11, 8);
    front.lineTo(-7, -1);
    front.lineTo(13, -1);
    front.lineTo(10, 8);
    front.closeSubpath();
    QPainterPath gap = Stroke(front, 1.6, Qt::FlatCap);
    return back.subtracted(gap).united(front.subtracted(Stroke(front, 0.1)));
}

QPainterPath Calculator() {
    QPainterPath body;
    body.addRoundedRect(QRectF(-8, -11, 16, 22), 2, 2);
    QPainterPath holes;
    holes.addRect(QRectF(-5.5, -8.5, 11, 4.5));
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            holes.addRect(QRectF(-5.5 + c * 4, -1.5 + r * 4, 3, 3));
        }
    }
    return body.subtracted(holes);
}

// Digits as strokes so that no font is needed.
QPainterPath Three(QPointF o, double s) {
    QPainterPath p;
    p.moveTo(o + QPointF(-0.8, -1.6) * s);
    p.cubicTo(o + QPointF(-0.4, -2.3) * s, o + QPointF(1.0, -2.2) * s, o + QPointF(0.9, -1.2) * s);
    p.cubicTo(o + QPointF(0.85, -0.4) * s, o + QPointF(0.2, -0.1) * s, o + QPointF(-0.2, -0.1) * s);
    p.moveTo(o + QPointF(-0.2, -0.1) * s);
    p.cubicTo(o + QPointF(0.4, -0.1) * s, o + QPointF(1.1, 0.3) * s, o + QPointF(1.0, 1.1) * s);
    p.cubicTo(o + QPointF(0.9, 2.2) * s, o + QPointF(-0.6, 2.3) * s, o + QPointF(-1.0, 1.4) * s);
    return p;
}

QPainterPath Two(QPointF o, double s) {
    QPainterPath p;
    p.moveTo(o + QPointF(-0.9, -1.1) * s);
    p.cubicTo(o + QPointF(-0.8, -2.3) * s, o + QPointF(1.0, -2.3) * s, o + QPointF(0.95, -0.9) * s);
    p.cubicTo(o + QPointF(0.9, -0.2) * s, o + QPointF(0.2, 0.4) * s, o + QPointF(-1.0, 1.8) * s);
    p.lineTo(o + QPointF(1.1, 1.8) * s);
    return p;
}

QPainterPath Fraction() {
    QPainterPath lines = Three(QPointF(-5.5, -5), 2.6);
    lines.addPath(Two(QPointF(5.5, 5.5), 2.6));
    QPainterPath slash;
    slash.moveTo(5, -11);
    slash.lineTo(-5, 11);
    QPainterPath digits = Stroke(lines, 2.6);
    return digits.united(Stroke(slash, 2.2));
}

QPainterPath Gear(QPointF c, double outer, double inner, int teeth, double hole, double turn) {
    QPainterPath g;
    const double step = 2 * M_PI / teeth;
    for (int i = 0; i < teeth; ++i) {
        const double a = i * step + turn;
        const QPointF pts[4] = {
            c + QPointF(std::cos(a - step * 0.30), std::sin(a - step * 0.30)) * inner,
            c + QPointF(std::cos(a - step * 0.16), std::sin(a - step * 0.16)) * outer,
            c + QPointF(std::cos(a + step * 0.16), std::sin(a + step * 0.16)) * outer,
            c + QPointF(std::cos(a + step * 0.30), std::sin(a + step * 0.30)) * inner,
        };
        if (i == 0) {
            g.moveTo(pts[0]);
        } else {
            g.lineTo(pts[0]);
        }
        g.lineTo(pts[1]);
        g.lineTo(pts[2]);
        g.lineTo(pts[3]);
    }
    g.closeSubpath();
    QPainterPath h;
    h.addEllipse(c, hole, hole);
    return g.subtracted(h);
}

QPainterPath Gears() {
    QPainterPath a = Gear(QPointF(-3.5, -3), 9, 6.8, 8, 2.6, 0);
    QPainterPath b = Gear(QPointF(6, 6.5), 6.2, 4.6, 7, 1.8, 0.2);
    QPainterPath gap = Stroke(b, 2.0);
    return a.subtracted(gap).united(b);
}

QPainterPath Question() {
    QPainterPath hook;
    hook.moveTo(-5, -4.5);
    hook.cubicTo(-5, -11, 6, -11, 6, -5);
    hook.cubicTo(6, -1.5, 0.5, -1, 0.5, 3);
    QPainterPath q = Stroke(hook, 3.4);
    QPainterPath dot;
    dot.addEllipse(QPointF(0.5, 8.5), 2.2, 2.2);
    return q.united(dot);
}

QPainterPath Speaker() {
    QPainterPath box;
    box.moveTo(-11, -3.5);
    box.lineTo(-6.5, -3.5);
    box.lineTo(0, -9.5);
    box.lineTo(0, 9.5);
    box.lineTo(-6.5, 3.5);
    box.lineTo(-11, 3.5);
    box.closeSubpath();
    QPainterPath waves;
    waves.arcMoveTo(QRectF(-4, -5, 10, 10), 45);
    waves.arcTo(QRectF(-4, -5, 10, 10), 45, -90);
    waves.arcMoveTo(QRectF(-6, -9, 18, 18), 45);
    waves.arcTo(QRectF(-6, -9, 18, 18), 45, -90);
    return box.united(Stroke(waves, 2.0, Qt::FlatCap));
}

QPainterPath Dot() {
    QPainterPath p;
    p.addEllipse(QPointF(0, 0), 8.5, 8.5);
    return p;
}

QPainterPath PlayTriangle() {
    QPainterPath p;
    p.moveTo(-6, -9.5);
    p.lineTo(10, 0);
    p.lineTo(-6, 9.5);
    p.closeSubpath();
    return p;
}

QPainterPath StopSquare() {
    QPainterPath p;
    p.addRoundedRect(QRectF(-7.5, -7.5, 15, 15), 1.5, 1.5);
    return p;
}

// A toolbar button: metal disc, dark ring, the symbol; pressed adds a glow. 50 x 50 units of
// `scale` pixels.
QImage ToolButton(const QPainterPath& symbol, QColor ink, bool glow, QColor glowColor,
                  uint32_t seed, double scale) {
    QImage img = Blank(static_cast<int>(50 * scale), static_cast<int>(50 * scale));
    DrawMetalDisc(img, QPointF(25, 25) * scale, 23 * scale, seed, 2.2 * scale, scale);
    QPainterPath s = symbol;
    s.translate(25, 25);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    if (glow) {
        DrawHalo(p, s, img.size(), glowColor, 3, 1.6, scale);
        p.fillPath(Stroke(s, 1.4), glowColor.lighter(115));
        p.fillPath(s, ink);
    } else {
        // A faint engraved highlight under the symbol.
        QPainterPath lit = s;
        lit.translate(0.7, 0.7);
        p.fillPath(lit, QColor(255, 255, 255, 110));
        p.fillPath(s, ink);
    }
    return img;
}

// ---- badges ------------------------------------------------------------------------------

QImage Badge(uint32_t seed, double scale) {
    QImage img = Blank(static_cast<int>(128 * scale), static_cast<int>(129 * scale));
    DrawMetalDisc(img, QPointF(64, 64.5) * scale, 60 * scale, seed, 4.0 * scale, scale);
    return img;
}

QImage BombBadge(double scale) {
    QImage img = Badge(31, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const QPointF c(58, 72);
    QRadialGradient body(c + QPointF(-9, -9), 34);
    body.setColorAt(0, QColor(110, 110, 118));
    body.setColorAt(0.35, QColor(35, 35, 40));
    body.setColorAt(1, QColor(8, 8, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(c, 28, 28);
    p.setBrush(QColor(30, 30, 34));
    p.drawRect(QRectF(70, 36, 14, 12).translated(-4, 0));
    p.save();
    p.translate(77, 43);
    p.rotate(45);
    p.drawRect(QRectF(-7, -6, 14, 12));
    p.restore();
    QPainterPath fuse;
    fuse.moveTo(82, 37);
    fuse.cubicTo(88, 28, 94, 34, 98, 24);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(150, 120, 70), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(fuse);
    // The flame at the fuse's end, with sparks.
    QPainterPath flame;
    flame.moveTo(98, 10);
    flame.cubicTo(106, 18, 105, 26, 98, 28);
    flame.cubicTo(91, 26, 91, 18, 98, 10);
    p.setPen(Qt::NoPen);
    p.fillPath(flame, QColor(255, 140, 0));
    QPainterPath core;
    core.addEllipse(QPointF(98, 23), 3.5, 4.5);
    p.fillPath(core, QColor(255, 240, 120));
    p.setPen(QPen(QColor(255, 200, 40), 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 7; ++i) {
        const double a = i * 2 * M_PI / 7 + 0.4;
        const QPointF from = QPointF(98, 22) + QPointF(std::cos(a), std::sin(a)) * 9;
        const QPointF to = QPointF(98, 22) + QPointF(std::cos(a), std::sin(a)) * 14;
        p.drawLine(from, to);
    }
    p.setBrush(QColor(255, 255, 255, 120));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c + QPointF(-12, -12), 6, 4);
    return img;
}

QImage ExclamationBadge(double scale) {
    QImage img = Badge(32, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QPainterPath bar;
    bar.moveTo(56, 24);
    bar.lineTo(72, 24);
    bar.lineTo(68, 84);
    bar.lineTo(60, 84);
    bar.closeSubpath();
    QPainterPath dot;
    dot.addEllipse(QPointF(64, 101), 8.5, 8.5);
    QPainterPath mark = Stroke(bar, 2.5).united(bar).united(dot);
    p.fillPath(Stroke(mark, 3.0).united(mark), QColor(100, 0, 0));
    QLinearGradient red(0, 24, 0, 110);
    red.setColorAt(0, QColor(255, 70, 60));
    red.setColorAt(1, QColor(190, 0, 0));
    p.fillPath(mark, red);
    return img;
}

QImage InfoBadge(double scale) {
    QImage img = Badge(33, scale);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QPainterPath dot;
    dot.addEllipse(QPointF(65, 33), 9, 9);
    QPainterPath stem;
    stem.moveTo(50, 52);
    stem.lineTo(72, 52);
    stem.lineTo(72, 96);
    stem.lineTo(80, 96);
    stem.lineTo(80, 104);
    stem.lineTo(48, 104);
    stem.lineTo(48, 96);
    stem.lineTo(57, 96);
    stem.lineTo(57, 60);
    stem.lineTo(50, 60);
    stem.closeSubpath();
    QPainterPath letter = stem.united(dot);
    p.fillPath(Stroke(letter, 3.0).united(letter), QColor(120, 55, 0));
    QLinearGradient orange(0, 24, 0, 104);
    orange.setColorAt(0, QColor(255, 180, 50));
    orange.setColorAt(1, QColor(235, 110, 0));
    p.fillPath(letter, orange);
    return img;
}

// ---- cursor and icons --------------------------------------------------------------------

// A pen lying diagonally with its tip at the top left (hot spot 2, 3).
QImage PenCursor(double scale = 1.0) {
    QImage img = Blank(static_cast<int>(32 * scale), static_cast<int>(32 * scale));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.translate(2.5, 3.5);
    p.rotate(45);
    QPainterPath pen;
    pen.moveTo(0, 0);
    pen.lineTo(7, -3.2);
    pen.lineTo(36, -3.2);
    pen.lineTo(38, 0);
    pen.lineTo(36, 3.2);
    pen.lineTo(7, 3.2);
    pen.closeSubpath();
    p.fillPath(Stroke(pen, 3.0).united(pen), Qt::white);
    p.fillPath(pen, Qt::black);
    p.setPen(QPen(Qt::white, 1.0));
    p.drawLine(QPointF(7, -3.2), QPointF(7, 3.2));
    p.drawLine(QPointF(30, -3.2), QPointF(30, 3.2));
    return img;
}

QImage WarningIcon(double scale) {
    QImage img = Blank(static_cast<int>(16 * scale), static_cast<int>(16 * scale));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QPainterPath tri;
    tri.moveTo(8, 1);
    tri.lineTo(15.2, 14.5);
    tri.lineTo(0.8, 14.5);
    tri.closeSubpath();
    p.fillPath(Stroke(tri, 1.2).united(tri), QColor(140, 100, 0));
    p.fillPath(tri, QColor(255, 210, 30));
    p.fillRect(QRectF(7.1, 5, 1.8, 5.2), Qt::black);
    p.fillRect(QRectF(7.1, 11.2, 1.8, 1.8), Qt::black);
    return img;
}

QImage InfoIcon(double scale) {
    QImage img = Blank(static_cast<int>(16 * scale), static_cast<int>(16 * scale));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.setPen(QPen(QColor(20, 60, 140), 1.0));
    p.setBrush(QColor(40, 110, 220));
    p.drawEllipse(QPointF(8, 8), 7, 7);
    p.fillRect(QRectF(7.1, 6.5, 1.8, 6), Qt::white);
    p.fillRect(QRectF(7.1, 3.5, 1.8, 1.8), Qt::white);
    return img;
}

// Metal bars in the textures' tints under a pen: the program's emblem.
void DrawBars(QPainter& p, QRectF area, const std::array<QImage, 3>& tex, int count) {
    const double w = area.width() / count;
    for (int i = 0; i < count; ++i) {
        const double h = area.height() * (1.0 - 0.05 * i);
        p.drawImage(QRectF(area.left() + i * w + 1, area.bottom() - h, w - 2, h), tex[i % 3]);
    }
}

QImage AppIcon(const std::array<QImage, 3>& tex) {
    QImage img = Blank(256, 256);
    DrawMetalDisc(img, QPointF(128, 128), 124, 41, 8);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addEllipse(QPointF(128, 128), 100, 100);
    p.setClipPath(clip);
    p.fillRect(QRectF(20, 20, 216, 216), Qt::black);
    DrawBars(p, QRectF(40, 40, 176, 176), tex, 8);
    p.setClipping(false);
    QImage pen = PenCursor().scaled(128, 128, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    p.drawImage(QPointF(118, 100), pen);
    return img;
}

QImage AboutArt(const std::array<QImage, 3>& tex, double scale) {
    QImage img(static_cast<int>(203 * scale), static_cast<int>(205 * scale), QImage::Format_ARGB32);
    img.fill(QColor(24, 24, 28));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
    DrawBars(p, QRectF(10, 30, 183, 165), tex, 12);
    // Sound waves rising from the bars.
    p.setPen(QPen(QColor(0, 220, 255, 200), 2.0));
    for (int i = 0; i < 4; ++i) {
        QPainterPath wave;
        const double y = 14 + i * 5;
        wave.moveTo(10, y);
        for (int x = 10; x <= 193; x += 2) {
            wave.lineTo(x, y + 4 * std::sin(x * 0.09 + i));
        }
        p.drawPath(wave);
    }
    const int penSize = static_cast<int>(110 * scale);
    QImage pen =
        PenCursor().scaled(penSize, penSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    p.drawImage(QRectF(78, 70, 110, 110), pen);
    return img;
}

// help and restart: the buttons drawn at the same scale.
QImage LoadCutout(const QImage& help, const QImage& restart, double scale) {
    QImage img(static_cast<int>(107 * scale), static_cast<int>(57 * scale), QImage::Format_ARGB32);
    img.fill(QColor(218, 218, 218));
    QPainter p(&img);
    p.scale(scale, scale);
    p.drawImage(QRectF(4, 3, 50, 50), help);
    p.drawImage(QRectF(52, 3, 50, 50), restart);
    p.setPen(QColor(160, 160, 160));
    p.drawLine(0, 53, 106, 53);
    p.fillRect(QRect(0, 54, 107, 3), QColor(240, 240, 240));
    p.setPen(QColor(128, 128, 128));
    p.drawRect(0, 0, 106, 56);
    return img;
}

bool Save(const QImage& img, const std::string& dir, const char* name) {
    const std::string path = dir + "/" + name;
    if (!img.save(QString::fromStdString(path), "PNG")) {
        std::fprintf(stderr, "artgen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varko-artgen OUTPUT_FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string dir = argv[1];

    const std::array<QImage, 3> tex = {
        MetalTexture({205, 198, 198}, {182, 176, 176}, 1),
        MetalTexture({182, 190, 194}, {162, 169, 172}, 2),
        MetalTexture({198, 202, 194}, {176, 180, 173}, 3),
    };
    bool ok = Save(tex[0], dir, "metal1.png") && Save(tex[1], dir, "metal2.png") &&
              Save(tex[2], dir, "metal3.png");

    const QColor ink(62, 62, 66);
    const QColor cyanInk(200, 255, 255);
    const QColor cyan(0, 215, 255);
    struct Btn {
        const char* Name;
        QPainterPath Symbol;
    };
    const Btn buttons[] = {{"openscale", Folder()},
                           {"parameters", Calculator()},
                           {"contents", Fraction()},
                           {"settings", Gears()},
                           {"help", Question()}};
    // Every picture the window shows at its own size comes twice: as drawn, and at twice the
    // pixels ("@2x") for screens that scale the window.
    for (const double scale : {1.0, 2.0}) {
        const std::string at = scale > 1.0 ? "@2x" : "";
        auto name = [&](const char* base) { return std::string(base) + at + ".png"; };
        uint32_t seed = 11;
        QImage helpRest;
        for (const Btn& b : buttons) {
            const QImage rest = ToolButton(b.Symbol, ink, false, cyan, seed, scale);
            const QImage down = ToolButton(b.Symbol, cyanInk, true, cyan, seed, scale);
            if (std::string(b.Name) == "help") {
                helpRest = rest;
            }
            ok = ok && Save(rest, dir, name(b.Name).c_str());
            ok = ok && Save(down, dir, name((std::string(b.Name) + "_down").c_str()).c_str());
            ++seed;
        }
        const QImage restartRest =
            ToolButton(Speaker(), QColor(205, 25, 25), false, cyan, seed, scale);
        const QImage restartDown =
            ToolButton(Speaker(), QColor(190, 255, 190), true, QColor(40, 230, 60), seed, scale);
        ok = ok && Save(restartRest, dir, name("restart").c_str()) &&
             Save(restartDown, dir, name("restart_down").c_str());
        ++seed;
        // Record: a dark dot at rest, a red one while recording.
        const QColor red(205, 25, 25);
        ok = ok &&
             Save(ToolButton(Dot(), ink, false, cyan, seed, scale), dir, name("record").c_str()) &&
             Save(ToolButton(Dot(), cyanInk, true, cyan, seed, scale), dir,
                  name("record_down").c_str()) &&
             Save(ToolButton(Dot(), red, true, QColor(255, 80, 60), seed, scale), dir,
                  name("record_on").c_str());
        ++seed;
        // Replay: a play triangle, and a stop square while a replay runs.
        ok = ok &&
             Save(ToolButton(PlayTriangle(), ink, false, cyan, seed, scale), dir,
                  name("replay").c_str()) &&
             Save(ToolButton(PlayTriangle(), cyanInk, true, cyan, seed, scale), dir,
                  name("replay_down").c_str()) &&
             Save(ToolButton(StopSquare(), ink, false, cyan, seed, scale), dir,
                  name("replay_stop").c_str()) &&
             Save(ToolButton(StopSquare(), cyanInk, true, cyan, seed, scale), dir,
                  name("replay_stop_down").c_str());

        ok = ok && Save(BombBadge(scale), dir, name("badge_crash").c_str()) &&
             Save(ExclamationBadge(scale), dir, name("badge_warning").c_str()) &&
             Save(InfoBadge(scale), dir, name("badge_info").c_str()) &&
             Save(LoadCutout(helpRest, restartRest, scale), dir, name("load_toolbar").c_str()) &&
             Save(AboutArt(tex, scale), dir, name("about").c_str()) &&
             Save(PenCursor(scale), dir, name("pencursor").c_str()) &&
             Save(WarningIcon(scale), dir, name("warning16").c_str()) &&
             Save(InfoIcon(scale), dir, name("info16").c_str());
    }
    ok = ok && Save(AppIcon(tex), dir, "varko.png");
    return ok ? 0 : 1;
}
