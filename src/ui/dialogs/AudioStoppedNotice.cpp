#include "ui/dialogs/AudioStoppedNotice.h"

#include "core/Texts.h"
#include "ui/dialogs/NoticeLayout.h"

#include <QPushButton>

namespace varko {

TAudioStoppedNotice::TAudioStoppedNotice(QWidget* parent) : QDialog(parent) {
    setObjectName("AudioStoppedNotice");
    SetupFixedDialog(this, 465, 185);
    CentreOnScreen(this);
    AddPicture(this, QStringLiteral("BadgeWarning"), 8, 8, 128, 129);
    Headline = AddLabel(this, text::LoadStopped, 152, 16, 305, 17, true);
    Advice = AddLabel(this, text::LoadAdvice, 152, 48, 177, 49);
    ToolbarPicture = AddPicture(this, QStringLiteral("LoadToolbar"), 344, 48, 107, 57);
    DismissButton = new QPushButton("OK", this);
    DismissButton->setGeometry(200, 144, 75, 25);
    DismissButton->setDefault(true);
    connect(DismissButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAudioStoppedNotice::SetTexts(const QString& first, const QString& second) {
    Headline->setText(first);
    Advice->setText(second);
}

} // namespace varko
