#include "ui/dialogs/NoticeLayout.h"

#include "ui/Resources.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QPixmap>
#include <QScreen>
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

QLabel* AddPicture(QWidget* parent, const QString& alias, int x, int y, int w, int h) {
    auto* l = new QLabel(parent);
    QPixmap pm = ScreenPixmap(alias);
    const QSize shown = pm.deviceIndependentSize().toSize();
    if (!pm.isNull() && (shown.width() != w || shown.height() != h)) {
        const qreal ratio = pm.devicePixelRatio();
        pm = pm.scaled(QSize(w, h) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pm.setDevicePixelRatio(ratio);
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

namespace {

// Moves its window to the middle of its screen each time it is shown (before it is mapped).
class TScreenCentring : public QObject {
public:
    explicit TScreenCentring(QWidget* window) : QObject(window), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show) {
            CentreOnScreenNow(window_);
        }
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

void CentreOnScreenNow(QWidget* window) {
    const QScreen* screen = window->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void CentreOnScreen(QWidget* window) {
    window->installEventFilter(new TScreenCentring(window));
}

} // namespace varko
