// The start-up notice for a machine without any audio output device; Varko then quits.
#pragma once

#include "ui/dialogs/NoTabletNotice.h"

namespace varko {

class TNoAudioDeviceNotice : public TNoTabletNotice {
    Q_OBJECT
public:
    explicit TNoAudioDeviceNotice(QWidget* parent = nullptr);

    QLabel* ServerLink = nullptr; // link to the recommended audio server's web site

    // The free audio server the notice recommends, and its web site.
    static constexpr const char* ServerName = "JACK Audio Connection Kit";
    static constexpr const char* ServerUrl = "https://jackaudio.org/";
};

} // namespace varko
