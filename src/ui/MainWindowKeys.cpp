// The main window's function keys (on release) and Ctrl+R (on press), whatever control has the
// focus.
#include "ui/MainWindow.h"

#include "ui/StatusPanels.h"

#include <QKeyEvent>

namespace varko {

bool TMainWindow::FunctionKey(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) {
        return false;
    }
    switch (key) {
    case Qt::Key_F1:
        HelpMenuItemClick();
        return true;
    case Qt::Key_F2:
        OpenScaleBtnClick();
        return true;
    case Qt::Key_F3:
        ParametersBtnClick();
        return true;
    case Qt::Key_F4:
        ContentsBtnClick();
        return true;
    case Qt::Key_F5:
        ApplyParametersBtnClick();
        return true;
    case Qt::Key_F6:
        StopAudio();
        return true;
    case Qt::Key_F9:
        toolbarPanel_->setVisible(!toolbarPanel_->isVisible());
        return true;
    case Qt::Key_F10:
        statusBar_->setVisible(!statusBar_->isVisible());
        return true;
    case Qt::Key_F11:
        // The desktop's own full screen: no border, the whole screen, and the bordered window
        // given back where it was. Taking the border away ourselves makes a new native window,
        // which the window manager places a title bar lower.
        if (isFullScreen()) {
            showNormal();
        } else {
            showFullScreen();
        }
        return true;
    case Qt::Key_F12:
        SettingsBtnClick();
        return true;
    default:
        return false;
    }
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if ((press || event->type() == QEvent::KeyRelease) && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (w->window() == this && !key->isAutoRepeat()) {
            // The function keys act as they are let go, as they always have.
            if (!press && FunctionKey(key->key(), key->modifiers())) {
                return true; // handled once, not again by the parents
            }
            // Ctrl+R records, whatever control has the focus, as it is pressed: on release
            // the common roll-over (Ctrl let go a moment before R) would read as a plain R.
            if (press && key->key() == Qt::Key_R &&
                (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
                RecordBtnClick();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace varko
