#include "ui/dialogs/NoAudioDeviceNotice.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QPixmap>
#include <QPushButton>

namespace varko {

TVarkoNoAsioWindow::TVarkoNoAsioWindow(QWidget* parent) : TVarkoNoTabletWindow(parent) {
    setObjectName("VarkoNoAsioWindow");
    setFixedSize(449, 193);
    Image1->setPixmap(QPixmap(QStringLiteral(":/BadgeWarning")));
    Label1->setText("Varko could not find any audio output devices.");
    Label1->setGeometry(144, 16, 297, std::max(17, Label1->heightForWidth(297)));
    Label2->setText(QStringLiteral("To run Varko, you must have sound drivers with audio support. "
                                   "If your hardware manufacturer does not provide the appropriate "
                                   "drivers, you can try installing %1 (or PipeWire with its JACK "
                                   "support).")
                        .arg(ServerName));
    Label2->setGeometry(144, 48, 289, std::max(41, Label2->heightForWidth(289)));
    Label3 = AddLink(this, QStringLiteral("Go to the %1 web site.").arg(ServerName), ServerUrl, 144,
                     112, 289, 17);
    Button1->setText("Quit");
    Button1->setGeometry(192, 152, 75, 25);
}

} // namespace varko
