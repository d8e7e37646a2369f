#include "instrument/ToneZoneGeometry.h"

#include <algorithm>
#include <cmath>

namespace varko {

int TToneZoneGeometry::Columns() const {
    if (ToneCount <= 0) {
        return 0;
    }
    return TwoRows ? (ToneCount + 1) / 2 : ToneCount;
}

int TToneZoneGeometry::BarWidth() const {
    const int m = Columns();
    return m > 0 && Width > 0 ? Width / m : 0;
}

int TToneZoneGeometry::RowHeight() const {
    const int h = std::max(Height, 0);
    return TwoRows ? h / 2 : h;
}

int TToneZoneGeometry::Row(int tone) const {
    const int m = Columns();
    return TwoRows && m > 0 && tone >= m ? 1 : 0;
}

int TToneZoneGeometry::Column(int tone) const {
    return tone - Row(tone) * Columns();
}

TBarRect TToneZoneGeometry::BarRect(int tone) const {
    const int w = BarWidth();
    const int r = RowHeight();
    const int c = Column(tone);
    const int q = Row(tone);
    return {w * c, r * q, w * (c + 1), r * q + r};
}

float TToneZoneGeometry::BarWidthReciprocal() const {
    const int w = BarWidth();
    return ToneCount > 0 && w > 0 ? static_cast<float>(1.0 / w) : 0.0f;
}

TToneZoneHit ToneZoneHitTest(const TToneZoneGeometry& zone, float barWidthReciprocal, int x,
                             int y) {
    const int n = zone.ToneCount;
    const int h = zone.Height;
    // No bars, no painted width, or a zone too small to hold a pixel row: nothing to hit.
    if (n <= 0 || !(barWidthReciprocal > 0.0f) || h < 1) {
        return {};
    }
    const float fx = static_cast<float>(std::max(x, 1));
    const int cy = std::clamp(y, 1, h);
    // The 32-bit product decides, as the painted bars were measured with the same reciprocal.
    const float col = std::floor(fx * barWidthReciprocal);
    if (col >= static_cast<float>(n)) {
        return {};
    }
    const int column = static_cast<int>(col);
    if (!zone.TwoRows) {
        if (column > n - 1) {
            return {};
        }
        return {column, static_cast<float>(cy) / static_cast<float>(h)};
    }
    const int m = (n + 1) / 2;
    const int r = h / 2;
    const int row = static_cast<int>(std::floor(cy / (h / 2.0)));
    if (r < 1 || column >= m) {
        return {}; // right of the last column (in either row)
    }
    const int bar = row * m + column;
    if (bar < 0 || bar > n - 1) {
        return {};
    }
    return {bar, static_cast<float>(cy - row * r) / static_cast<float>(r)};
}

} // namespace varko
