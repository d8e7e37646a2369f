#include "ui/Program.h"

#include "core/Exceptions.h"
#include "core/Texts.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/CrashWindow.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace varko {

bool HasDesktop(int argc, char** argv) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<TMainWindow> CreateMainWindow(TWindowPlatform platform) {
    // The crash window below needs the hooks after the window that held them is gone.
    const TWindowPlatform hooks = platform;
    try {
        return std::make_unique<TMainWindow>(std::move(platform));
    } catch (...) {
        const TExceptionInfo info = CurrentException();
        // The window's handler went with the window; this crash window is the last word.
        TVarkoApplication::gOnException = nullptr;
        TCrashWindow crash;
        crash.SetErrorText(QString::fromStdString(info.Class + "@TMainWindow: " + info.Message));
        hooks.ExecModal(crash);
        hooks.Halt(EXIT_FAILURE);
        return nullptr;
    }
}

int RunVarko(int& argc, char** argv) {
    // Qt would end with its platform plugin's error, which tells a player nothing.
    if (!HasDesktop(argc, argv)) {
        std::fprintf(stderr, "%s\n", text::NeedsDesktop);
        return EXIT_FAILURE;
    }
    TVarkoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varko"));
    QApplication::setApplicationDisplayName(QStringLiteral("Varko"));
    InitResources();
    QApplication::setWindowIcon(
        QIcon(QPixmap::fromImage(ResourceImage(QStringLiteral("AppIcon")))));

    // Creating the main window runs the whole start-up.
    std::unique_ptr<TMainWindow> mainWin = CreateMainWindow();
    if (!mainWin) {
        return EXIT_FAILURE;
    }
    if (mainWin->Halted) {
        return EXIT_SUCCESS;
    }
    TAboutBox about(mainWin.get());
    mainWin->AboutBox = &about;
    TNoTabletNotice noTablet;
    TNoAudioDeviceNotice noAsio;
    about.hide();
    noTablet.hide();
    noAsio.hide();

    mainWin->ShowOnScreen();
    const int rc = QApplication::exec();
    mainWin->AboutBox = nullptr;
    return rc;
}

} // namespace varko
