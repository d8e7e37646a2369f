// Building the Parameters panel: the scale's and the bank's settings above, the faders and
// Apply below.
#include "ui/MainWindow.h"

#include "core/Texts.h"
#include "engine/FaderLaws.h"
#include "ui/ClipLed.h"
#include "ui/Fader.h"
#include "ui/ImageButton.h"
#include "ui/LevelMeter.h"
#include "ui/LinkLabel.h"
#include "ui/Resources.h"
#include "ui/StatusPanels.h"
#include "ui/ToneZone.h"
#include "ui/UpDown.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace varko {

namespace {

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, bool bold = false) {
    auto* l = new QLabel(text, parent);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    l->move(x, y);
    l->adjustSize();
    return l;
}

// A whole number typed or stepped: an edit of the given width with its arrows at its right.
TUpDown* AddNumberBox(QWidget* parent, QLineEdit*& edit, int x, int y, int width, int min, int max,
                      int value) {
    edit = new QLineEdit(QString::number(value), parent);
    edit->setGeometry(x, y, width, 21);
    auto* arrows = new TUpDown(edit, min, max, value, parent);
    arrows->setGeometry(x + width, y, 14, 21);
    return arrows;
}

QLabel* AddWarnIcon(QWidget* parent, const char* hint, int x, int y) {
    auto* icon = new QLabel(parent);
    icon->setPixmap(QPixmap::fromImage(ResourceImage(QStringLiteral("Warning16"))));
    icon->setGeometry(x, y, 16, 16);
    icon->setToolTip(QString::fromUtf8(hint));
    icon->setToolTipDuration(30000);
    icon->hide();
    return icon;
}

TFader* AddFader(QWidget* parent, int position, std::function<QString(int)> valueText) {
    auto* f = new TFader(parent);
    f->setValue(position);
    f->setFixedWidth(40);
    f->setMinimumHeight(100);
    f->setMaximumHeight(340);
    f->ValueText = std::move(valueText);
    return f;
}

// A scroll area that asks for all of its contents' height (Qt's own asks for at most 24 lines).
class TWholeScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const QSize inner = widget() != nullptr ? widget()->size() : QSize();
        return inner + QSize(2 * frameWidth(), 2 * frameWidth());
    }
};

// A loudspeaker drawn in the label's text colour.
QPixmap Loudspeaker(const QColor& colour) {
    QPixmap pm(20, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const QPointF body[] = {{1, 5}, {5, 5}, {10, 1}, {10, 15}, {5, 11}, {1, 11}};
    p.drawPolygon(body, 6);
    p.setPen(QPen(colour, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 4, 6, 8), -60 * 16, 120 * 16);
    p.drawArc(QRectF(8, 1, 10, 14), -60 * 16, 120 * 16);
    return pm;
}

} // namespace

