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
    std::unique_ptr<QWidget> host = std::make_unique<QWidget>();
    TImageButton* button = new TImageButton(host.get());
    void SetUp() override {
        host->resize(200, 200);
        button->SetButtonStyle(TImageButtonStyle::pbsNoFrame);
        button->setGeometry(10, 10, 50, 50);
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
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
    button->SetImageNormal(normal);
    EXPECT_EQ(button->ImagePosition(), QPoint(0, 0)); // 50x50 image, 50x50 button
    EXPECT_EQ(Grab(*button).pixel(0, 0), normal.pixel(0, 0));
    EXPECT_EQ(Grab(*button).pixel(49, 49), normal.pixel(0, 0));

    QTest::mouseMove(button, QPoint(25, 25));
    EXPECT_EQ(&button->CurrentImage(), &button->ImageNormal());
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_TRUE(button->Pressed());
    EXPECT_EQ(&button->CurrentImage(), &button->ImageNormal());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(25, 25));

    button->setEnabled(false);
    EXPECT_EQ(button->State(), TButtonState::bsDisabled);
    const QImage disabled = Grab(*button);
    EXPECT_EQ(qAlpha(disabled.pixel(25, 25)), 85);
    EXPECT_EQ(qRed(disabled.pixel(25, 25)), 200);
    button->setEnabled(true);
    EXPECT_EQ(button->State(), TButtonState::bsUp);
    EXPECT_EQ(qAlpha(Grab(*button).pixel(25, 25)), 255);
}

TEST_F(ImageButtonTest, PressedShowsImageDownOnlyWhilePointerIsOver) {
    button->SetImageNormal(Square(50, Qt::red));
    button->SetImageDown(Square(50, Qt::green));
    button->SetImageOver(Square(50, Qt::blue));
    button->SetSlideWhenDown(false);
    QTest::mouseMove(button, QPoint(25, 25));
    EXPECT_TRUE(button->MouseOver());
    EXPECT_EQ(QColor(Grab(*button).pixel(25, 25)), QColor(Qt::blue));
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(QColor(Grab(*button).pixel(25, 25)), QColor(Qt::green));
    // Dragged off while held: still down, but the rest look.
    QTest::mouseMove(button, QPoint(120, 120));
    EXPECT_EQ(button->State(), TButtonState::bsDown);
    EXPECT_FALSE(button->Pressed());
    QTest::mouseMove(button, QPoint(20, 20));
    EXPECT_TRUE(button->Pressed());
}

TEST_F(ImageButtonTest, SlideOffsetsPerLayout) {
    button->setGeometry(10, 10, 80, 80);
    button->SetImageNormal(Square(20, Qt::red));
    button->SetCaption(QStringLiteral("Go"));
    struct Case {
        TImageButtonLayout Layout;
        QPoint Shift;
    };
    for (const Case& c : {Case{TImageButtonLayout::pbsImageAbove, {2, 2}},
                          Case{TImageButtonLayout::pbsImageBellow, {2, 2}},
                          Case{TImageButtonLayout::pbsImageLeft, {0, 2}},
                          Case{TImageButtonLayout::pbsImageRight, {0, 2}}}) {
        SCOPED_TRACE(static_cast<int>(c.Layout));
        button->SetButtonLayout(c.Layout);
        const QPoint image = button->ImagePosition();
        const QPoint caption = button->CaptionPosition();
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 40));
        ASSERT_TRUE(button->Pressed());
        EXPECT_EQ(button->ImagePosition() - image, c.Shift);
        EXPECT_EQ(button->CaptionPosition() - caption, c.Shift);
        // The picture really moved.
        const QImage down = Grab(*button);
        EXPECT_EQ(QColor(down.pixel(button->ImagePosition())), QColor(Qt::red));
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 40));
    }
    // Image above the caption, centred, 4-pixel gap.
    button->SetButtonLayout(TImageButtonLayout::pbsImageAbove);
    EXPECT_EQ(button->CaptionPosition().y() - button->ImagePosition().y(), 24);
    EXPECT_EQ(button->ImagePosition().x(), 30);
    // Without sliding nothing moves.
    button->SetSlideWhenDown(false);
    const QPoint image = button->ImagePosition();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(button->ImagePosition(), image);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 40));
}

TEST_F(ImageButtonTest, RightButtonDoesNotPressAndClickComesBeforeMouseUp) {
    button->SetImageNormal(Square(50, Qt::red));
    std::vector<std::string> order;
    button->OnClick = [&](TImageButton*) { order.push_back("click"); };
    button->OnMouseUp = [&](TImageButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        order.push_back("up");
    };
    button->OnMouseDown = [&](TImageButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        order.push_back("down");
    };
    QTest::mousePress(button, Qt::RightButton, {}, QPoint(25, 25));
    EXPECT_EQ(button->State(), TButtonState::bsUp);
    QTest::mouseRelease(button, Qt::RightButton, {}, QPoint(25, 25));
    EXPECT_EQ(order, (std::vector<std::string>{"down", "up"}));
    order.clear();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(button->State(), TButtonState::bsDown);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(order, (std::vector<std::string>{"down", "click", "up"}));
    EXPECT_EQ(button->State(), TButtonState::bsUp);
    // Released outside: no click.
    order.clear();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(25, 25));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(150, 150));
    EXPECT_EQ(order, (std::vector<std::string>{"down", "up"}));
    EXPECT_EQ(button->State(), TButtonState::bsUp);
}

TEST_F(ImageButtonTest, AnyButtonsReleaseLetsAPressedButtonUp) {
    int clicks = 0;
    button->OnClick = [&](TImageButton*) { ++clicks; };
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(25, 25));
    ASSERT_EQ(button->State(), TButtonState::bsDown);
    QTest::mouseRelease(button, Qt::RightButton, {}, QPoint(25, 25));
    EXPECT_EQ(button->State(), TButtonState::bsUp);
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
    button->SetImageNormal(art);
    QImage shown(100, 100, QImage::Format_ARGB32);
    shown.setDevicePixelRatio(2.0);
    shown.fill(Qt::transparent);
    button->render(&shown, QPoint(), QRegion(), QWidget::RenderFlags());
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
    button->SetImageNormal(Square(10, Qt::red));
    button->SetButtonStyle(TImageButtonStyle::pbsDefault);
    EXPECT_GT(qAlpha(Grab(*button).pixel(2, 25)), 0); // the push-button face
    button->SetButtonStyle(TImageButtonStyle::pbsNoFrame);
    EXPECT_EQ(qAlpha(Grab(*button).pixel(2, 25)), 0);
    button->SetButtonStyle(TImageButtonStyle::pbsFlat);
    QTest::mouseMove(host.get(), QPoint(150, 150));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(qAlpha(Grab(*button).pixel(0, 25)), 0); // flat, pointer away: no frame
    QTest::mouseMove(button, QPoint(25, 25));
    const QImage raised = Grab(*button);
    EXPECT_EQ(raised.pixel(0, 25), button->palette().color(QPalette::Light).rgb());
    EXPECT_EQ(raised.pixel(49, 25), button->palette().color(QPalette::Dark).rgb());
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(25, 25));
    const QImage sunken = Grab(*button);
    EXPECT_EQ(sunken.pixel(0, 25), button->palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(sunken.pixel(49, 25), button->palette().color(QPalette::Light).rgb());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(25, 25));
}
