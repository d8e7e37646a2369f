// The instrument's program: its window, notices and about box, then the event loop.
#pragma once

#include "ui/WindowPlatform.h"

#include <memory>

namespace varko {

class TMainWindow;

// Runs Varko; returns the process's exit status.
int RunVarko(int& argc, char** argv);

// Whether a window can be shown: a display to connect to, or a platform chosen for Qt.
bool HasDesktop(int argc, char** argv);

// Creates the main window, which runs the start-up. An exception that escapes it is shown in
// the crash window and the program halts (none is returned then).
std::unique_ptr<TMainWindow>
CreateMainWindow(TWindowPlatform platform = TWindowPlatform::Desktop());

} // namespace varko
