#include "ui/dialogs/NoticeLayout.h"

#include <QDesktopServices>
#include <QFont>
#include <QPixmap>
#include <QUrl>

#include <algorithm>

namespace varko {

void SetupFixedDialog(QDialog* dialog, int clientWidth, int clientHeight, const QString& caption) {
    dialog->setWindowTitle(caption);
    dialog->setFixedSize(clientWidth, clientHeight);
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    QFont f = dialog->font();
    f.setPointSize(8);
    dialog->setFont(f);
}

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int width, int height,
                 bool bold) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    const int needed = l->heightForWidth(width);
    l->setGeometry(x, y, width, std::max(height, needed));
    return l;
}

QLabel* AddPicture(QWidget* parent, const QString& resource, int x, int y, int w, int h) {
    auto* l = new QLabel(parent);
    QPixmap pm(resource);
    if (!pm.isNull() && (pm.width() != w || pm.height() != h)) {
        pm = pm.scaled(w, h, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    l->setPixmap(pm);
    l->setGeometry(x, y, w, h);
    return l;
}

QLabel* AddLink(QWidget* parent, const QString& text, const QString& url, int x, int y, int width,
                int height) {
    auto* l =
        AddLabel(parent, QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text.toHtmlEscaped()), x,
                 y, width, height);
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::TextBrowserInteraction);
    l->setOpenExternalLinks(false);
    l->setCursor(Qt::PointingHandCursor);
    QObject::connect(l, &QLabel::linkActivated,
                     [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
    return l;
}

} // namespace varko
