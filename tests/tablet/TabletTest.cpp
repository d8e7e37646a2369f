#include "tablet/Tablet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace varko;

namespace {

TWintabService PenService() {
    TWintabService s;
    s.Available = true;
    s.DeviceName = "Test Pen";
    s.PressureAxis = {0, 1023, 0, 0};
    s.DefaultContext.lcInExtX = 192000;
    s.DefaultContext.lcInExtY = 108000;
    return s;
}

TPacket MakePacket(int32_t x, int32_t y, uint32_t pressure) {
    TPacket p;
    p.pkCursor = 1;
    p.pkButtons = pressure > 0 ? 1 : 0;
    p.pkX = x;
    p.pkY = y;
    p.pkNormalPressure = pressure;
    p.pkOrientation = {900, 450, 0};
    return p;
}

struct Received {
    uint32_t Serial;
    HCTX Context;
    std::vector<uint8_t> Bytes;
};

} // namespace

TEST(Tablet, NoDriverIsInertAndKeepsEnabledFalse) {
    TTablet none(nullptr);
    EXPECT_FALSE(none.Present());
    EXPECT_EQ(none.DeviceName(), "");
    EXPECT_EQ(none.WintabID(), "");
    EXPECT_EQ(none.PacketRate(), 0);
    none.SetEnabled(true);
    EXPECT_FALSE(none.Enabled());
    none.SetPacketSize(32); // still works
    EXPECT_EQ(none.PacketSize(), 32);
    EXPECT_FALSE(OpenVarkoContext(none));

    // A driver whose service reports no device counts as none.
    TWintabService silent;
    TTablet t(&silent);
    EXPECT_FALSE(t.Present());
    t.SetEnabled(true);
    EXPECT_FALSE(t.Enabled());
}

TEST(Tablet, PressureAxisMaximumIsNeverZero) {
    TTablet none(nullptr);
    AXIS a{5, 5, 5, 5};
    none.GetPressureAxis(a);
    EXPECT_EQ(a.axMin, 0);
    EXPECT_EQ(a.axMax, 1);

    TWintabService s = PenService();
    s.PressureAxis = {0, 0, 0, 0};
    TTablet t(&s);
    t.GetPressureAxis(a);
    EXPECT_EQ(a.axMax, 1);
    s.PressureAxis = {0, 1023, 0, 0};
    t.GetPressureAxis(a);
    EXPECT_EQ(a.axMax, 1023);
}

TEST(Tablet, VarkoContextFromDefaults) {
    LOGCONTEXTA def;
    def.lcOptions = CXO_PEN;
    def.lcInExtX = 1234;
    def.lcPktData = PK_X;
    const LOGCONTEXTA c = MakeVarkoContext(def);
    EXPECT_EQ(c.lcOptions, CXO_PEN | 0x0Du);
    EXPECT_EQ(c.lcPktData, 0x15E0u);
    EXPECT_EQ(c.lcBtnDnMask, 7u);
    EXPECT_EQ(c.lcBtnUpMask, 7u);
    EXPECT_EQ(c.lcMsgBase, 0x7FF0u);
    EXPECT_EQ(c.lcInExtX, 1234);
}

TEST(Tablet, PacketsReachOnPacketWithTheirBytes) {
    TWintabService s = PenService();
    TTablet t(&s);
    ASSERT_TRUE(t.Present());
    EXPECT_EQ(t.DeviceName(), "Test Pen");

    int opened = 0;
    LOGCONTEXTA seen;
    t.OnContextOpen = [&](TCustomTablet*, int32_t handle, int32_t) {
        ++opened;
        EXPECT_EQ(static_cast<HCTX>(handle), t.ContextHandle());
        t.GetContext(seen);
    };
    std::vector<Received> got;
    t.OnPacket = [&](TCustomTablet* sender, uint32_t serial, HCTX ctx, const void* p) {
        EXPECT_EQ(sender, &t);
        const auto* b = static_cast<const uint8_t*>(p);
        got.push_back({serial, ctx, std::vector<uint8_t>(b, b + 32)});
    };
    ASSERT_TRUE(OpenVarkoContext(t));
    EXPECT_TRUE(t.Enabled());
    EXPECT_NE(t.ContextHandle(), 0u);
    EXPECT_EQ(opened, 0); // posted, not yet delivered
    s.DeliverMessages();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(seen.lcInExtX, 192000);
    EXPECT_EQ(seen.lcPktData, 0x15E0u);

    s.PenPacket(MakePacket(1000, -20, 512));
    s.PenPacket(MakePacket(2000, 30, 0));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Context, t.ContextHandle());
    EXPECT_LT(got[0].Serial, got[1].Serial);
    int32_t x = 0;
    int32_t y = 0;
    uint32_t pressure = 0;
    std::memcpy(&x, got[0].Bytes.data() + 8, 4);
    std::memcpy(&y, got[0].Bytes.data() + 12, 4);
    std::memcpy(&pressure, got[0].Bytes.data() + 16, 4);
    EXPECT_EQ(x, 1000);
    EXPECT_EQ(y, -20);
    EXPECT_EQ(pressure, 512u);
    uint32_t cursor = 0;
    int32_t azimuth = 0;
    std::memcpy(&cursor, got[0].Bytes.data(), 4);
    std::memcpy(&azimuth, got[0].Bytes.data() + 20, 4);
    EXPECT_EQ(cursor, 1u);
    EXPECT_EQ(azimuth, 900);
    std::memcpy(&x, got[1].Bytes.data() + 8, 4);
    EXPECT_EQ(x, 2000);
}

