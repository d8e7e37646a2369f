#include "ui/Resources.h"

#include "ui/ImageButton.h"

#include <QPixmap>

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

QCursor PenCursor() {
    return QCursor(QPixmap::fromImage(ResourceImage(QStringLiteral("PENCURSOR"))), 2, 3);
}

void SetupToolbarButton(TImageButton& button, const QString& name) {
    button.resize(50, 50);
    button.SetButtonStyle(TImageButtonStyle::pbsNoFrame);
    button.SetButtonLayout(TImageButtonLayout::pbsImageAbove);
    button.SetImageNormal(ResourceImage(name));
    button.SetImageDown(ResourceImage(name + QStringLiteral("Down")));
}

} // namespace varko
