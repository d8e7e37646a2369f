#include "instrument/Playing.h"

#include "FakeTones.h"

#include <gtest/gtest.h>

#include <vector>

using namespace varko;

namespace {

using test::FakeTones;

struct MouseMode : ::testing::Test {
    FakeTones Tones{37};
    TPlaying Play{Tones};
    TToneZoneGeometry Zone{37, 700, 400, false};
    float R = Zone.BarWidthReciprocal();
    void SetUp() override { Play.MousePressure = true; }
    void Move(int x, int y) {
        Play.ToneZoneMouseMove(Zone, R, x, y, static_cast<float>(x), static_cast<float>(y));
    }
};

TPenSample Packet(int32_t x, int32_t y, int32_t pressure) {
    TPenSample p;
    p.X = x;
    p.Y = y;
    p.Pressure = pressure;
    return p;
}

} // namespace

TEST_F(MouseMode, PressOnBarThreeThenDragOntoBarFour) {
    Move(3 * 18 + 5, 100);
    EXPECT_EQ(Play.CurrentBar, 3);
    EXPECT_FLOAT_EQ(Tones.Strike[3], 0.25f);
    Play.PointerDown(TMouseButton::mbLeft);
    EXPECT_TRUE(Play.PenDown);
    EXPECT_FLOAT_EQ(Tones.Pressure[3], 0.5f);
    EXPECT_EQ(Play.PressureBarPosition, 50);
    Move(4 * 18 + 5, 100);
    EXPECT_EQ(Play.CurrentBar, 4);
    EXPECT_EQ(Tones.Pressure[3], 0.0f);
    EXPECT_EQ(Tones.Pressure[4], 0.0f); // no pressure until the next press
    Play.PointerUp(TMouseButton::mbLeft);
    EXPECT_FALSE(Play.PenDown);
    EXPECT_EQ(Play.PressureBarPosition, 0);
}

TEST_F(MouseMode, StripRightOfTheLastBarSilencesAndReturningGivesNoPressure) {
    Move(36 * 18 + 2, 100);
    Play.PointerDown(TMouseButton::mbLeft);
    EXPECT_FLOAT_EQ(Tones.Pressure[36], 0.5f);
    Move(680, 100);
    EXPECT_EQ(Play.CurrentBar, -1);
    EXPECT_EQ(Tones.Pressure[36], 0.0f);
    Move(36 * 18 + 2, 100);
    EXPECT_EQ(Play.CurrentBar, 36);
    EXPECT_EQ(Tones.Pressure[36], 0.0f);
}

TEST_F(MouseMode, GlidingPressesEveryBarTheDragCrossesAndOnlyWhileHeld) {
    Play.MouseGlide = true;
    Move(3 * 18 + 5, 100);
    EXPECT_EQ(Tones.Pressure[3], 0.0f); // moving alone presses nothing
    Play.PointerDown(TMouseButton::mbLeft);
    Move(4 * 18 + 5, 100);
    EXPECT_EQ(Tones.Pressure[3], 0.0f);
    EXPECT_FLOAT_EQ(Tones.Pressure[4], 0.5f);
    Move(4 * 18 + 9, 300); // along the same bar: no new press, the strike position follows
    EXPECT_FLOAT_EQ(Tones.Pressure[4], 0.5f);
    EXPECT_FLOAT_EQ(Tones.Strike[4], 0.75f);
    Move(680, 100); // off the bars and back
    EXPECT_EQ(Tones.Pressure[4], 0.0f);
    Move(36 * 18 + 2, 100);
    EXPECT_FLOAT_EQ(Tones.Pressure[36], 0.5f);
    Play.PointerUp(TMouseButton::mbLeft);
    EXPECT_EQ(Tones.Pressure[36], 0.0f);
    Move(35 * 18 + 2, 100);
    EXPECT_EQ(Tones.Pressure[35], 0.0f);
    // A pen glides by its own packets; the box is for the mouse.
    Play.MousePressure = false;
    Play.PointerDown(TMouseButton::mbLeft);
    Move(34 * 18 + 2, 100);
    EXPECT_EQ(Tones.Pressure[34], 0.0f);
}

