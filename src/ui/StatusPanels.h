#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QPainter;

namespace varko {

// Six panels side by side; panel 1 is drawn by its owner.
class TStatusPanels : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanels(QWidget* parent = nullptr);
    std::array<QString, 6> Texts;
    std::array<int, 6> Widths{150, 115, 100, 100, 80, 110};
    QString Text(int panel) const { return Texts.at(static_cast<size_t>(panel)); }
    void SetText(int panel, const QString& text);
    // Paints the owner-drawn panel 1 (the pressure display).
    std::function<void(QPainter&)> OnDrawPanel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varko
