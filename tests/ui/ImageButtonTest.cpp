#include "ui/ImageButton.h"

#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace varko;

namespace {

QImage Square(int size, QColor c, int alpha = 255) {
    QImage img(size, size, QImage::Format_ARGB32);
    c.setAlpha(alpha);
    img.fill(c);
    return img;
}

QImage Grab(TImageButton& b) {
    QImage img(b.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    b.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
    return img;
}

struct ImageButtonTest : ::testing::Test {
    std::unique_ptr<QWidget> Host = std::make_unique<QWidget>();
    TImageButton* Button = new TImageButton(Host.get());
    void SetUp() override {
        Host->resize(200, 200);
        Button->SetButtonStyle(TImageButtonStyle::pbsNoFrame);
        Button->setGeometry(10, 10, 50, 50);
        Host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Host.get()));
    }
};

} // namespace

TEST(ImageButtonDefaults, StartValues) {
    TImageButton b;
    EXPECT_EQ(b.size(), QSize(23, 23));
    EXPECT_EQ(b.ButtonStyle(), TImageButtonStyle::pbsDefault);
    EXPECT_EQ(b.ButtonLayout(), TImageButtonLayout::pbsImageAbove);
    EXPECT_TRUE(b.SlideWhenDown());
    EXPECT_EQ(b.State(), TButtonState::bsUp);
}

TEST(ImageButtonDefaults, DisabledImageHasAThirdOfTheAlpha) {
    QImage img(4, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(10, 20, 30, 255));
    img.setPixel(1, 0, qRgba(10, 20, 30, 200));
    img.setPixel(2, 0, qRgba(10, 20, 30, 2));
    img.setPixel(3, 0, qRgba(10, 20, 30, 0));
    const QImage d = MakeDisabledImage(img);
    EXPECT_EQ(qAlpha(d.pixel(0, 0)), 85);
    EXPECT_EQ(qAlpha(d.pixel(1, 0)), 66);
    EXPECT_EQ(qAlpha(d.pixel(2, 0)), 0);
    EXPECT_EQ(qRed(d.pixel(0, 0)), 10);
    // No alpha channel: treated as opaque.
    QImage rgb(1, 1, QImage::Format_RGB32);
    rgb.fill(Qt::white);
    EXPECT_EQ(qAlpha(MakeDisabledImage(rgb).pixel(0, 0)), 85);
    // Palette images stay as they are.
    QImage pal = rgb.convertToFormat(QImage::Format_Indexed8);
    EXPECT_EQ(MakeDisabledImage(pal).format(), QImage::Format_Indexed8);
}

TEST_F(ImageButtonTest, OnlyImageNormalShowsInEveryState) {
    const QImage normal = Square(50, QColor(200, 40, 40));
    Button->SetImageNormal(normal);
    EXPECT_EQ(Button->ImagePosition(), QPoint(0, 0)); // 50x50 image, 50x50 button
    EXPECT_EQ(Grab(*Button).pixel(0, 0), normal.pixel(0, 0));
    EXPECT_EQ(Grab(*Button).pixel(49, 49), normal.pixel(0, 0));

    QTest::mouseMove(Button, QPoint(25, 25));
    EXPECT_EQ(&Button->CurrentImage(), &Button->ImageNormal());
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_TRUE(Button->Pressed());
    EXPECT_EQ(&Button->CurrentImage(), &Button->ImageNormal());
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(25, 25));

    Button->setEnabled(false);
    EXPECT_EQ(Button->State(), TButtonState::bsDisabled);
    const QImage disabled = Grab(*Button);
    EXPECT_EQ(qAlpha(disabled.pixel(25, 25)), 85);
    EXPECT_EQ(qRed(disabled.pixel(25, 25)), 200);
    Button->setEnabled(true);
    EXPECT_EQ(Button->State(), TButtonState::bsUp);
    EXPECT_EQ(qAlpha(Grab(*Button).pixel(25, 25)), 255);
}

TEST_F(ImageButtonTest, PressedShowsImageDownOnlyWhilePointerIsOver) {
    Button->SetImageNormal(Square(50, Qt::red));
    Button->SetImageDown(Square(50, Qt::green));
    Button->SetImageOver(Square(50, Qt::blue));
    Button->SetSlideWhenDown(false);
    QTest::mouseMove(Button, QPoint(25, 25));
    EXPECT_TRUE(Button->MouseOver());
    EXPECT_EQ(QColor(Grab(*Button).pixel(25, 25)), QColor(Qt::blue));
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(QColor(Grab(*Button).pixel(25, 25)), QColor(Qt::green));
    // Dragged off while held: still down, but the rest look.
    QTest::mouseMove(Button, QPoint(120, 120));
    EXPECT_EQ(Button->State(), TButtonState::bsDown);
    EXPECT_FALSE(Button->Pressed());
    QTest::mouseMove(Button, QPoint(20, 20));
    EXPECT_TRUE(Button->Pressed());
}

