// The window shown before the program halts after an unhandled error.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace varko {

class TVarkoCrashWin : public QDialog {
    Q_OBJECT
public:
    explicit TVarkoCrashWin(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPlainTextEdit* hatabilgileri = nullptr; // the error information
    QPushButton* Button1 = nullptr;

    // The memo's whole text: "class@sender: message".
    void SetErrorText(const QString& text);
    QString ErrorText() const;

private:
    void Button1Click();
};

} // namespace varko
