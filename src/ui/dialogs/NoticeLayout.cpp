#include "ui/dialogs/NoticeLayout.h"

#include "ui/Resources.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
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

bool Centred(const QWidget* window) {
    const QRect area = window->screen()->availableGeometry();
    return (window->frameGeometry().center() - area.center()).manhattanLength() <= 2;
}

// Moves its window to the middle of its screen each time it is shown (before it is mapped), and
// again when the window manager has framed and placed it: the frame is not known before, and no
// event says when it is.
class TScreenCentring : public QObject {
public:
    explicit TScreenCentring(QWidget* window) : QObject(window), window_(window) {
        frameWatch_.setInterval(20);
        connect(&frameWatch_, &QTimer::timeout, this, [this] {
            const QRect frame = window_->frameGeometry();
            const bool framed = frame != window_->geometry();
            // Framed, in the middle and still for a few looks (the window manager may report
            // passing sizes while it maps), or a second without a frame (no window manager):
            // from now on the window is the player's to move.
            steady_ = framed && Centred(window_) && frame == lastFrame_ ? steady_ + 1 : 0;
            lastFrame_ = frame;
            if (steady_ >= 3 || (!framed && looks_ >= 50) || looks_ >= 100) {
                frameWatch_.stop();
            } else if (framed && !Centred(window_) && moves_ < 5) {
                ++moves_;
                CentreOnScreenNow(window_);
            }
            ++looks_;
        });
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show && !event->spontaneous()) {
            CentreOnScreenNow(window_);
            looks_ = moves_ = steady_ = 0;
            frameWatch_.start();
        }
        return false;
    }

private:
    QWidget* window_;
    QTimer frameWatch_;
    QRect lastFrame_;
    int looks_ = 0, moves_ = 0, steady_ = 0;
};

} // namespace

void CentreOnScreenNow(QWidget* window) {
    const QScreen* screen = window->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    // However much the screen scales the window, all of it, frame and all, stays on the screen.
    const QSize over = (frame.size() - area.size()).expandedTo(QSize(0, 0));
    if (over.width() > 0 || over.height() > 0) {
        const QSize margins = frame.size() - window->size();
        // A minimum size that would push the title bar off a small screen gives way to it.
        window->setMinimumSize(window->minimumSize().boundedTo(area.size() - margins));
        const QSize size = (window->size() - over).expandedTo(window->minimumSize());
        window->resize(size);
        frame.setSize(size + margins);
    }
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void CentreOnScreen(QWidget* window) {
    window->installEventFilter(new TScreenCentring(window));
}

} // namespace varko
