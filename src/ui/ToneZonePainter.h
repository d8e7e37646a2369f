// Paints the tone zone: black background, one bar per tone in grey or metal, lit as loud as it
// sounds and marked while it is held, and a label on each bar (its frequency, cents, ratio or
// degree).
#pragma once

#include "instrument/ToneZoneGeometry.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <vector>

class QPainter;

namespace varko {

// What a bar's label says: its frequency in hertz, its distance from the scale's 1/1 in cents,
// its frequency ratio to the 1/1, or its degree in the scale.
enum class TLabelKind { Frequency = 0, Cents = 1, Ratio = 2, Degree = 3 };

// A bar's label: "300.00 Hz", "702.0¢", "1.5000" or "7" (one period up "7↑", two down "7↓2").
QString BarLabel(TLabelKind kind, float ratio, float initialFrequency, int tone, int scaleStart,
                 int period);

struct TToneZoneLook {
    bool Paint2Rows = false;
    bool ColoredToneZone = true;
    bool ShowFrequencyLabels = true;
    // Outline and row divider of the grey look (the desktop's application-workspace colour).
    QColor Workspace = QColor(171, 171, 171);
    // Written in the middle of an empty zone (what to do first); none: the zone stays black.
    QString EmptyHint{};
    // Each bar's light, 0 (dark) .. 1 (as loud as a bar gets), and the bars held now; bars
    // beyond the vectors are dark and free.
    std::vector<float> Light{};
    std::vector<bool> Held{};
    // What the labels say, and for the degrees: the tone of the scale's 1/1 and the tones of
    // one period of the scale.
    TLabelKind LabelKind = TLabelKind::Frequency;
    int ScaleStart = 0;
    int Period = 0;
    // The bank's rate when its delay lines are whole samples long: the bars then sound the rate
    // over that length, and the labels say so. 0: the lines are exact.
    float WholeSampleRate = 0.0f;
};

// A bar's frequency label where it is painted.
struct TFrequencyLabel {
    int Tone = 0;
    QString Text;
    QRect Box; // the text's box (the white box of the grey look), zone pixels
};

// The labels' font: the system's fixed-pitch font at 9 points.
QFont FrequencyLabelFont();

// The labels that are painted, each centred on its bar. Where the widest label is wider than a
// bar only every k-th column of each row carries one (k the fewest columns it needs), so that
// none touches another, and none reaches past its row's bars. With wholeSampleRate (see
// TToneZoneLook) frequencies, cents and ratios are those the bars really sound.
std::vector<TFrequencyLabel>
FrequencyLabels(const TToneZoneGeometry& zone, const std::vector<float>& toneRatios,
                float initialFrequency, bool coloredToneZone, const QFont& font,
                TLabelKind kind = TLabelKind::Frequency, int scaleStart = 0, int period = 0,
                float wholeSampleRate = 0.0f);

// Qt has no application-workspace role; the palette's Mid is the nearest neutral grey.
QColor WorkspaceColor(const QPalette& palette);

// "300.00 Hz": two decimals with "." whatever the locale.
QString FrequencyLabel(float ratio, float initialFrequency);

class TToneZonePainter {
public:
    // Loads "metal1".."metal3" from the compiled-in resources.
    TToneZonePainter();
    explicit TToneZonePainter(std::array<QImage, 3> textures) : textures_(std::move(textures)) {}

    // Paints the whole zone of the given size onto the painter (origin at the zone's top left).
    // Returns the new BarWidthReciprocal: barWidthReciprocal unchanged for an empty tone list,
    // 0 for a zone narrower than its bars (which then stays black).
    float Paint(QPainter& painter, QSize size, const std::vector<float>& toneRatios,
                float initialFrequency, const TToneZoneLook& look, float barWidthReciprocal) const;

    const std::array<QImage, 3>& Textures() const { return textures_; }

private:
    std::array<QImage, 3> textures_;
};

} // namespace varko
