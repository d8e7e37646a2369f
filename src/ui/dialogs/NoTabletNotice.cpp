#include "ui/dialogs/NoTabletNotice.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QPushButton>

namespace varko {

TVarkoNoTabletWindow::TVarkoNoTabletWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("VarkoNoTabletWindow");
    SetupFixedDialog(this, 449, 185);
    Image1 = AddPicture(this, QStringLiteral(":/BadgeInfo"), 8, 8, 128, 129);
    Label1 = AddLabel(this, "Varko could not find any graphics tablets connected to this computer.",
                      144, 24, 297, 33, true);
    Label2 = AddLabel(this,
                      "You will be able to generate sounds using the left mouse button. However, "
                      "to get the most out of Varko, it is recommended that you use a graphics "
                      "tablet.",
                      144, 72, 289, 57);
    Button1 = new QPushButton("OK", this);
    Button1->setGeometry(192, 144, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TVarkoNoTabletWindow::Button1Click);
}

void TVarkoNoTabletWindow::Button1Click() {
    close();
}

} // namespace varko
