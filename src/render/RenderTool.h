// Checks the render tool makes before it plays or writes anything.
#pragma once

#include "render/GestureScript.h"

#include <string>

namespace varko {

// Whether two paths reach the same file (links followed; compared by device and inode, not by
// name). A path that names no existing file is no other file.
bool SameFile(const std::string& a, const std::string& b);

// Every tone event of the script names a tone of the bank (toneCount tones). Otherwise false,
// with a message naming the script's path and the line.
bool CheckScriptTones(const TGestureScript& script, int toneCount, const std::string& scriptPath,
                      std::string& error);

} // namespace varko