void TMainWindow::BuildParametersPanel() {
    QWidget* panel = parametersPanel_;
    QWidget* title = AddPanelTitle(panel, QStringLiteral("Parameters"), closeParametersLink_);
    closeParametersLink_->OnClick = [this] { ParametersBtnClick(); };

    // The settings above the faders scroll when the window is too short for them; the faders
    // and Apply below stay in sight at any height.
    auto* p = new QWidget;
    p->setObjectName(QStringLiteral("ParametersSettings"));
    AddLabel(p, QStringLiteral("Initial Frequency:"), 8, 11);
    initialFrequencyEdit_ = new QLineEdit(QStringLiteral("200"), p);
    initialFrequencyEdit_->setGeometry(112, 8, 64, 21);
    AddLabel(p, QStringLiteral("Hz"), 180, 11);
    noSoundWarning_ = AddWarnIcon(p, text::WarnNoSound, 200, 11);

    AddLabel(p, QStringLiteral("Repeat scale downwards"), 8, 37);
    repeatDownArrows_ = AddNumberBox(p, repeatDownEdit_, 150, 34, 28, 0, MaxRepeatCount, 0);
    AddLabel(p, QStringLiteral("time(s)"), 196, 37);
    AddLabel(p, QStringLiteral("Repeat scale upwards"), 8, 63);
    repeatUpArrows_ = AddNumberBox(p, repeatUpEdit_, 150, 60, 28, 0, MaxRepeatCount, 0);
    AddLabel(p, QStringLiteral("time(s)"), 196, 63);
    // A check box does not wrap its caption; the caption is a label beside it that toggles it.
    repeatEndsBox_ = new QCheckBox(p);
    repeatEndsBox_->setGeometry(8, 88, 20, 20);
    repeatEndsBox_->setAccessibleName(
        QStringLiteral("Repeat the first and last tones of the scale"));
    auto* repeatEnds =
        new TLinkLabel(QStringLiteral("Repeat the first and last tones of the scale"), p, false);
    repeatEnds->setWordWrap(true);
    repeatEnds->setCursor(Qt::ArrowCursor);
    repeatEnds->setGeometry(28, 86, 205, 30);
    repeatEnds->OnClick = [this] { repeatEndsBox_->toggle(); };
    repeatDownArrows_->OnChangingEx = [this](int v) {
        Instrument.Bank().SetRepeatDownCount(std::max(v, 0));
        return true;
    };
    repeatUpArrows_->OnChangingEx = [this](int v) {
        Instrument.Bank().SetRepeatUpCount(std::max(v, 0));
        return true;
    };
    connect(repeatEndsBox_, &QCheckBox::toggled, this,
            [this](bool on) { Instrument.Bank().SetRepeatEnds(on); });
    connect(repeatDownEdit_, &QLineEdit::textChanged, this, &TMainWindow::RepeatDownEditChange);
    connect(repeatUpEdit_, &QLineEdit::textChanged, this, &TMainWindow::RepeatUpEditChange);

    AddLabel(p, QStringLiteral("Object Type:"), 8, 119, true);
    objectGroup_ = new QButtonGroup(p);
    internalObject_ = new QRadioButton(QStringLiteral("Uniform Slender Bar"), p);
    internalObject_->setGeometry(8, 134, 200, 20);
    internalObject_->setChecked(true);
    modeWeightingLabel_ = AddLabel(p, QStringLiteral("Mode Weighting:"), 26, 157);
    modeWeightingSlider_ = new QSlider(Qt::Horizontal, p);
    modeWeightingSlider_->setRange(0, 11);
    modeWeightingSlider_->setValue(6);
    modeWeightingSlider_->setPageStep(1);
    modeWeightingSlider_->setTickPosition(QSlider::TicksBelow);
    modeWeightingSlider_->setGeometry(24, 172, 150, 26);
    modeWeightingFormula_ = AddLabel(p, QStringLiteral("1/n"), 182, 177);
    modeWeightingExponent_ = new QLabel(QStringLiteral("3"), p);
    QFont small = modeWeightingExponent_->font();
    small.setPointSize(6);
    modeWeightingExponent_->setFont(small);
    modeWeightingExponent_->setGeometry(200, 171, 24, 12);
    externalObject_ = new QRadioButton(QStringLiteral("Load from file:"), p);
    externalObject_->setGeometry(8, 202, 120, 20);
    modeFileWarning_ = AddWarnIcon(p, text::WarnModeFile, 130, 204);
    objectGroup_->addButton(internalObject_);
    objectGroup_->addButton(externalObject_);
    modeFilesCombo_ = new QComboBox(p);
    modeFilesCombo_->setGeometry(26, 224, 207, 22);
    modeFilesCombo_->setEditable(false);
    modeFilesCombo_->setMaxVisibleItems(11);
    modeFilesCombo_->setEnabled(false);
    connect(internalObject_, &QRadioButton::clicked, this, &TMainWindow::InternalObjectClick);
    connect(externalObject_, &QRadioButton::clicked, this, &TMainWindow::ExternalObjectClick);
    connect(externalObject_, &QRadioButton::toggled, this,
            [this](bool on) { Instrument.Bank().SetExternalObject(on); });
    connect(modeFilesCombo_, &QComboBox::activated, this, &TMainWindow::ModeFilesComboSelect);
    // The entry shown names the object, even when it was not read from the list.
    connect(modeFilesCombo_, &QComboBox::currentIndexChanged, this,
            [this](int index) { Instrument.ModeFiles().Select(index - 1); });
    connect(modeWeightingSlider_, &QSlider::valueChanged, this, &TMainWindow::ModeWeightingChange);

    AddLabel(p, QStringLiteral("Ends:"), 8, 256, true);
    endTypeGroup_ = new QButtonGroup(p);
    endFreeRadio_ = new QRadioButton(QString::fromUtf8(text::EndFree), p);
    endFixedRadio_ = new QRadioButton(QString::fromUtf8(text::EndFixed), p);
    endHingedRadio_ = new QRadioButton(QString::fromUtf8(text::EndHinged), p);
    int y = 272;
    for (QRadioButton* r : {endFreeRadio_, endFixedRadio_, endHingedRadio_}) {
        r->setGeometry(8, y, 200, 20);
        endTypeGroup_->addButton(r);
        y += 20;
    }
    endFreeRadio_->setChecked(true);
    connect(endTypeGroup_, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool on) {
        if (on) {
            Instrument.Bank().SetEnd(CheckedEndType());
        }
    });

    AddLabel(p, QStringLiteral("Vibration Mode Limit:"), 8, 340);
    modeLimitArrows_ = AddNumberBox(p, modeLimitEdit_, 136, 337, 36, 1, 100, 8);
    modeLimitArrows_->OnChangingEx = [this](int v) {
        Instrument.Bank().SetModeLimit(std::max(v, 1));
        return true;
    };
    connect(modeLimitEdit_, &QLineEdit::textChanged, this, &TMainWindow::ModeLimitEditChange);

    // The MIDI keys: one per bar, or as a Scala keyboard mapping beside the scale says.
    AddLabel(p, QStringLiteral("Keyboard Mapping:"), 8, 368, true);
    kbmNameLabel_ = new QLabel(p);
    kbmNameLabel_->setGeometry(8, 386, 130, 18);
    openKbmLink_ = new TLinkLabel(QStringLiteral("Open..."), p);
    openKbmLink_->setGeometry(144, 386, 44, 18);
    openKbmLink_->setToolTip(QString::fromUtf8(text::OpenKbmHint));
    openKbmLink_->OnClick = [this] { OpenKbmClick(); };
    noKbmLink_ = new TLinkLabel(QStringLiteral("None"), p);
    noKbmLink_->setGeometry(196, 386, 36, 18);
    noKbmLink_->OnClick = [this] {
        Instrument.OpenKeyboardMapping(std::string());
        ShowKeyboardMapping();
    };
    ShowKeyboardMapping();
    p->setFixedSize(ParametersWidth, 410);

    parametersScroll_ = new TWholeScrollArea(panel);
    parametersScroll_->setFrameShape(QFrame::NoFrame);
    parametersScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    parametersScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    parametersScroll_->setWidget(p);
    parametersScroll_->setMinimumHeight(40);
    parametersScroll_->setMaximumHeight(p->height());
    parametersScroll_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // A scroll bar takes room beside the settings, not from them.
    connect(parametersScroll_->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            [this](int, int max) {
                const int bar = parametersScroll_->verticalScrollBar()->sizeHint().width();
                parametersPanel_->setFixedWidth(ParametersWidth + (max > 0 ? bar : 0));
            });

    auto* faders = new QWidget(panel);
    faders->setObjectName(QStringLiteral("ParametersFaders"));
    resonanceFader_ = AddFader(faders, ResonanceFaderStart, ResonanceText);
    resonanceReset_ = new TLinkLabel(QStringLiteral("Resonance"), faders, false);
    resonanceReset_->OnClick = [this] { Playing().ResonanceResetClick(); };
    connect(resonanceFader_, &QSlider::valueChanged, this,
            [this](int v) { Playing().SetResonanceFader(v); });

    masterFader_ = AddFader(faders, MasterFaderStart, MasterLevelText);
    masterLevelReset_ = new TLinkLabel(QString(), faders, false);
    masterLevelReset_->setPixmap(Loudspeaker(palette().color(QPalette::WindowText)));
    masterLevelReset_->setFixedSize(20, 16);
    masterLevelReset_->OnClick = [this] { MasterLevelResetClick(); };
    connect(masterFader_, &QSlider::valueChanged, this,
            [this](int v) { Instrument.Settings().SetMasterLevel(v); });

    applyParametersBtn_ = new QPushButton(QStringLiteral("Apply"), faders);
    QFont bold = applyParametersBtn_->font();
    bold.setBold(true);
    applyParametersBtn_->setFont(bold);
    applyParametersBtn_->setFixedSize(std::max(81, applyParametersBtn_->sizeHint().width()),
                                      std::max(27, applyParametersBtn_->sizeHint().height()));
    connect(applyParametersBtn_, &QPushButton::clicked, this,
            &TMainWindow::ApplyParametersBtnClick);

    // Resonance on the left, the master level on the right, each with its reset under it.
    auto* grid = new QGridLayout(faders);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setVerticalSpacing(4);
    grid->addWidget(resonanceFader_, 0, 0, Qt::AlignHCenter);
    grid->addWidget(masterFader_, 0, 1, Qt::AlignHCenter);
    grid->addWidget(resonanceReset_, 1, 0, Qt::AlignHCenter);
    grid->addWidget(masterLevelReset_, 1, 1, Qt::AlignHCenter);
    grid->addWidget(applyParametersBtn_, 2, 0, 1, 2, Qt::AlignHCenter);
    grid->setRowStretch(0, 1);
    grid->setRowMinimumHeight(2, applyParametersBtn_->height() + 8);
    // Beyond the faders' longest travel the room goes below Apply.
    faders->setMaximumHeight(grid->contentsMargins().top() + 340 + 4 + 20 + 4 +
                             applyParametersBtn_->height() + 8 + grid->contentsMargins().bottom());

    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(title);
    column->addWidget(parametersScroll_);
    // Extra height lengthens the faders first, up to their longest travel.
    column->addWidget(faders, 4);
    column->addStretch(1);
}

} // namespace varko
