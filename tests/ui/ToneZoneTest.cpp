// The tone zone widget wired to the playing logic and the tablet as the window wires them.
#include "ui/ToneZone.h"
#include "ui/TabletEventSource.h"

#include <QApplication>
#include <QCursor>
#include <QPointingDevice>
#include <QTabletEvent>
#include <QTest>

#include "instrument/FakeTones.h"

#include <gtest/gtest.h>

#include <memory>

using namespace varko;

namespace {

using test::FakeTones;

struct ZoneTest : ::testing::Test {
    std::unique_ptr<TToneZone> Zone = std::make_unique<TToneZone>();
    FakeTones Tones{37};
    TPlaying Play{Tones};
    void SetUp() override {
        Zone->resize(700, 400);
        Zone->SetToneRatios(std::vector<float>(37, 1.0f));
        Zone->SetLook({false, false, false, {}});
        Zone->OnMouseMove = [this](int x, int y) {
            const QPointF c = QCursor::pos();
            Play.ToneZoneMouseMove(Zone->Geometry(), Zone->BarWidthReciprocal(), x, y,
                                   static_cast<float>(c.x()), static_cast<float>(c.y()));
        };
        Zone->OnMouseDown = [this](TMouseButton b, int, int) { Play.PointerDown(b); };
        Zone->OnMouseUp = [this](TMouseButton b, int, int) { Play.PointerUp(b); };
        Zone->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Zone.get()));
    }
};

} // namespace

TEST_F(ZoneTest, PaintsTheBarsAndKeepsTheirWidth) {
    EXPECT_FLOAT_EQ(Zone->BarWidthReciprocal(), 1.0f / 18);
    const QImage img = Zone->grab().toImage();
    EXPECT_EQ(QColor(img.pixel(5, 200)), QColor(152, 152, 152));
    EXPECT_EQ(QColor(img.pixel(23, 200)), QColor(222, 222, 222));
    EXPECT_EQ(QColor(img.pixel(680, 200)), QColor(Qt::black));
    // Two rows: the width follows at once, before the paint arrives.
    Zone->SetLook({true, false, false, {}});
    EXPECT_FLOAT_EQ(Zone->BarWidthReciprocal(), 1.0f / 36);
}

TEST_F(ZoneTest, MouseModeDragFromBarThreeToBarFour) {
    Play.MousePressure = true;
    QTest::mouseMove(Zone.get(), QPoint(3 * 18 + 5, 100));
    EXPECT_EQ(Play.CurrentBar, 3);
    QTest::mousePress(Zone.get(), Qt::LeftButton, {}, QPoint(3 * 18 + 5, 100));
    EXPECT_FLOAT_EQ(Tones.Pressure[3], 0.5f);
    QTest::mouseMove(Zone.get(), QPoint(4 * 18 + 5, 300));
    EXPECT_EQ(Play.CurrentBar, 4);
    EXPECT_FLOAT_EQ(Tones.Strike[4], 0.75f);
    EXPECT_EQ(Tones.Pressure[3], 0.0f);
    EXPECT_EQ(Tones.Pressure[4], 0.0f);
    QTest::mouseRelease(Zone.get(), Qt::LeftButton, {}, QPoint(4 * 18 + 5, 300));
    EXPECT_FALSE(Play.PenDown);
    // Right button: pressure and one step down the resonance fader.
    bool timers = false;
    Play.OnRezTimersChanged = [&] { timers = Play.RezDownTimerEnabled; };
    QTest::mousePress(Zone.get(), Qt::RightButton, {}, QPoint(4 * 18 + 5, 300));
    EXPECT_FLOAT_EQ(Tones.Pressure[4], 0.5f);
    EXPECT_EQ(Play.ResonanceFader(), 11);
    EXPECT_TRUE(timers);
    QTest::mouseRelease(Zone.get(), Qt::RightButton, {}, QPoint(4 * 18 + 5, 300));
    EXPECT_FALSE(timers);
}

TEST_F(ZoneTest, TabletPacketsFromPenEventsDriveTheCurrentBar) {
    TTabletEventSource source;
    source.SetDevice(true, "Test Pen");
    source.Attach(Zone.get());
    TTablet tablet(&source.Service());
    auto contextChanged = [&](TCustomTablet*, int32_t, int32_t) {
        LOGCONTEXTA c;
        tablet.GetContext(c);
        Play.TabletContextUpdate(c.lcInExtX, c.lcInExtY);
    };
    tablet.OnContextOpen = contextChanged;
    tablet.OnContextUpdate = contextChanged;
    tablet.OnPacket = [&](TCustomTablet*, uint32_t, HCTX, const void* p) {
        Play.PenSample(TTabletEventSource::PenSampleFromPacket(p));
    };
    ASSERT_TRUE(OpenVarkoContext(tablet));
    AXIS axis;
    tablet.GetPressureAxis(axis);
    Play.SetPressureAxisMax(axis.axMax);
    QCoreApplication::processEvents();
    ASSERT_GT(Play.TabletScaleX, 0.0f);

    static const QPointingDevice pen(
        QStringLiteral("Test Pen"), 4712, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    auto send = [&](QEvent::Type type, QPoint local, double pressure, Qt::MouseButtons buttons) {
        const QPointF global = Zone->mapToGlobal(QPointF(local));
        QTabletEvent e(type, &pen, QPointF(local), global, pressure, 0, 0, 0, 0, 0, Qt::NoModifier,
                       Qt::NoButton, buttons);
        QApplication::sendEvent(Zone.get(), &e);
    };
    QTest::mouseMove(Zone.get(), QPoint(100, 200)); // the bar comes from the mouse events
    ASSERT_EQ(Play.CurrentBar, 5);
    send(QEvent::TabletMove, {100, 200}, 0.0, Qt::NoButton);
    send(QEvent::TabletMove, {110, 200}, 0.0, Qt::NoButton); // hovering
    EXPECT_GT(Tones.Speed[5], 0.0f);
    EXPECT_EQ(Tones.Pressure[5], 0.0f);
    Play.PointerDown(TMouseButton::mbLeft); // the tip's mouse press
    send(QEvent::TabletMove, {110, 200}, 0.5, Qt::LeftButton);
    EXPECT_NEAR(Tones.Pressure[5], 0.5f, 1e-3);
    EXPECT_EQ(Play.PressureBarPosition, 512);
    tablet.Close();
}
