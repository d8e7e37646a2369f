#include "ui/TabletEventSource.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointingDevice>
#include <QScreen>
#include <QTabletEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace varko;

namespace {

const QPointingDevice& Stylus() {
    static const QPointingDevice pen(
        QStringLiteral("Test Pen"), 4711, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    return pen;
}

bool SendPen(QWidget& zone, QEvent::Type type, QPointF global, double pressure,
             Qt::MouseButtons buttons) {
    const QPointF local = zone.mapFromGlobal(global);
    QTabletEvent e(type, &Stylus(), local, global, pressure, 0, 0, 0, 0, 0, Qt::NoModifier,
                   type == QEvent::TabletMove ? Qt::NoButton : Qt::LeftButton, buttons);
    QApplication::sendEvent(&zone, &e);
    return e.isAccepted();
}

struct Got {
    std::vector<uint8_t> Bytes;
    int32_t Field(int offset) const {
        int32_t v = 0;
        std::memcpy(&v, Bytes.data() + offset, 4);
        return v;
    }
};

} // namespace

TEST(TabletEventSource, NoStylusMeansNoTablet) {
    TTabletEventSource source;
    source.SetDevice(false, {});
    TTablet tablet(&source.Service());
    EXPECT_FALSE(tablet.Present());
    EXPECT_EQ(tablet.DeviceName(), "");
    tablet.SetEnabled(true);
    EXPECT_FALSE(tablet.Enabled());
}

TEST(TabletEventSource, PenEventsReachOnPacketAsThe32BytePacket) {
    QWidget zone;
    zone.resize(300, 200);
    zone.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&zone));

    TTabletEventSource source;
    source.SetDevice(true, "Test Pen");
    source.Attach(&zone);
    TTablet tablet(&source.Service());
    ASSERT_TRUE(tablet.Present());
    EXPECT_EQ(tablet.DeviceName(), "Test Pen");

    LOGCONTEXTA context;
    tablet.OnContextOpen = [&](TCustomTablet*, int32_t, int32_t) { tablet.GetContext(context); };
    std::vector<Got> got;
    tablet.OnPacket = [&](TCustomTablet*, uint32_t, HCTX, const void* p) {
        const auto* b = static_cast<const uint8_t*>(p);
        got.push_back({std::vector<uint8_t>(b, b + 32)});
    };
    int cursorChanges = 0;
    tablet.OnCursorChanged = [&](TCustomTablet*, uint32_t, HCTX, const void* p) {
        EXPECT_EQ(static_cast<const TPacket*>(p)->pkCursor, 1u);
        ++cursorChanges;
    };
    bool entered = false;
    tablet.OnProximity = [&](TCustomTablet*, HCTX, bool e) { entered = e; };
    ASSERT_TRUE(OpenVarkoContext(tablet));
    QCoreApplication::processEvents(); // the posted context-open message
    const QRect desk = QGuiApplication::primaryScreen()->virtualGeometry();
    EXPECT_EQ(context.lcInExtX, desk.width() * 100);
    EXPECT_EQ(context.lcInExtY, desk.height() * 100);

    QEvent enter(QEvent::TabletEnterProximity);
    QApplication::sendEvent(qApp, &enter);
    EXPECT_TRUE(entered);

    const QPointF g = zone.mapToGlobal(QPointF(40.25, 60.5));
    // Left unaccepted, so that Qt goes on to deliver the mouse events.
    EXPECT_FALSE(SendPen(zone, QEvent::TabletPress, g, 0.5, Qt::LeftButton));
    SendPen(zone, QEvent::TabletMove, g + QPointF(10, 0), 1.0, Qt::LeftButton);
    SendPen(zone, QEvent::TabletRelease, g + QPointF(10, 0), 0.0, Qt::NoButton);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(cursorChanges, 1);                      // the first pen report only
    EXPECT_EQ(got[0].Field(0), 1);                    // cursor: pen
    EXPECT_EQ(got[0].Field(4), 1);                    // tip down
    EXPECT_EQ(got[0].Field(8), qRound(g.x() * 100));  // X
    EXPECT_EQ(got[0].Field(12), qRound(g.y() * 100)); // Y
    EXPECT_EQ(got[0].Field(16), 512);                 // pressure 0.5 of 1023
    EXPECT_EQ(got[0].Field(24), 900);                 // upright pen: altitude 90°
    EXPECT_EQ(got[1].Field(8) - got[0].Field(8), 1000);
    EXPECT_EQ(got[1].Field(16), 1023);
    EXPECT_EQ(got[2].Field(4), 0);
    EXPECT_EQ(got[2].Field(16), 0);

    // Disabled (mouse mode): nothing arrives.
    tablet.SetEnabled(false);
    SendPen(zone, QEvent::TabletMove, g, 0.3, Qt::LeftButton);
    EXPECT_EQ(got.size(), 3u);
    tablet.SetEnabled(true);
    // Pen events on other widgets are not the zone's.
    QWidget other;
    SendPen(other, QEvent::TabletMove, g, 0.3, Qt::LeftButton);
    EXPECT_EQ(got.size(), 3u);
    SendPen(zone, QEvent::TabletMove, g, 0.3, Qt::LeftButton);
    EXPECT_EQ(got.size(), 4u);

    QEvent leave(QEvent::TabletLeaveProximity);
    QApplication::sendEvent(qApp, &leave);
    EXPECT_FALSE(entered);
    tablet.Close();
}
