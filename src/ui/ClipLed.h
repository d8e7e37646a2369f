#pragma once

#include <QColor>
#include <QWidget>

namespace varko {

// A rounded rectangle lit while the level clips.
class TClipLed : public QWidget {
    Q_OBJECT
public:
    explicit TClipLed(QWidget* parent = nullptr);
    QColor Fill{Qt::black};
    QColor Outline{128, 128, 128};
    void SetColors(const QColor& fill, const QColor& outline);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varko
