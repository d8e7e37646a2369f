// The instrument's program: its window, notices and about box, then the event loop.
#pragma once

namespace varko {

// Runs Varko; returns the process's exit status.
int RunVarko(int& argc, char** argv);

} // namespace varko