TEST_F(MouseMode, MouseSpeedIsTheMoveInZoneFractions) {
    Play.LastPointerX = 100;
    Play.LastPointerY = 50;
    Play.ToneZoneMouseMove(Zone, R, 170, 50, 170, 50);
    EXPECT_FLOAT_EQ(Tones.Speed[9], 0.1f);
    EXPECT_EQ(Play.LastPointerX, 170);
}

TEST_F(MouseMode, RightClickPressesAndLowersResonanceUntilReleased) {
    int moved = 0;
    Play.OnResonanceFaderChanged = [&](int) { ++moved; };
    Move(5, 100);
    Play.PointerDown(TMouseButton::mbRight);
    EXPECT_FLOAT_EQ(Tones.Pressure[0], 0.5f);
    EXPECT_EQ(Play.ResonanceFader(), 11);
    EXPECT_TRUE(Play.RezDownTimerEnabled);
    EXPECT_FLOAT_EQ(Tones.Resonance[20], ResonanceFromFader(11));
    Play.ResonanceStepDown();
    EXPECT_EQ(Play.ResonanceFader(), 12);
    Play.PointerUp(TMouseButton::mbRight);
    EXPECT_FALSE(Play.RezDownTimerEnabled);
    EXPECT_EQ(Tones.Pressure[0], 0.0f);
    EXPECT_EQ(moved, 2);
    // Middle raises.
    Play.PointerDown(TMouseButton::mbMiddle);
    EXPECT_EQ(Play.ResonanceFader(), 11);
    EXPECT_TRUE(Play.RezUpTimerEnabled);
    Play.PointerUp(TMouseButton::mbMiddle);
    EXPECT_FALSE(Play.RezUpTimerEnabled);
    Play.ResonanceResetClick();
    EXPECT_EQ(Play.ResonanceFader(), 10);
}

TEST_F(MouseMode, ResonanceButtonsDoNothingAtTheFadersEnds) {
    Play.SetResonanceFader(200);
    int moved = 0;
    Play.OnResonanceFaderChanged = [&](int) { ++moved; };
    Tones.Resonance.assign(37, -1);
    Play.PointerDown(TMouseButton::mbRight);
    Play.ResonanceStepDown();
    EXPECT_EQ(Play.ResonanceFader(), 200);
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(Tones.Resonance[0], -1.0f); // nothing pushed
    Play.SetResonanceFader(-5);
    EXPECT_EQ(Play.ResonanceFader(), 0);
    moved = 0;
    Play.PointerDown(TMouseButton::mbMiddle);
    Play.ResonanceStepUp();
    EXPECT_EQ(Play.ResonanceFader(), 0);
    EXPECT_EQ(moved, 0);
}

TEST(Playing, TwoRowsWith37TonesHaveNoBarRightOfTheTopRowOrInTheEmptyCell) {
    FakeTones tones(37);
    TPlaying play(tones);
    const TToneZoneGeometry zone(37, 700, 501, true);
    const float r = zone.BarWidthReciprocal();
    play.ToneZoneMouseMove(zone, r, 5, 300, 0, 0);
    EXPECT_EQ(play.CurrentBar, 19);
    EXPECT_FLOAT_EQ(tones.Strike[19], 0.2f);
    play.ToneZoneMouseMove(zone, r, 690, 100, 0, 0);
    EXPECT_EQ(play.CurrentBar, -1);
    play.ToneZoneMouseMove(zone, r, 660, 300, 0, 0);
    EXPECT_EQ(play.CurrentBar, -1);
}