TEST_F(ImageButtonTest, SlideOffsetsPerLayout) {
    Button->setGeometry(10, 10, 80, 80);
    Button->SetImageNormal(Square(20, Qt::red));
    Button->SetCaption(QStringLiteral("Go"));
    struct Case {
        TImageButtonLayout Layout;
        QPoint Shift;
    };
    for (const Case& c : {Case{TImageButtonLayout::pbsImageAbove, {2, 2}},
                          Case{TImageButtonLayout::pbsImageBellow, {2, 2}},
                          Case{TImageButtonLayout::pbsImageLeft, {0, 2}},
                          Case{TImageButtonLayout::pbsImageRight, {0, 2}}}) {
        SCOPED_TRACE(static_cast<int>(c.Layout));
        Button->SetButtonLayout(c.Layout);
        const QPoint image = Button->ImagePosition();
        const QPoint caption = Button->CaptionPosition();
        QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(40, 40));
        ASSERT_TRUE(Button->Pressed());
        EXPECT_EQ(Button->ImagePosition() - image, c.Shift);
        EXPECT_EQ(Button->CaptionPosition() - caption, c.Shift);
        // The picture really moved.
        const QImage down = Grab(*Button);
        EXPECT_EQ(QColor(down.pixel(Button->ImagePosition())), QColor(Qt::red));
        QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(40, 40));
    }
    // Image above the caption, centred, 4-pixel gap.
    Button->SetButtonLayout(TImageButtonLayout::pbsImageAbove);
    EXPECT_EQ(Button->CaptionPosition().y() - Button->ImagePosition().y(), 24);
    EXPECT_EQ(Button->ImagePosition().x(), 30);
    // Without sliding nothing moves.
    Button->SetSlideWhenDown(false);
    const QPoint image = Button->ImagePosition();
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(Button->ImagePosition(), image);
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(40, 40));
}

TEST_F(ImageButtonTest, RightButtonDoesNotPressAndClickComesBeforeMouseUp) {
    Button->SetImageNormal(Square(50, Qt::red));
    std::vector<std::string> order;
    Button->OnClick = [&](TImageButton*) { order.push_back("click"); };
    Button->OnMouseUp = [&](TImageButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        order.push_back("up");
    };
    Button->OnMouseDown = [&](TImageButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        order.push_back("down");
    };
    QTest::mousePress(Button, Qt::RightButton, {}, QPoint(25, 25));
    EXPECT_EQ(Button->State(), TButtonState::bsUp);
    QTest::mouseRelease(Button, Qt::RightButton, {}, QPoint(25, 25));
    EXPECT_EQ(order, (std::vector<std::string>{"down", "up"}));
    order.clear();
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(Button->State(), TButtonState::bsDown);
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(order, (std::vector<std::string>{"down", "click", "up"}));
    EXPECT_EQ(Button->State(), TButtonState::bsUp);
    // Released outside: no click.
    order.clear();
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(25, 25));
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(150, 150));
    EXPECT_EQ(order, (std::vector<std::string>{"down", "up"}));
    EXPECT_EQ(Button->State(), TButtonState::bsUp);
}

TEST_F(ImageButtonTest, AnyButtonsReleaseLetsAPressedButtonUp) {
    int clicks = 0;
    Button->OnClick = [&](TImageButton*) { ++clicks; };
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(25, 25));
    ASSERT_EQ(Button->State(), TButtonState::bsDown);
    QTest::mouseRelease(Button, Qt::RightButton, {}, QPoint(25, 25));
    EXPECT_EQ(Button->State(), TButtonState::bsUp);
    EXPECT_EQ(clicks, 0); // only a left release clicks
}

// Art drawn for another pixel ratio is resampled, never shown as blocks of repeated pixels.
TEST_F(ImageButtonTest, ArtOnADenserScreenIsNotPixelDoubled) {
    QImage art(50, 50, QImage::Format_ARGB32);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            art.setPixel(x, y, qRgba(x * 5, y * 5, (x * y) % 256, 255));
        }
    }
    Button->SetImageNormal(art);
    QImage shown(100, 100, QImage::Format_ARGB32);
    shown.setDevicePixelRatio(2.0);
    shown.fill(Qt::transparent);
    Button->render(&shown, QPoint(), QRegion(), QWidget::RenderFlags());
    int blocks = 0;
    int uniform = 0;
    for (int y = 0; y + 1 < 100; y += 2) {
        for (int x = 0; x + 1 < 100; x += 2) {
            ++blocks;
            const QRgb p = shown.pixel(x, y);
            uniform += p == shown.pixel(x + 1, y) && p == shown.pixel(x, y + 1) &&
                               p == shown.pixel(x + 1, y + 1)
                           ? 1
                           : 0;
        }
    }
    EXPECT_LT(uniform, blocks / 2);
}

TEST_F(ImageButtonTest, FramesDrawSomethingOnlyWhereTheyShould) {
    Button->SetImageNormal(Square(10, Qt::red));
    Button->SetButtonStyle(TImageButtonStyle::pbsDefault);
    EXPECT_GT(qAlpha(Grab(*Button).pixel(2, 25)), 0); // the push-button face
    Button->SetButtonStyle(TImageButtonStyle::pbsNoFrame);
    EXPECT_EQ(qAlpha(Grab(*Button).pixel(2, 25)), 0);
    Button->SetButtonStyle(TImageButtonStyle::pbsFlat);
    QTest::mouseMove(Host.get(), QPoint(150, 150));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Button, &leave);
    EXPECT_EQ(qAlpha(Grab(*Button).pixel(0, 25)), 0); // flat, pointer away: no frame
    QTest::mouseMove(Button, QPoint(25, 25));
    const QImage raised = Grab(*Button);
    EXPECT_EQ(raised.pixel(0, 25), Button->palette().color(QPalette::Light).rgb());
    EXPECT_EQ(raised.pixel(49, 25), Button->palette().color(QPalette::Dark).rgb());
    QTest::mousePress(Button, Qt::LeftButton, {}, QPoint(25, 25));
    const QImage sunken = Grab(*Button);
    EXPECT_EQ(sunken.pixel(0, 25), Button->palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(sunken.pixel(49, 25), Button->palette().color(QPalette::Light).rgb());
    QTest::mouseRelease(Button, Qt::LeftButton, {}, QPoint(25, 25));
}
