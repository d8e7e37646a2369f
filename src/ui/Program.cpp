#include "ui/Program.h"

#include "core/Exceptions.h"
#include "ui/MainWindow.h"
#include "ui/Resources.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace varko {

int RunVarko(int& argc, char** argv) {
    TVarkoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varko"));
    QApplication::setApplicationDisplayName(QStringLiteral("Varko"));
    InitResources();
    QApplication::setWindowIcon(
        QIcon(QPixmap::fromImage(ResourceImage(QStringLiteral("AppIcon")))));

    // Creating the main window runs the whole start-up.
    std::unique_ptr<TMainWindow> mainWin;
    try {
        mainWin = std::make_unique<TMainWindow>();
    } catch (const std::exception& e) {
        // Nothing else can show it yet: the crash window belongs to the main window.
        std::fprintf(stderr, "%s@TMainWindow: %s\n", DemangledName(typeid(e).name()).c_str(),
                     e.what());
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

    mainWin->show();
    const int rc = QApplication::exec();
    mainWin->AboutBox = nullptr;
    return rc;
}

} // namespace varko
