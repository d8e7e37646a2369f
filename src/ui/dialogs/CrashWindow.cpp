#include "ui/dialogs/CrashWindow.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

namespace varko {

TCrashWindow::TCrashWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("CrashWindow");
    SetupFixedDialog(this, 431, 209);
    CentreOnScreen(this);
    AddPicture(this, QStringLiteral("BadgeCrash"), 8, 8, 128, 129);
    Headline =
        AddLabel(this, "Varko was shut down due to an unhandled error.", 144, 16, 273, 17, true);
    Advice = AddLabel(this, "Error Information:", 144, 48, 233, 17);
    ErrorBox = new QPlainTextEdit(this);
    ErrorBox->setObjectName("ErrorBox");
    ErrorBox->setGeometry(144, 64, 273, 73);
    ErrorBox->setReadOnly(true);
    ErrorBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette p = ErrorBox->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Button));
    ErrorBox->setPalette(p);
    ErrorBox->setPlainText("No information available.");
    DismissButton = new QPushButton("Close", this);
    DismissButton->setGeometry(184, 168, 75, 25);
    DismissButton->setDefault(true);
    connect(DismissButton, &QPushButton::clicked, this, &TCrashWindow::DismissClick);
}

void TCrashWindow::SetErrorText(const QString& text) {
    ErrorBox->setPlainText(text);
}

QString TCrashWindow::ErrorText() const {
    return ErrorBox->toPlainText();
}

void TCrashWindow::DismissClick() {
    close();
}

} // namespace varko
