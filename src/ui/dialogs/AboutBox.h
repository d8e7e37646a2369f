// The about box: not modal, stays on top while the player goes on playing.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace varko {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* NameLabel = nullptr;    // "Varko"
    QLabel* VersionLabel = nullptr; // the version
    QLabel* Tagline = nullptr;
    QLabel* GuideLink = nullptr;       // link to the user guide
    QPlainTextEdit* Credits = nullptr; // credits

    static constexpr const char* Version = "1.01";
};

// Full path of "User Guide.htm": beside the executable, or in the source tree's resources
// when running from a build tree.
QString UserGuidePath();

} // namespace varko
