#include "ui/dialogs/NoTabletNotice.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QCheckBox>
#include <QPushButton>

namespace varko {

TNoTabletNotice::TNoTabletNotice(QWidget* parent) : QDialog(parent) {
    setObjectName("NoTabletNotice");
    SetupFixedDialog(this, 449, 185);
    CentreOnScreen(this);
    Badge = AddPicture(this, QStringLiteral("BadgeInfo"), 8, 8, 128, 129);
    Headline =
        AddLabel(this, "Varko could not find any graphics tablets connected to this computer.", 144,
                 24, 297, 33, true);
    Advice = AddLabel(this,
                      "You will be able to generate sounds using the left mouse button. However, "
                      "to get the most out of Varko, it is recommended that you use a graphics "
                      "tablet.",
                      144, 72, 289, 57);
    DismissButton = new QPushButton("OK", this);
    DismissButton->setGeometry(192, 144, 75, 25);
    DismissButton->setDefault(true);
    DontShowBox = new QCheckBox(QStringLiteral("Don't show this again"), this);
    DontShowBox->setGeometry(290, 148, 151, std::max(17, DontShowBox->sizeHint().height()));
    connect(DismissButton, &QPushButton::clicked, this, &TNoTabletNotice::DismissClick);
}

void TNoTabletNotice::DismissClick() {
    close();
}

} // namespace varko
