// The warning shown when the audio was stopped, by the watchdog or by the player (F6).
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace varko {

class TAudioStoppedNotice : public QDialog {
    Q_OBJECT
public:
    explicit TAudioStoppedNotice(QWidget* parent = nullptr);

    QLabel* Headline = nullptr;
    QLabel* Advice = nullptr;
    QLabel* ToolbarPicture = nullptr; // the toolbar cut-out with the Restart Audio button
    QPushButton* DismissButton = nullptr;

    // Replaces the two texts (the F6 stop has texts of its own).
    void SetTexts(const QString& first, const QString& second);
};

} // namespace varko
