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
    QWidget* panel = ParametersPanel;
    QWidget* title = AddPanelTitle(panel, QStringLiteral("Parameters"), CloseParametersLink);
    CloseParametersLink->OnClick = [this] { ParametersBtnClick(); };

    // The settings above the faders scroll when the window is too short for them; the faders
    // and Apply below stay in sight at any height.
    auto* p = new QWidget;
    p->setObjectName(QStringLiteral("ParametersSettings"));
    AddLabel(p, QStringLiteral("Initial Frequency:"), 8, 11);
    InitialFrequencyEdit = new QLineEdit(QStringLiteral("200"), p);
    InitialFrequencyEdit->setGeometry(112, 8, 64, 21);
    AddLabel(p, QStringLiteral("Hz"), 180, 11);
    NoSoundWarning = AddWarnIcon(p, text::WarnNoSound, 200, 11);

    AddLabel(p, QStringLiteral("Repeat scale downwards"), 8, 37);
    RepeatDownArrows = AddNumberBox(p, RepeatDownEdit, 150, 34, 28, 0, MaxRepeatCount, 0);
    AddLabel(p, QStringLiteral("time(s)"), 196, 37);
    AddLabel(p, QStringLiteral("Repeat scale upwards"), 8, 63);
    RepeatUpArrows = AddNumberBox(p, RepeatUpEdit, 150, 60, 28, 0, MaxRepeatCount, 0);
    AddLabel(p, QStringLiteral("time(s)"), 196, 63);
    // A check box does not wrap its caption; the caption is a label beside it that toggles it.
    RepeatEndsBox = new QCheckBox(p);
    RepeatEndsBox->setGeometry(8, 88, 20, 20);
    RepeatEndsBox->setAccessibleName(
        QStringLiteral("Repeat the first and last tones of the scale"));
    auto* repeatEnds =
        new TLinkLabel(QStringLiteral("Repeat the first and last tones of the scale"), p, false);
    repeatEnds->setWordWrap(true);
    repeatEnds->setCursor(Qt::ArrowCursor);
    repeatEnds->setGeometry(28, 86, 205, 30);
    repeatEnds->OnClick = [this] { RepeatEndsBox->toggle(); };
    RepeatDownArrows->OnChangingEx = [this](int v) {
        Instrument.Bank().SetRepeatDownCount(std::max(v, 0));
        return true;
    };
    RepeatUpArrows->OnChangingEx = [this](int v) {
        Instrument.Bank().SetRepeatUpCount(std::max(v, 0));
        return true;
    };
    connect(RepeatEndsBox, &QCheckBox::toggled, this,
            [this](bool on) { Instrument.Bank().SetRepeatEnds(on); });
    connect(RepeatDownEdit, &QLineEdit::textChanged, this, &TMainWindow::RepeatDownEditChange);
    connect(RepeatUpEdit, &QLineEdit::textChanged, this, &TMainWindow::RepeatUpEditChange);

    AddLabel(p, QStringLiteral("Object Type:"), 8, 119, true);
    ObjectGroup = new QButtonGroup(p);
    InternalObject = new QRadioButton(QStringLiteral("Uniform Slender Bar"), p);
    InternalObject->setGeometry(8, 134, 200, 20);
    InternalObject->setChecked(true);
    ModeWeightingLabel = AddLabel(p, QStringLiteral("Mode Weighting:"), 26, 157);
    ModeWeightingSlider = new QSlider(Qt::Horizontal, p);
    ModeWeightingSlider->setRange(0, 11);
    ModeWeightingSlider->setValue(6);
    ModeWeightingSlider->setPageStep(1);
    ModeWeightingSlider->setTickPosition(QSlider::TicksBelow);
    ModeWeightingSlider->setGeometry(24, 172, 150, 26);
    ModeWeightingFormula = AddLabel(p, QStringLiteral("1/n"), 182, 177);
    ModeWeightingExponent = new QLabel(QStringLiteral("3"), p);
    QFont small = ModeWeightingExponent->font();
    small.setPointSize(6);
    ModeWeightingExponent->setFont(small);
    ModeWeightingExponent->setGeometry(200, 171, 24, 12);
    ExternalObject = new QRadioButton(QStringLiteral("Load from file:"), p);
    ExternalObject->setGeometry(8, 202, 120, 20);
    ModeFileWarning = AddWarnIcon(p, text::WarnModeFile, 130, 204);
    ObjectGroup->addButton(InternalObject);
    ObjectGroup->addButton(ExternalObject);
    ModeFilesCombo = new QComboBox(p);
    ModeFilesCombo->setGeometry(26, 224, 207, 22);
    ModeFilesCombo->setEditable(false);
    ModeFilesCombo->setMaxVisibleItems(11);
    ModeFilesCombo->setEnabled(false);
    connect(InternalObject, &QRadioButton::clicked, this, &TMainWindow::InternalObjectClick);
    connect(ExternalObject, &QRadioButton::clicked, this, &TMainWindow::ExternalObjectClick);
    connect(ExternalObject, &QRadioButton::toggled, this,
            [this](bool on) { Instrument.Bank().SetExternalObject(on); });
    connect(ModeFilesCombo, &QComboBox::activated, this, &TMainWindow::ModeFilesComboSelect);
    // The entry shown names the object, even when it was not read from the list.
    connect(ModeFilesCombo, &QComboBox::currentIndexChanged, this,
            [this](int index) { Instrument.ModeFiles().Select(index - 1); });
    connect(ModeWeightingSlider, &QSlider::valueChanged, this, &TMainWindow::ModeWeightingChange);

    AddLabel(p, QStringLiteral("Ends:"), 8, 256, true);
    EndTypeGroup = new QButtonGroup(p);
    EndFreeRadio = new QRadioButton(QString::fromUtf8(text::EndFree), p);
    EndFixedRadio = new QRadioButton(QString::fromUtf8(text::EndFixed), p);
    EndHingedRadio = new QRadioButton(QString::fromUtf8(text::EndHinged), p);
    int y = 272;
    for (QRadioButton* r : {EndFreeRadio, EndFixedRadio, EndHingedRadio}) {
        r->setGeometry(8, y, 200, 20);
        EndTypeGroup->addButton(r);
        y += 20;
    }
    EndFreeRadio->setChecked(true);
    connect(EndTypeGroup, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool on) {
        if (on) {
            Instrument.Bank().SetEnd(CheckedEndType());
        }
    });

    AddLabel(p, QStringLiteral("Vibration Mode Limit:"), 8, 340);
    ModeLimitArrows = AddNumberBox(p, ModeLimitEdit, 136, 337, 36, 1, 100, 8);
    ModeLimitArrows->OnChangingEx = [this](int v) {
        Instrument.Bank().SetModeLimit(std::max(v, 1));
        return true;
    };
    connect(ModeLimitEdit, &QLineEdit::textChanged, this, &TMainWindow::ModeLimitEditChange);

    // The MIDI keys: one per bar, or as a Scala keyboard mapping beside the scale says.
    AddLabel(p, QStringLiteral("Keyboard Mapping:"), 8, 368, true);
    KbmNameLabel = new QLabel(p);
    KbmNameLabel->setGeometry(8, 386, 130, 18);
    OpenKbmLink = new TLinkLabel(QStringLiteral("Open..."), p);
    OpenKbmLink->setGeometry(144, 386, 44, 18);
    OpenKbmLink->setToolTip(QString::fromUtf8(text::OpenKbmHint));
    OpenKbmLink->OnClick = [this] { OpenKbmClick(); };
    NoKbmLink = new TLinkLabel(QStringLiteral("None"), p);
    NoKbmLink->setGeometry(196, 386, 36, 18);
    NoKbmLink->OnClick = [this] {
        Instrument.OpenKeyboardMapping(std::string());
        ShowKeyboardMapping();
    };
    ShowKeyboardMapping();
    p->setFixedSize(ParametersWidth, 410);

    ParametersScroll = new TWholeScrollArea(panel);
    ParametersScroll->setFrameShape(QFrame::NoFrame);
    ParametersScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ParametersScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ParametersScroll->setWidget(p);
    ParametersScroll->setMinimumHeight(40);
    ParametersScroll->setMaximumHeight(p->height());
    ParametersScroll->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // A scroll bar takes room beside the settings, not from them.
    connect(ParametersScroll->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            [this](int, int max) {
                const int bar = ParametersScroll->verticalScrollBar()->sizeHint().width();
                ParametersPanel->setFixedWidth(ParametersWidth + (max > 0 ? bar : 0));
            });

    auto* faders = new QWidget(panel);
    faders->setObjectName(QStringLiteral("ParametersFaders"));
    ResonanceFader = AddFader(faders, ResonanceFaderStart, ResonanceText);
    ResonanceReset = new TLinkLabel(QStringLiteral("Resonance"), faders, false);
    ResonanceReset->OnClick = [this] { Playing().ResonanceResetClick(); };
    connect(ResonanceFader, &QSlider::valueChanged, this,
            [this](int v) { Playing().SetResonanceFader(v); });

    MasterFader = AddFader(faders, MasterFaderStart, MasterLevelText);
    MasterLevelReset = new TLinkLabel(QString(), faders, false);
    MasterLevelReset->setPixmap(Loudspeaker(palette().color(QPalette::WindowText)));
    MasterLevelReset->setFixedSize(20, 16);
    MasterLevelReset->OnClick = [this] { MasterLevelResetClick(); };
    connect(MasterFader, &QSlider::valueChanged, this,
            [this](int v) { Instrument.Settings().SetMasterLevel(v); });

    ApplyParametersBtn = new QPushButton(QStringLiteral("Apply"), faders);
    QFont bold = ApplyParametersBtn->font();
    bold.setBold(true);
    ApplyParametersBtn->setFont(bold);
    ApplyParametersBtn->setFixedSize(std::max(81, ApplyParametersBtn->sizeHint().width()),
                                     std::max(27, ApplyParametersBtn->sizeHint().height()));
    connect(ApplyParametersBtn, &QPushButton::clicked, this, &TMainWindow::ApplyParametersBtnClick);

    // Resonance on the left, the master level on the right, each with its reset under it.
    auto* grid = new QGridLayout(faders);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setVerticalSpacing(4);
    grid->addWidget(ResonanceFader, 0, 0, Qt::AlignHCenter);
    grid->addWidget(MasterFader, 0, 1, Qt::AlignHCenter);
    grid->addWidget(ResonanceReset, 1, 0, Qt::AlignHCenter);
    grid->addWidget(MasterLevelReset, 1, 1, Qt::AlignHCenter);
    grid->addWidget(ApplyParametersBtn, 2, 0, 1, 2, Qt::AlignHCenter);
    grid->setRowStretch(0, 1);
    grid->setRowMinimumHeight(2, ApplyParametersBtn->height() + 8);
    // Beyond the faders' longest travel the room goes below Apply.
    faders->setMaximumHeight(grid->contentsMargins().top() + 340 + 4 + 20 + 4 +
                             ApplyParametersBtn->height() + 8 + grid->contentsMargins().bottom());

    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(title);
    column->addWidget(ParametersScroll);
    // Extra height lengthens the faders first, up to their longest travel.
    column->addWidget(faders, 4);
    column->addStretch(1);
}

} // namespace varko
