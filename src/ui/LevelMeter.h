// A level meter: a vertical bar of 0 .. 60 steps (one per decibel below full scale) lit from the
// bottom, green up to -12 dB, yellow up to -3 dB, red above; the unlit zones stay faintly seen.
#pragma once

#include <QProgressBar>

namespace varko {

class TLevelMeter : public QProgressBar {
    Q_OBJECT
public:
    explicit TLevelMeter(QWidget* parent = nullptr);

    // The zones' lower ends, in meter steps (decibels above -60).
    static constexpr int YellowFrom = 48; // -12 dB
    static constexpr int RedFrom = 57;    // -3 dB
    // The colour of a step, lit or not.
    static QColor ZoneColor(int step, bool lit);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varko
