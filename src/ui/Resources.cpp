#include "ui/Resources.h"

#include "ui/ImageButton.h"

#include <QGuiApplication>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitVarkoResources() {
    Q_INIT_RESOURCE(varko);
}

namespace varko {

void InitResources() {
    static const bool once = (InitVarkoResources(), true);
    (void)once;
}

QImage ResourceImage(const QString& alias) {
    InitResources();
    return QImage(QStringLiteral(":/") + alias, "PNG");
}

QImage ScreenImage(const QString& alias, qreal pixelRatio) {
    if (pixelRatio <= 0) {
        pixelRatio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    }
    if (pixelRatio > 1.0) {
        QImage fine = ResourceImage(alias + QStringLiteral("@2x"));
        if (!fine.isNull()) {
            fine.setDevicePixelRatio(2.0);
            return fine;
        }
    }
    return ResourceImage(alias);
}

QPixmap ScreenPixmap(const QString& alias, qreal pixelRatio) {
    return QPixmap::fromImage(ScreenImage(alias, pixelRatio));
}

QCursor PenCursor() {
    // The hot spot is in the picture's logical pixels, whatever its pixel ratio.
    return QCursor(ScreenPixmap(QStringLiteral("PENCURSOR")), 2, 3);
}

void SetupToolbarButton(TImageButton& button, const QString& name, qreal pixelRatio) {
    button.resize(50, 50);
    button.SetButtonStyle(TImageButtonStyle::pbsNoFrame);
    button.SetButtonLayout(TImageButtonLayout::pbsImageAbove);
    button.SetImageNormal(ScreenImage(name, pixelRatio));
    button.SetImageDown(ScreenImage(name + QStringLiteral("Down"), pixelRatio));
}

} // namespace varko
