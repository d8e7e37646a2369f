// The user guide in a window of the program's own, for desktops without a web browser.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace varko {

class TUserGuideWindow : public QDialog {
    Q_OBJECT
public:
    // path: the guide's file; a missing one is named in the window instead.
    explicit TUserGuideWindow(const QString& path, QWidget* parent = nullptr);

    QTextBrowser* Browser = nullptr;
};

// Whether the desktop has a web browser to open the guide and web pages with: xdg-open and a
// handler for web pages (a default one, $BROWSER, or one of the usual browsers).
bool WebBrowserAvailable();

} // namespace varko
