#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QPainter;

namespace varko {

// Five panels side by side; panel 1 is drawn by its owner.
class TStatusPanels : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanels(QWidget* parent = nullptr);
    std::array<QString, 5> Texts;
    std::array<int, 5> Widths{150, 115, 100, 100, 70};
    QString Text(int panel) const { return Texts.at(static_cast<size_t>(panel)); }
    void SetText(int panel, const QString& text);
    // Paints the owner-drawn panel 1 (the pressure display).
    std::function<void(QPainter&)> OnDrawPanel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varko