TEST(Playing, TabletPacketsGivePressureWhileDownAndSpeedAlways) {
    FakeTones tones(10);
    TPlaying play(tones);
    play.TabletContextUpdate(10000, 8000);
    play.SetPressureAxisMax(1023);
    const TToneZoneGeometry zone(10, 500, 300, false);
    play.ToneZoneMouseMove(zone, zone.BarWidthReciprocal(), 120, 150, 0, 0);
    ASSERT_EQ(play.CurrentBar, 2);
    // Hovering: speed changes, pressure does not.
    play.PenSample(Packet(1000, 500, 700));
    play.PenSample(Packet(2000, 500, 700));
    EXPECT_FLOAT_EQ(tones.Speed[2], 0.1f);
    EXPECT_EQ(tones.Pressure[2], 0.0f);
    EXPECT_EQ(play.PressureBarPosition, 0);
    // Tip down.
    play.PointerDown(TMouseButton::mbLeft);
    EXPECT_EQ(tones.Pressure[2], 0.0f); // tablet mode: the press alone gives nothing
    play.PenSample(Packet(2000, 500, 1023));
    EXPECT_FLOAT_EQ(tones.Pressure[2], 1.0f);
    EXPECT_EQ(tones.Speed[2], 0.0f);
    EXPECT_EQ(play.PressureBarPosition, 1023);
    // Release keeps the last packet's pressure.
    play.PointerUp(TMouseButton::mbLeft);
    EXPECT_FLOAT_EQ(tones.Pressure[2], 1.0f);
    // Over no bar: the last position stays.
    play.ToneZoneMouseMove(zone, zone.BarWidthReciprocal(), 5000, 150, 0, 0);
    EXPECT_EQ(play.CurrentBar, -1);
    EXPECT_EQ(tones.Pressure[2], 0.0f);
    play.PenSample(Packet(5000, 500, 0));
    EXPECT_EQ(play.LastPointerX, 2000);
}

TEST(Playing, GuardsAgainstZeroScalesAndStaleBars) {
    FakeTones tones(3);
    TPlaying play(tones);
    play.SetPressureAxisMax(0);
    EXPECT_EQ(play.PressureScale, 1.0f);
    play.TabletContextUpdate(0, 0);
    EXPECT_EQ(play.TabletScaleX, 0.0f);
    // A bar index from a larger, earlier bank touches nothing.
    play.CurrentBar = 7;
    play.PenDown = true;
    play.PenSample(Packet(1, 1, 1));
    play.MousePressure = true;
    play.PointerDown(TMouseButton::mbLeft);
    play.PointerUp(TMouseButton::mbLeft);
    EXPECT_EQ(tones.Pressure, (std::vector<float>{0, 0, 0}));
}

TEST(Playing, ScriptedPenPlaysTheBarUnderIt) {
    FakeTones tones(4);
    TPlaying play(tones);
    const TToneZoneGeometry zone(4, 400, 200, false);
    const float r = zone.BarWidthReciprocal();
    play.Pen(zone, r, 0.6f, 0.5f, 0.0f, false);
    EXPECT_EQ(play.CurrentBar, 2);
    EXPECT_EQ(tones.Pressure[2], 0.0f);
    play.Pen(zone, r, 0.6f, 0.5f, 0.5f, true);
    EXPECT_NEAR(tones.Pressure[2], 0.5f, 1e-3);
    EXPECT_FLOAT_EQ(tones.Strike[2], 0.5f);
    play.Pen(zone, r, 0.7f, 0.5f, 0.5f, true);
    EXPECT_NEAR(tones.Speed[2], 0.1f, 1e-5);
    play.Pen(zone, r, 0.7f, 0.5f, 0.0f, false);
    EXPECT_FALSE(play.PenDown);
}

// A rebuild (a new buffer size, a server restart) left the held bar silent to the end of the
// hold: the new tones start at rest.
TEST(Playing, AHeldPenPressesItsBarAgainInANewBank) {
    FakeTones tones(4);
    TPlaying play(tones);
    const TToneZoneGeometry zone(4, 400, 200, false);
    const float r = zone.BarWidthReciprocal();
    play.Pen(zone, r, 0.6f, 0.25f, 0.8f, true);
    tones = FakeTones(4); // the new bank
    play.CarryOver();
    EXPECT_NEAR(tones.Pressure[2], 0.8f, 1e-3);
    EXPECT_FLOAT_EQ(tones.Strike[2], 0.25f);
    play.Pen(zone, r, 0.6f, 0.25f, 0.0f, false);
    tones = FakeTones(4);
    play.CarryOver(); // lifted: nothing is held
    EXPECT_EQ(tones.Pressure, (std::vector<float>(4, 0.0f)));
}
