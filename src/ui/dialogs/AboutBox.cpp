#include "ui/dialogs/AboutBox.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPalette>
#include <QPlainTextEdit>
#include <QUrl>

#include <algorithm>

namespace varko {

QString UserGuidePath() {
    const QString besideProgram =
        QDir(QCoreApplication::applicationDirPath()).filePath("User Guide.htm");
    if (QFileInfo::exists(besideProgram)) {
        return besideProgram;
    }
#ifdef VARKO_SOURCE_RESOURCES
    const QString inSources = QDir(VARKO_SOURCE_RESOURCES).filePath("User Guide.htm");
    if (QFileInfo::exists(inSources)) {
        return inSources;
    }
#endif
    return besideProgram;
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox");
    SetupFixedDialog(this, 435, 209);
    CentreOnScreen(this);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setModal(false);
    AddPicture(this, QStringLiteral("About"), 8, 0, 203, 205);
    // The name as wide as it is in bold, the version right after it.
    NameLabel = AddLabel(this, "Varko", 224, 8, 33, 17, true);
    NameLabel->setWordWrap(false);
    NameLabel->resize(std::max(33, NameLabel->sizeHint().width()), 17);
    const int versionX = NameLabel->geometry().right() + 6;
    VersionLabel = AddLabel(this, Version, versionX, 8, 425 - versionX, 17);
    Tagline = AddLabel(this, "A physical-modelling instrument by the Varko developers.", 224, 24,
                       201, 17);
    // There is no web home page; the link opens the guide that comes with the program.
    // A tagline that wraps pushes the link and the credits down rather than under itself.
    const int linkY = std::max(48, Tagline->geometry().bottom() + 3);
    GuideLink = AddLink(this, "Varko User Guide", QUrl::fromLocalFile(UserGuidePath()).toString(),
                        224, linkY, 177, 17);
    const int creditsY = std::max(80, GuideLink->geometry().bottom() + 9);
    Credits = new QPlainTextEdit(this);
    Credits->setGeometry(224, creditsY, 201, 201 - creditsY);
    Credits->setReadOnly(true);
    Credits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont small = Credits->font();
    small.setPointSize(7);
    Credits->setFont(small);
    QPalette p = Credits->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Button));
    Credits->setPalette(p);
    Credits->setPlainText(
        "Audio: the driver model of ASIO, a technology and trademark of Steinberg Media "
        "Technologies GmbH, kept as the interface between Varko's host and its drivers. "
        "The drivers run on RtAudio by Gary P. Scavone (JACK, ALSA and PulseAudio) and the "
        "JACK Audio Connection Kit.\n\n"
        "PNG images: libpng and zlib, through Qt's image reader.\n\n"
        "Tablet input and windows: Qt 6 by The Qt Company and the Qt Project.\n\n"
        "Audio files: libsndfile by Erik de Castro Lopo.");
}

} // namespace varko
