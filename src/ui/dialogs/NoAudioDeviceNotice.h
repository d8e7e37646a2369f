// The start-up notice for a machine without any audio output device; Varko then quits.
#pragma once

#include "ui/dialogs/NoTabletNotice.h"

namespace varko {

class TVarkoNoAsioWindow : public TVarkoNoTabletWindow {
    Q_OBJECT
public:
    explicit TVarkoNoAsioWindow(QWidget* parent = nullptr);

    QLabel* Label3 = nullptr; // link to the recommended audio server's web site

    // The free audio server the notice recommends, and its web site.
    static constexpr const char* ServerName = "JACK Audio Connection Kit";
    static constexpr const char* ServerUrl = "https://jackaudio.org/";
};

} // namespace varko
