// The start-up notice for a machine without a graphics tablet; Varko goes on with the mouse.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace varko {

class TVarkoNoTabletWindow : public QDialog {
    Q_OBJECT
public:
    explicit TVarkoNoTabletWindow(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void Button1Click();
};

} // namespace varko
