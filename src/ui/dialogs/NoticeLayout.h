// Helpers shared by the small fixed windows: a fixed client area, widgets at given
// rectangles, the program's 8-point font, labels that grow downwards when the font is wider.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QString>

namespace varko {

// Makes the dialog a fixed-size, non-resizable window with the caption "Varko" or caption.
void SetupFixedDialog(QDialog* dialog, int clientWidth, int clientHeight,
                      const QString& caption = QStringLiteral("Varko"));

// A label at (x, y) of the given width; its height is at least height and grows for
// wrapped text.
QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int width, int height,
                 bool bold = false);

// A picture from the resources by its alias, shown at (x, y) in its own size (or scaled to
// w x h), drawn for the screen's pixel density.
QLabel* AddPicture(QWidget* parent, const QString& alias, int x, int y, int w, int h);

// The window, frame and all, is centred on its screen (and shrunk to fit it where it can be)
// whenever it is shown and again once the window manager has framed it; ...Now does it at once.
void CentreOnScreen(QWidget* window);
void CentreOnScreenNow(QWidget* window);

// A label that looks and acts like a web link (underlined, link colour, hand cursor).
QLabel* AddLink(QWidget* parent, const QString& text, const QString& url, int x, int y, int width,
                int height);

} // namespace varko
