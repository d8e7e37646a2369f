// The committed pictures: sizes, PNG formats, and the textures' colours.
#include "ui/ImageButton.h"
#include "ui/Resources.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

using namespace varko;

namespace {

struct PngHeader {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int BitDepth = 0;
    int ColorType = 0; // 2 = RGB, 6 = RGBA
    int Interlace = 0;
};

uint32_t BigEndian(const QByteArray& b, int at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3]));
}

bool ReadHeader(const QString& path, PngHeader& h) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray b = f.read(33);
    if (b.size() < 33 || !b.startsWith("\x89PNG\r\n\x1a\n") || b.mid(12, 4) != "IHDR") {
        return false;
    }
    h.Width = BigEndian(b, 16);
    h.Height = BigEndian(b, 20);
    h.BitDepth = static_cast<uint8_t>(b[24]);
    h.ColorType = static_cast<uint8_t>(b[25]);
    h.Interlace = static_cast<uint8_t>(b[28]);
    return true;
}

struct Expected {
    const char* File;
    const char* Alias;
    int Width;
    int Height;
    int ColorType;
};

const Expected KPictures[] = {
    {"metal1.png", "metal1", 201, 800, 2},
    {"metal2.png", "metal2", 201, 800, 2},
    {"metal3.png", "metal3", 201, 800, 2},
    {"pencursor.png", "PENCURSOR", 32, 32, 6},
    {"openscale.png", "OpenScaleBtn", 50, 50, 6},
    {"openscale_down.png", "OpenScaleBtnDown", 50, 50, 6},
    {"parameters.png", "ParametersBtn", 50, 50, 6},
    {"parameters_down.png", "ParametersBtnDown", 50, 50, 6},
    {"contents.png", "ContentsBtn", 50, 50, 6},
    {"contents_down.png", "ContentsBtnDown", 50, 50, 6},
    {"settings.png", "SettingsBtn", 50, 50, 6},
    {"settings_down.png", "SettingsBtnDown", 50, 50, 6},
    {"help.png", "HelpBtn", 50, 50, 6},
    {"help_down.png", "HelpBtnDown", 50, 50, 6},
    {"restart.png", "RestartBtn", 50, 50, 6},
    {"restart_down.png", "RestartBtnDown", 50, 50, 6},
    {"record.png", "RecordBtn", 50, 50, 6},
    {"record_down.png", "RecordBtnDown", 50, 50, 6},
    {"record_on.png", "RecordBtnOn", 50, 50, 6},
    {"replay.png", "ReplayBtn", 50, 50, 6},
    {"replay_down.png", "ReplayBtnDown", 50, 50, 6},
    {"replay_stop.png", "ReplayBtnStop", 50, 50, 6},
    {"replay_stop_down.png", "ReplayBtnStopDown", 50, 50, 6},
    {"badge_crash.png", "BadgeCrash", 128, 129, 6},
    {"badge_warning.png", "BadgeWarning", 128, 129, 6},
    {"badge_info.png", "BadgeInfo", 128, 129, 6},
    {"load_toolbar.png", "LoadToolbar", 107, 57, 6},
    {"about.png", "About", 203, 205, 6},
    {"warning16.png", "Warning16", 16, 16, 6},
    {"info16.png", "Info16", 16, 16, 6},
    {"varko.png", "AppIcon", 256, 256, 6},
};

struct Mean {
    double R = 0, G = 0, B = 0;
};

Mean Average(const QImage& img, QRect area) {
    Mean m;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            m.R += qRed(p);
            m.G += qGreen(p);
            m.B += qBlue(p);
        }
    }
    const double n = static_cast<double>(area.width()) * area.height();
    return {m.R / n, m.G / n, m.B / n};
}

} // namespace

TEST(Art, CommittedPicturesHaveTheirSizesAndFormats) {
    for (const Expected& e : KPictures) {
        SCOPED_TRACE(e.File);
        PngHeader h;
        ASSERT_TRUE(ReadHeader(QStringLiteral(VARKO_IMAGES_DIR "/") + e.File, h));
        EXPECT_EQ(h.Width, static_cast<uint32_t>(e.Width));
        EXPECT_EQ(h.Height, static_cast<uint32_t>(e.Height));
        EXPECT_EQ(h.BitDepth, 8);
        EXPECT_EQ(h.ColorType, e.ColorType);
        EXPECT_EQ(h.Interlace, 0);
        // And the compiled-in copy is the same picture.
        const QImage img = ResourceImage(QString::fromLatin1(e.Alias));
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.size(), QSize(e.Width, e.Height));
        EXPECT_EQ(img.hasAlphaChannel(), e.ColorType == 6);
    }
}

TEST(Art, TexturesHaveTheirTintsAndShading) {
    const struct {
        const char* Alias;
        Mean Want;
    } textures[] = {
        {"metal1", {182, 176, 176}}, {"metal2", {162, 169, 172}}, {"metal3", {176, 180, 173}}};
    for (const auto& t : textures) {
        SCOPED_TRACE(t.Alias);
        const QImage img = ResourceImage(QString::fromLatin1(t.Alias));
        ASSERT_EQ(img.size(), QSize(201, 800));
        const Mean all = Average(img, img.rect());
        EXPECT_NEAR(all.R, t.Want.R, 3);
        EXPECT_NEAR(all.G, t.Want.G, 3);
        EXPECT_NEAR(all.B, t.Want.B, 3);
        // Darker at the corners than along the middle.
        const Mean corner = Average(img, QRect(0, 0, 3, 3));
        const Mean centre = Average(img, QRect(95, 395, 11, 11));
        EXPECT_LT(corner.R + corner.G + corner.B, 0.45 * (centre.R + centre.G + centre.B));
    }
    const QImage m1 = ResourceImage(QStringLiteral("metal1"));
    const Mean corner = Average(m1, QRect(0, 0, 2, 2));
    const Mean centre = Average(m1, QRect(90, 390, 21, 21));
    EXPECT_NEAR(corner.R, 66, 12);
    EXPECT_NEAR(corner.G, 64, 12);
    EXPECT_NEAR(centre.R, 205, 12);
    EXPECT_NEAR(centre.G, 200, 12);
    EXPECT_NEAR(centre.B, 200, 12);
}

