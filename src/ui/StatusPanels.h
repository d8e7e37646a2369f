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
    std::array<QString, 6> Tips; // shown on hovering a panel, below a text cut short
    std::array<int, 6> Widths{150, 115, 100, 100, 80, 160};
    QString Text(int panel) const { return Texts.at(static_cast<size_t>(panel)); }
    // Sets a text; the panels are laid out anew for it.
    void SetText(int panel, const QString& text);
    // Panels 0, 1, 4 and 5 keep their design widths (150, 115, 80, 160) and grow to hold their
    // whole texts; panels 2 and 3 share what is left, equally where both texts fit. Where they
    // would not, panels 0, 4 and 5 shrink to their texts first.
    void LayOut();
    // Where a panel lies, and where its text goes, in the bar's coordinates.
    QRect PanelRect(int panel) const;
    QRect TextRect(int panel) const;
    // Paints the owner-drawn panel 1 (the pressure display).
    std::function<void(QPainter&)> OnDrawPanel;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace varko