TEST(Tablet, DisabledContextSendsNothing) {
    TWintabService s = PenService();
    TTablet t(&s);
    int packets = 0;
    int proximity = 0;
    t.OnPacket = [&](TCustomTablet*, uint32_t, HCTX, const void*) { ++packets; };
    t.OnProximity = [&](TCustomTablet*, HCTX, bool) { ++proximity; };
    ASSERT_TRUE(OpenVarkoContext(t));
    t.SetEnabled(false);
    s.PenProximity(true);
    s.PenPacket(MakePacket(1, 2, 3));
    EXPECT_EQ(packets, 0);
    EXPECT_EQ(proximity, 0);
    t.SetEnabled(true);
    s.PenPacket(MakePacket(1, 2, 3));
    EXPECT_EQ(packets, 1);
    // Closed: nothing more.
    t.Close();
    s.PenPacket(MakePacket(1, 2, 3));
    EXPECT_EQ(packets, 1);
}

TEST(Tablet, UnassignedPacketEventLeavesThePacketQueued) {
    TWintabService s = PenService();
    TTablet t(&s);
    ASSERT_TRUE(OpenVarkoContext(t));
    s.DeliverMessages();
    s.PenPacket(MakePacket(7, 8, 9)); // serial 1, no handler: stays queued
    TPacket p;
    EXPECT_TRUE(s.WTPacket(t.ContextHandle(), 1, &p, sizeof p));
    EXPECT_EQ(p.pkX, 7);
    EXPECT_FALSE(s.WTPacket(t.ContextHandle(), 1, &p, sizeof p)); // consumed
}

TEST(Tablet, MessagesDecodeLikeWintab) {
    TWintabService s = PenService();
    TTablet t(&s);
    bool entering = true;
    uint16_t category = 0;
    uint16_t index = 0;
    t.OnProximity = [&](TCustomTablet*, HCTX, bool e) { entering = e; };
    t.OnInfoChanged = [&](TCustomTablet*, uint32_t, uint16_t c, uint16_t i) {
        category = c;
        index = i;
    };
    t.WindowProc(WT_DEFBASE + WT_PROXIMITY, 1, 0x00010000); // hardware only
    EXPECT_FALSE(entering);
    t.WindowProc(WT_DEFBASE + WT_PROXIMITY, 1, 0x00000001);
    EXPECT_TRUE(entering);
    t.WindowProc(WT_DEFBASE + WT_INFOCHANGE, 3, (15 << 16) | 100);
    EXPECT_EQ(category, 100);
    EXPECT_EQ(index, 15);
    EXPECT_EQ(t.WindowProc(0x0200, 0, 0), 0); // not a Wintab message
    // A packet message for a serial the driver no longer has is dropped.
    int packets = 0;
    t.OnPacket = [&](TCustomTablet*, uint32_t, HCTX, const void*) { ++packets; };
    t.WindowProc(WT_DEFBASE + WT_PACKET, 99, 1);
    EXPECT_EQ(packets, 0);
}

TEST(Tablet, GetContextWithoutOpenLeavesRecordAlone) {
    TWintabService s = PenService();
    s.Available = true;
    TTablet t(&s);
    LOGCONTEXTA c;
    c.lcInExtX = 77;
    t.GetContext(c);
    EXPECT_EQ(c.lcInExtX, 77);
    // A failed open (service gone quiet) stores handle 0: still untouched.
    s.Available = false;
    t.Open(MakeVarkoContext(LOGCONTEXTA{}));
    EXPECT_EQ(t.ContextHandle(), 0u);
    t.GetContext(c);
    EXPECT_EQ(c.lcInExtX, 77);
}

TEST(Tablet, ExtentChangeUpdatesOpenContext) {
    TWintabService s = PenService();
    TTablet t(&s);
    int updates = 0;
    LOGCONTEXTA c;
    t.OnContextUpdate = [&](TCustomTablet*, int32_t, int32_t) {
        ++updates;
        t.GetContext(c);
    };
    ASSERT_TRUE(OpenVarkoContext(t));
    s.SetInputExtents(0, 0, 256000, 144000);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(c.lcInExtX, 256000);
    s.SetInputExtents(0, 0, 256000, 144000); // unchanged: no message
    EXPECT_EQ(updates, 1);
}

TEST(Tablet, DestroyedComponentGetsNoMessages) {
    TWintabService s = PenService();
    {
        TTablet t(&s);
        t.OnPacket = [](TCustomTablet*, uint32_t, HCTX, const void*) { FAIL(); };
        ASSERT_TRUE(OpenVarkoContext(t));
    } // left open on purpose: the owner forgot Close
    s.PenPacket(MakePacket(1, 1, 1));
    s.DeliverMessages();
    SUCCEED();
}
