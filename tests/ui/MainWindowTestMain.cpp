// GoogleTest main for the main window: Varko's own application object, offscreen.
#include "ui/VarkoApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VARKO_TEST", "1");
    varko::TVarkoApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
