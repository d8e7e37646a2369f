// The program's pictures, compiled in from resources/varko.qrc.
#pragma once

#include <QCursor>
#include <QImage>
#include <QString>

namespace varko {

// Registers the compiled-in resources (needed once, the library being static).
void InitResources();

// A picture by its resource alias ("metal1", "PENCURSOR", "OpenScaleBtn", ...); null if unknown.
QImage ResourceImage(const QString& alias);

// The pen cursor, hot spot (2, 3).
QCursor PenCursor();

class TImageButton;
// Makes a 50 x 50 toolbar button of an image button: no frame, image above the caption, the
// rest image `name` and the pressed image `name`Down ("OpenScaleBtn", "ParametersBtn",
// "ContentsBtn", "SettingsBtn", "HelpBtn", "RestartBtn").
void SetupToolbarButton(TImageButton& button, const QString& name);

} // namespace varko