TEST(Art, PenCursorHasItsTipAtTheHotSpot) {
    const QCursor c = PenCursor();
    EXPECT_EQ(c.hotSpot(), QPoint(2, 3));
    const QImage img = ResourceImage(QStringLiteral("PENCURSOR"));
    EXPECT_GT(qAlpha(img.pixel(3, 4)), 128); // the tip
    EXPECT_EQ(qAlpha(img.pixel(30, 1)), 0);  // nothing top right
    EXPECT_EQ(qAlpha(img.pixel(1, 30)), 0);  // nor bottom left
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    // Black with a white outline.
    const QRgb body = img.pixel(16, 16);
    EXPECT_LT(qRed(body) + qGreen(body) + qBlue(body), 60);
}

TEST(Art, ToolbarButtonsAreDiscsWithTransparentCorners) {
    for (const char* alias : {"OpenScaleBtn", "HelpBtnDown", "RestartBtn", "RestartBtnDown"}) {
        SCOPED_TRACE(alias);
        const QImage img = ResourceImage(QString::fromLatin1(alias));
        EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(img.pixel(49, 49)), 0);
        EXPECT_EQ(qAlpha(img.pixel(25, 3)), 255);
    }
    // The Restart symbol: red at rest, green when pressed.
    auto count = [](const QImage& img, auto pred) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                n += pred(img.pixel(x, y)) ? 1 : 0;
            }
        }
        return n;
    };
    const QImage rest = ResourceImage(QStringLiteral("RestartBtn"));
    const QImage down = ResourceImage(QStringLiteral("RestartBtnDown"));
    EXPECT_GT(count(rest, [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 80; }), 40);
    EXPECT_GT(count(down, [](QRgb p) { return qGreen(p) > 150 && qRed(p) < 120; }), 40);
    const QImage help = ResourceImage(QStringLiteral("HelpBtnDown"));
    EXPECT_GT(count(help, [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 120; }), 40);
}

// The art for dense screens: every picture shown at its own size also comes at twice the
// pixels, and it is the same picture (its half-size copy stays close to the plain one).
TEST(Art, FineArtIsTwiceAsLargeAndTheSamePicture) {
    for (const Expected& e : KPictures) {
        const QString alias = QString::fromLatin1(e.Alias);
        if (alias.startsWith(QStringLiteral("metal")) || alias == QStringLiteral("AppIcon")) {
            continue; // stretched to fit, or large already
        }
        SCOPED_TRACE(e.Alias);
        const QImage plain = ResourceImage(alias).convertToFormat(QImage::Format_ARGB32);
        const QImage fine = ResourceImage(alias + QStringLiteral("@2x"));
        ASSERT_EQ(fine.size(), plain.size() * 2);
        const QImage half =
            fine.scaled(plain.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_ARGB32);
        double difference = 0;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                const QRgb a = plain.pixel(x, y);
                const QRgb b = half.pixel(x, y);
                difference += std::abs(qAlpha(a) - qAlpha(b)) +
                              (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                               std::abs(qBlue(a) - qBlue(b))) *
                                  std::min(qAlpha(a), qAlpha(b)) / 255.0 / 3.0;
            }
        }
        EXPECT_LT(difference / (plain.width() * plain.height()), 24.0);
        // A screen of ratio 1 gets the plain picture, a denser one the fine one at ratio 2.
        EXPECT_EQ(ScreenImage(alias, 1.0).size(), plain.size());
        EXPECT_EQ(ScreenImage(alias, 1.5).size(), fine.size());
        EXPECT_EQ(ScreenImage(alias, 2.0).devicePixelRatio(), 2.0);
    }
}

TEST(Art, ToolbarButtonsGetTheirRestAndPressedImages) {
    for (const char* name :
         {"OpenScaleBtn", "ParametersBtn", "ContentsBtn", "SettingsBtn", "HelpBtn", "RestartBtn"}) {
        SCOPED_TRACE(name);
        TImageButton b;
        SetupToolbarButton(b, QString::fromLatin1(name));
        EXPECT_EQ(b.size(), QSize(50, 50));
        EXPECT_EQ(b.ImageNormal().size(), QSize(50, 50));
        EXPECT_EQ(b.ImageDown().size(), QSize(50, 50));
        EXPECT_NE(b.ImageNormal(), b.ImageDown());
        EXPECT_TRUE(b.ImageOver().isNull());
        EXPECT_EQ(b.ImagePosition(), QPoint(0, 0));
        // On a screen of ratio 2 the button keeps its size and place with four times the pixels.
        TImageButton fine;
        SetupToolbarButton(fine, QString::fromLatin1(name), 2.0);
        EXPECT_EQ(fine.ImageNormal().size(), QSize(100, 100));
        EXPECT_EQ(fine.ImagePosition(), QPoint(0, 0));
    }
}
