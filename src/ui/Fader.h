// A vertical fader whose positions count from the top (0) to the bottom (200), as the
// instrument reads them, but whose groove fills from the bottom up to the handle, as a fader
// is read; while it is dragged a tip shows its value.
#pragma once

#include <QSlider>

#include <functional>

namespace varko {

class TFader : public QSlider {
    Q_OBJECT
public:
    explicit TFader(QWidget* parent = nullptr);

    // The tip's text for a position; none: no tip.
    std::function<QString(int position)> ValueText;
    // The tip as it reads now.
    QString ValueTip() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowValue();
};

// "Master level: +1.7 dB", "Master level: 0.0 dB", "Master level: off" (position 200).
QString MasterLevelText(int position);
// "Resonance: 95 %": 100 % at the top (the longest ring), 0 % at the bottom.
QString ResonanceText(int position);

} // namespace varko
