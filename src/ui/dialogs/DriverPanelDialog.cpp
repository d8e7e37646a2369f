#include "ui/dialogs/DriverPanelDialog.h"

#include "ui/dialogs/NoticeLayout.h"

#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>

namespace varko {

TDriverPanelDialog::TDriverPanelDialog(const TDriverPanelOffer& offer, QWidget* parent)
    : QDialog(parent) {
    setObjectName("DriverPanelDialog");
    SetupFixedDialog(this, 300, 132, QString::fromStdString(offer.DriverName));
    AddLabel(this, "Buffer size:", 8, 12, 100, 17);
    BufferSizeCombo = new QComboBox(this);
    BufferSizeCombo->setObjectName("BufferSizeCombo");
    BufferSizeCombo->setGeometry(112, 8, 180, 24);
    for (const uint32_t size : offer.BufferSizes) {
        BufferSizeCombo->addItem(QStringLiteral("%1 samples").arg(size), size);
        if (size == offer.CurrentBufferSize) {
            BufferSizeCombo->setCurrentIndex(BufferSizeCombo->count() - 1);
        }
    }
    AddLabel(this, "Sample rate:", 8, 48, 100, 17);
    SampleRateCombo = new QComboBox(this);
    SampleRateCombo->setObjectName("SampleRateCombo");
    SampleRateCombo->setGeometry(112, 44, 180, 24);
    for (const double rate : offer.SampleRates) {
        SampleRateCombo->addItem(QStringLiteral("%1 Hz").arg(rate, 0, 'f', 0), rate);
        if (rate == offer.CurrentSampleRate) {
            SampleRateCombo->setCurrentIndex(SampleRateCombo->count() - 1);
        }
    }
    OkBtn = new QPushButton("OK", this);
    OkBtn->setGeometry(136, 96, 75, 25);
    OkBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setGeometry(217, 96, 75, 25);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

TDriverPanelChoice TDriverPanelDialog::Choice() const {
    TDriverPanelChoice c;
    c.BufferSize = BufferSizeCombo->currentData().toUInt();
    c.SampleRate = SampleRateCombo->currentData().toDouble();
    return c;
}

void InstallDriverPanelPresenter(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    SetDriverPanelPresenter([owner](const TDriverPanelOffer& offer, TDriverPanelChoice& choice) {
        TDriverPanelDialog panel(offer, owner ? owner.data() : QApplication::activeWindow());
        if (panel.exec() != QDialog::Accepted) {
            return false;
        }
        choice = panel.Choice();
        return true;
    });
}

} // namespace varko
