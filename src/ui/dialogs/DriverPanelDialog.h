// The audio driver's own panel: the player picks the device's buffer size and sample rate
// among what it accepts. The driver layer has no toolkit, so the window installs this.
#pragma once

#include "audio/DriverPanel.h"

#include <QDialog>

class QComboBox;
class QPushButton;

namespace varko {

class TDriverPanelDialog : public QDialog {
    Q_OBJECT
public:
    explicit TDriverPanelDialog(const TDriverPanelOffer& offer, QWidget* parent = nullptr);

    QComboBox* BufferSizeCombo = nullptr;
    QComboBox* SampleRateCombo = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    TDriverPanelChoice Choice() const;
};

// Installs a presenter that shows TDriverPanelDialog modally over parent (the settings dialog).
void InstallDriverPanelPresenter(QWidget* parent);

} // namespace varko
