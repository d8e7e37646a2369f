// Small controls of the main window that Qt has no exact equivalent for: the clip LED, the
// up-down that drives an edit, the link label and the five-panel status bar.
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

#include <array>
#include <functional>

class QLineEdit;
class QToolButton;

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

// Up and down arrows bound to an edit. The arrows stop at Min and Max; SetPosition (typed
// text) passes any value. OnChangingEx hears of every change before it happens and may refuse.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent = nullptr);

    int Min = 0;
    int Max = 100;
    int Position() const { return position_; }
    // Through OnChangingEx; the edit keeps its text.
    void SetPosition(int value);
    // One arrow click: +1 or -1 within Min..Max; the edit shows the new position.
    void Click(int step);

    std::function<bool(int newValue)> OnChangingEx;

    QToolButton* UpButton = nullptr;
    QToolButton* DownButton = nullptr;

private:
    bool Change(int value);
    QLineEdit* associate_;
    int position_;
};

// A label that answers clicks (links, the close crosses, the loudspeaker).
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr, bool link = true);
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

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
