// Folders the program brings with it.
#pragma once

#include <QString>

namespace varko {

// A folder of the shipped examples ("scales", "modes", "gestures"): where the installation put
// it (share/varko/examples beside lib/varko), else the source tree's when run from a build.
// Empty when neither exists.
QString ExamplesFolder(const QString& kind);

} // namespace varko
