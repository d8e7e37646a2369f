#include "ui/dialogs/NoAudioDeviceNotice.h"

#include "ui/Resources.h"
#include "ui/dialogs/NoticeLayout.h"

#include <QPixmap>
#include <QPushButton>

namespace varko {

TNoAudioDeviceNotice::TNoAudioDeviceNotice(QWidget* parent) : TNoTabletNotice(parent) {
    setObjectName("NoAudioDeviceNotice");
    setFixedSize(449, 193);
    Badge->setPixmap(ScreenPixmap(QStringLiteral("BadgeWarning")));
    Headline->setText("Varko could not find any audio output devices.");
    Headline->setGeometry(144, 16, 297, std::max(17, Headline->heightForWidth(297)));
    Advice->setText(QStringLiteral("To run Varko, you must have sound drivers with audio support. "
                                   "If your hardware manufacturer does not provide the appropriate "
                                   "drivers, you can try installing %1 (or PipeWire with its JACK "
                                   "support).")
                        .arg(ServerName));
    Advice->setGeometry(144, 48, 289, std::max(41, Advice->heightForWidth(289)));
    ServerLink = AddLink(this, QStringLiteral("Go to the %1 web site.").arg(ServerName), ServerUrl,
                         144, 112, 289, 17);
    DismissButton->setText("Quit");
    DismissButton->setGeometry(192, 152, 75, 25);
}

} // namespace varko
