// The start-up notice for a machine without a graphics tablet; Varko goes on with the mouse.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace varko {

class TNoTabletNotice : public QDialog {
    Q_OBJECT
public:
    explicit TNoTabletNotice(QWidget* parent = nullptr);

    QLabel* Badge = nullptr;
    QLabel* Headline = nullptr;
    QLabel* Advice = nullptr;
    QPushButton* DismissButton = nullptr;
    QCheckBox* DontShowBox = nullptr; // "Don't show this again"

protected:
    void DismissClick();
};

} // namespace varko
