// The window shown before the program halts after an unhandled error.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace varko {

class TCrashWindow : public QDialog {
    Q_OBJECT
public:
    explicit TCrashWindow(QWidget* parent = nullptr);

    QLabel* Headline = nullptr;
    QLabel* Advice = nullptr;
    QPlainTextEdit* ErrorBox = nullptr; // the error information
    QPushButton* DismissButton = nullptr;

    // The memo's whole text: "class@sender: message".
    void SetErrorText(const QString& text);
    QString ErrorText() const;

private:
    void DismissClick();
};

} // namespace varko
