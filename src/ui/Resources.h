// The program's pictures, compiled in from resources/varko.qrc.
#pragma once

#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace varko {

// Registers the compiled-in resources (needed once, the library being static).
void InitResources();

// A picture by its resource alias ("metal1", "PENCURSOR", "OpenScaleBtn", ...); null if unknown.
QImage ResourceImage(const QString& alias);

// The picture for screens of the given pixel ratio (the application's highest by default): the
// art drawn at twice the pixels ("alias@2x", pixel ratio 2) above ratio 1, where there is one.
// Its logical size is the plain picture's either way.
QImage ScreenImage(const QString& alias, qreal pixelRatio = 0);
QPixmap ScreenPixmap(const QString& alias, qreal pixelRatio = 0);

// The pen cursor, hot spot (2, 3).
QCursor PenCursor();

class TImageButton;
// Makes a 50 x 50 toolbar button of an image button: no frame, image above the caption, the
// rest image `name` and the pressed image `name`Down ("OpenScaleBtn", "ParametersBtn",
// "ContentsBtn", "SettingsBtn", "HelpBtn", "RestartBtn"), for screens of the given pixel ratio.
void SetupToolbarButton(TImageButton& button, const QString& name, qreal pixelRatio = 0);

} // namespace varko
