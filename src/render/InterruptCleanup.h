// The render's hidden temporary file removed when SIGINT, SIGTERM or SIGHUP ends the process
// (Ctrl+C, kill, a closed terminal): otherwise it stays beside the output, as large as the
// render had got.
#pragma once

namespace varko {

// From now on an interrupting signal removes path (one file at a time), then ends the process
// as the signal would have. A signal the process ignores (nohup) stays ignored.
void RemoveIfInterrupted(const char* path);
// The file is no longer the process's to remove (renamed into place, or removed).
void ForgetInterruptCleanup();

} // namespace varko
