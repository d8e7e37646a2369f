#include "instrument/ToneZoneGeometry.h"

#include <gtest/gtest.h>

using namespace varko;

TEST(ToneZoneGeometry, OneRowLeavesAStripRightOfTheLastBar) {
    const TToneZoneGeometry z(37, 700, 400, false);
    EXPECT_EQ(z.BarWidth(), 18);
    EXPECT_EQ(z.BarRect(0), (TBarRect{0, 0, 18, 400}));
    EXPECT_EQ(z.BarRect(36), (TBarRect{648, 0, 666, 400}));
    EXPECT_FLOAT_EQ(z.BarWidthReciprocal(), 1.0f / 18.0f);
    const float r = z.BarWidthReciprocal();
    EXPECT_EQ(ToneZoneHitTest(z, r, 665, 200).Bar, 36);
    EXPECT_EQ(ToneZoneHitTest(z, r, 666, 200).Bar, -1);
    EXPECT_EQ(ToneZoneHitTest(z, r, 699, 200).Bar, -1);
    EXPECT_EQ(ToneZoneHitTest(z, r, 100000, 200).Bar, -1);
    EXPECT_EQ(ToneZoneHitTest(z, r, 17, 200).Bar, 0);
    EXPECT_EQ(ToneZoneHitTest(z, r, 19, 200).Bar, 1);
}

TEST(ToneZoneGeometry, PointerOutsideTheZoneKeepsToItsEdge) {
    const TToneZoneGeometry z(37, 700, 400, false);
    const float r = z.BarWidthReciprocal();
    EXPECT_EQ(ToneZoneHitTest(z, r, -50, 100), (TToneZoneHit{0, 0.25f}));
    EXPECT_EQ(ToneZoneHitTest(z, r, 40, -30), (TToneZoneHit{2, 1.0f / 400}));
    EXPECT_EQ(ToneZoneHitTest(z, r, 40, 900), (TToneZoneHit{2, 1.0f}));
}

TEST(ToneZoneGeometry, TwoRowsWithAnOddToneCount) {
    const TToneZoneGeometry z(37, 700, 501, true);
    EXPECT_EQ(z.Columns(), 19);
    EXPECT_EQ(z.BarWidth(), 36);
    EXPECT_EQ(z.RowHeight(), 250);
    EXPECT_EQ(z.BarRect(18), (TBarRect{648, 0, 684, 250}));
    EXPECT_EQ(z.BarRect(19), (TBarRect{0, 250, 36, 500}));
    EXPECT_EQ(z.Column(19), 0);
    EXPECT_EQ(z.Row(19), 1);
    EXPECT_EQ(z.BarRect(36), (TBarRect{612, 250, 648, 500}));

    const float r = z.BarWidthReciprocal();
    EXPECT_EQ(ToneZoneHitTest(z, r, 690, 100).Bar, -1); // top row, right of column 18
    EXPECT_EQ(ToneZoneHitTest(z, r, 660, 300).Bar, -1); // the bottom row's empty 19th cell
    EXPECT_EQ(ToneZoneHitTest(z, r, 660, 100).Bar, 18);
    EXPECT_EQ(ToneZoneHitTest(z, r, 5, 300), (TToneZoneHit{19, 0.2f}));
    EXPECT_EQ(ToneZoneHitTest(z, r, 5, 500), (TToneZoneHit{19, 1.0f}));
    EXPECT_EQ(ToneZoneHitTest(z, r, 5, 501).Bar, -1); // the bottom edge is no bar
    EXPECT_EQ(ToneZoneHitTest(z, r, 5, 9999).Bar, -1);
    EXPECT_EQ(ToneZoneHitTest(z, r, 5, 125), (TToneZoneHit{0, 0.5f}));
}

TEST(ToneZoneGeometry, ZoneNarrowerThanItsBarsHasNoBar) {
    const TToneZoneGeometry z(10, 5, 100, false);
    EXPECT_EQ(z.BarWidth(), 0);
    EXPECT_FALSE(z.Usable());
    EXPECT_EQ(z.BarWidthReciprocal(), 0.0f);
    EXPECT_EQ(ToneZoneHitTest(z, 0.0f, 3, 50).Bar, -1);
    // Two rows need only half the width.
    const TToneZoneGeometry two(10, 5, 100, true);
    EXPECT_EQ(two.BarWidth(), 1);
    EXPECT_TRUE(two.Usable());
}

TEST(ToneZoneGeometry, EmptyOrDegenerateZonesHitNothing) {
    EXPECT_EQ(ToneZoneHitTest(TToneZoneGeometry(0, 700, 400, false), 0.1f, 10, 10).Bar, -1);
    EXPECT_EQ(ToneZoneHitTest(TToneZoneGeometry(5, 700, 0, false), 0.1f, 10, 10).Bar, -1);
    EXPECT_EQ(ToneZoneHitTest(TToneZoneGeometry(5, 700, 1, true), 0.1f, 10, 1).Bar, -1);
    EXPECT_FALSE(TToneZoneGeometry(0, 700, 400, false).Usable());
    EXPECT_EQ(TToneZoneGeometry(3, -10, 400, false).BarWidth(), 0);
}

TEST(ToneZoneGeometry, HitTestUsesThePaintedWidthUntilTheNextPaint) {
    // The zone grew but was not repainted yet: the old bars still decide.
    const TToneZoneGeometry grown(10, 2000, 100, false);
    EXPECT_EQ(ToneZoneHitTest(grown, 1.0f / 50, 120, 50).Bar, 2);
    EXPECT_EQ(ToneZoneHitTest(grown, grown.BarWidthReciprocal(), 120, 50).Bar, 0);
}
