#include "ui/dialogs/CrashWindow.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

namespace varko {

TVarkoCrashWin::TVarkoCrashWin(QWidget* parent) : QDialog(parent) {
    setObjectName("VarkoCrashWin");
    SetupFixedDialog(this, 431, 209);
    AddPicture(this, QStringLiteral(":/BadgeCrash"), 8, 8, 128, 129);
    Label1 =
        AddLabel(this, "Varko was shut down due to an unhandled error.", 144, 16, 273, 17, true);
    Label2 = AddLabel(this, "Error Information:", 144, 48, 233, 17);
    hatabilgileri = new QPlainTextEdit(this);
    hatabilgileri->setObjectName("hatabilgileri");
    hatabilgileri->setGeometry(144, 64, 273, 73);
    hatabilgileri->setReadOnly(true);
    hatabilgileri->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette p = hatabilgileri->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Button));
    hatabilgileri->setPalette(p);
    hatabilgileri->setPlainText("No information available.");
    Button1 = new QPushButton("Close", this);
    Button1->setGeometry(184, 168, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TVarkoCrashWin::Button1Click);
}

void TVarkoCrashWin::SetErrorText(const QString& text) {
    hatabilgileri->setPlainText(text);
}

QString TVarkoCrashWin::ErrorText() const {
    return hatabilgileri->toPlainText();
}

void TVarkoCrashWin::Button1Click() {
    close();
}

} // namespace varko
