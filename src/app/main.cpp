// Varko: the instrument's window, its notices and the about box, then the event loop.
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"
#include "ui/Resources.h"
#include "ui/VarkoApplication.h"
#include "ui/MainWindow.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

int main(int argc, char** argv) {
    varko::TVarkoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varko"));
    QApplication::setApplicationDisplayName(QStringLiteral("Varko"));
    varko::InitResources();
    QApplication::setWindowIcon(
        QIcon(QPixmap::fromImage(varko::ResourceImage(QStringLiteral("AppIcon")))));

    // Creating the main window runs the whole start-up.
    std::unique_ptr<varko::TMainWindow> mainWin;
    try {
        mainWin = std::make_unique<varko::TMainWindow>();
    } catch (const std::exception& e) {
        // Nothing else can show it yet: the crash window belongs to the main window.
        std::fprintf(stderr, "%s@TMainWindow: %s\n", varko::DemangledName(typeid(e).name()).c_str(),
                     e.what());
        return EXIT_FAILURE;
    }
    if (mainWin->Halted) {
        return EXIT_SUCCESS;
    }
    varko::TAboutBox about(mainWin.get());
    mainWin->AboutBox = &about;
    varko::TNoTabletNotice noTablet;
    varko::TNoAudioDeviceNotice noAsio;
    about.hide();
    noTablet.hide();
    noAsio.hide();

    mainWin->show();
    const int rc = QApplication::exec();
    mainWin->AboutBox = nullptr;
    return rc;
}
