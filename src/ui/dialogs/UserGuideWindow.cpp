#include "ui/dialogs/UserGuideWindow.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QFileInfo>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace varko {

TUserGuideWindow::TUserGuideWindow(const QString& path, QWidget* parent) : QDialog(parent) {
    setObjectName("UserGuideWindow");
    setWindowTitle(QStringLiteral("Varko User Guide"));
    setModal(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    Browser = new QTextBrowser(this);
    // Links to the web go to a browser if one appears later; links within the guide stay here.
    Browser->setOpenExternalLinks(true);
    if (QFileInfo::exists(path)) {
        Browser->setSource(QUrl::fromLocalFile(path));
    } else {
        Browser->setPlainText(QStringLiteral("The user guide was not found at %1.").arg(path));
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Browser);
    const QSize wanted(760, 640);
    resize(screen() != nullptr ? wanted.boundedTo(screen()->availableGeometry().size() * 0.9)
                               : wanted);
    CentreOnScreen(this);
}

bool WebBrowserAvailable() {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        return false;
    }
    if (!qEnvironmentVariableIsEmpty("BROWSER")) {
        return true;
    }
    for (const char* browser : {"x-www-browser", "sensible-browser", "firefox", "firefox-esr",
                                "chromium", "google-chrome", "epiphany", "konqueror", "falkon"}) {
        if (!QStandardPaths::findExecutable(QString::fromLatin1(browser)).isEmpty()) {
            return true;
        }
    }
    // A desktop's own default for web pages.
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForFinished(2000)) {
        query.kill();
        query.waitForFinished(500);
        return false;
    }
    return query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace varko
