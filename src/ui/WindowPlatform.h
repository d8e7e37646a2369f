// What the window asks of the desktop, gathered in one place: the window is handed these at
// its construction, so that a test hands it its own and no one has to put anything back.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QDialog;
class QUrl;

namespace varko {

class IAudioHost;
class TTabletEventSource;
class TTone;

struct TWindowPlatform {
    std::function<int(QDialog&)> ExecModal; // shows a window modally
    std::function<void(int)> Halt;          // ends the process at once
    // The desktop's default handler; false when nothing could open the address.
    std::function<bool(const QUrl&)> OpenUrl;
    std::function<uint32_t()> TickCount;                     // milliseconds, wraps
    std::function<std::unique_ptr<IAudioHost>()> CreateHost; // none: the one the settings choose
    std::function<void(TTabletEventSource&)> ProbeTablet;    // after Qt's own probe
    std::function<std::unique_ptr<TTone>()> MakeTone;        // none: the real one
    std::function<QString()> MusicFolder;                    // recordings go to its Varko folder

    // The desktop's own: a modal exec, _Exit, the browser, the steady clock, the Music folder.
    static TWindowPlatform Desktop();
};

} // namespace varko
