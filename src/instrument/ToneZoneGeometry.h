// Where the bars of the tone zone lie, and which bar a pointer is over. No Qt: the render
// tool and the tests use it as the window does.
//
// One bar per tone, in one row (width W div n) or two rows (m = ceil(n / 2) cells per row,
// width W div m, row height H div 2). Pixels right of the last column, the empty last cell of
// an odd bottom row and the last pixel row of an odd height belong to no bar.
// A zone narrower than its bars (bar width 0) shows black and has no bar anywhere.
#pragma once

namespace varko {

struct TBarRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;  // exclusive
    int Bottom = 0; // exclusive
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TBarRect&) const = default;
};

class TToneZoneGeometry {
public:
    TToneZoneGeometry() = default;
    TToneZoneGeometry(int toneCount, int width, int height, bool twoRows)
        : ToneCount(toneCount), Width(width), Height(height), TwoRows(twoRows) {}

    int ToneCount = 0; // n
    int Width = 0;     // W, pixels
    int Height = 0;    // H, pixels
    bool TwoRows = false;

    int Columns() const;   // cells per row: n, or ceil(n / 2) in two rows
    int BarWidth() const;  // W div Columns(); 0 when the zone is narrower than a row of bars
    int RowHeight() const; // H, or H div 2 in two rows
    // Bars can be drawn and hit: at least one tone and a bar width of at least one pixel.
    bool Usable() const { return ToneCount > 0 && BarWidth() > 0; }
    int Row(int tone) const;
    int Column(int tone) const;
    TBarRect BarRect(int tone) const;
    // 1 / bar width as a 32-bit float; 0 when the zone is not usable.
    float BarWidthReciprocal() const;
};

// Result of the hit test: the bar under the pointer (-1: none) and where on it.
struct TToneZoneHit {
    int Bar = -1;
    float StrikePosition = 0; // 0 at the bar's top edge .. 1 at its bottom edge
    bool operator==(const TToneZoneHit&) const = default;
};

// The bar under pointer (x, y) in zone pixels. It uses the current size and layout of the zone
// but the bar width of the last paint (barWidthReciprocal), as the painted bars do. x and y
// are clamped to the zone (x only from below), so a drag that leaves the zone keeps to its edge.
TToneZoneHit ToneZoneHitTest(const TToneZoneGeometry& zone, float barWidthReciprocal, int x, int y);

} // namespace varko
