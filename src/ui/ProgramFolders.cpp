#include "ui/ProgramFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace varko {

QString ExamplesFolder(const QString& kind) {
    QStringList candidates{QDir(QCoreApplication::applicationDirPath())
                               .filePath(QStringLiteral("../../share/varko/examples/") + kind)};
#ifdef VARKO_SOURCE_EXAMPLES
    candidates << QDir(QStringLiteral(VARKO_SOURCE_EXAMPLES)).filePath(kind);
#endif
    for (const QString& c : candidates) {
        if (QFileInfo(c).isDir()) {
            return QDir::cleanPath(QFileInfo(c).absoluteFilePath());
        }
    }
    return {};
}

} // namespace varko
