#include "ui/dialogs/AudioStoppedNotice.h"

#include "ui/dialogs/NoticeLayout.h"
#include "core/Texts.h"

#include <QPushButton>

namespace varko {

TVarkoCPUwarningWin::TVarkoCPUwarningWin(QWidget* parent) : QDialog(parent) {
    setObjectName("VarkoCPUwarningWin");
    SetupFixedDialog(this, 465, 185);
    AddPicture(this, QStringLiteral(":/BadgeWarning"), 8, 8, 128, 129);
    Label1 = AddLabel(this, text::LoadStopped, 152, 16, 305, 17, true);
    Label2 = AddLabel(this, text::LoadAdvice, 152, 48, 177, 49);
    Image2 = AddPicture(this, QStringLiteral(":/LoadToolbar"), 344, 48, 107, 57);
    Button1 = new QPushButton("OK", this);
    Button1->setGeometry(200, 144, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TVarkoCPUwarningWin::SetTexts(const QString& first, const QString& second) {
    Label1->setText(first);
    Label2->setText(second);
}

} // namespace varko
