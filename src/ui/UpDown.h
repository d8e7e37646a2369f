#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace varko {

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

} // namespace varko
