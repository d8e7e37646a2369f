// The tone zone's paint box: paints the bars and hands its mouse events on in zone pixels.
#pragma once

#include "instrument/Playing.h"
#include "instrument/ToneZoneGeometry.h"
#include "ui/ToneZonePainter.h"

#include <QWidget>

#include <functional>
#include <vector>

namespace varko {

// Qt's mouse button as the playing logic names it.
TMouseButton ToMouseButton(Qt::MouseButton button);

class TToneZone : public QWidget {
    Q_OBJECT
public:
    explicit TToneZone(QWidget* parent = nullptr);

    // What is painted. Each setter repaints (RepaintToneZone).
    void SetToneRatios(std::vector<float> ratios);
    const std::vector<float>& ToneRatios() const { return ratios_; }
    void SetInitialFrequency(float hertz);
    void SetLook(const TToneZoneLook& look); // Workspace is taken from the palette
    const TToneZoneLook& Look() const { return look_; }

    // 1 / bar width of the last paint (or repaint request); 0 at start.
    float BarWidthReciprocal() const { return barWidthReciprocal_; }
    // The zone as it is now (tone count, size, layout), for the hit test.
    TToneZoneGeometry Geometry() const;

    // Repaints now and updates BarWidthReciprocal even before the paint arrives.
    void RepaintToneZone();

    // The pen cursor while the pen is in the tablet's range, the default one otherwise.
    void SetPenCursor(bool pen);

    // Mouse events in zone pixels (a held button keeps them coming from outside the zone).
    std::function<void(int x, int y)> OnMouseMove;
    std::function<void(TMouseButton button, int x, int y)> OnMouseDown;
    std::function<void(TMouseButton button, int x, int y)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TToneZonePainter painter_;
    std::vector<float> ratios_;
    float initialFrequency_ = 200.0f;
    TToneZoneLook look_;
    float barWidthReciprocal_ = 0.0f;
};

} // namespace varko
