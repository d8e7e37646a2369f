// The warning shown when the audio was stopped, by the watchdog or by the player (F6).
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace varko {

class TVarkoCPUwarningWin : public QDialog {
    Q_OBJECT
public:
    explicit TVarkoCPUwarningWin(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image2 = nullptr; // the toolbar cut-out with the Restart Audio button
    QPushButton* Button1 = nullptr;

    // Replaces the two texts (the F6 stop has texts of its own).
    void SetTexts(const QString& first, const QString& second);
};

} // namespace varko
